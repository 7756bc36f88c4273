#include "app/form1.h"
#include "app/indicator.h"
#include "app/listcombobox.h"
#include "app/valuecheckbox.h"
#include "settings/options.h"
#include "settings/settingsstore.h"
#include "tests/form1controls.h"
#include "tests/testsupport.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QWindow>

namespace {

// Answers every modal message box with OK, noting what it said. `whileOpen` runs once while
// the first box is up, as events from the host would.
class ModalBoxes : public QObject
{
public:
    ModalBoxes()
    {
        connect(&m_poll, &QTimer::timeout, this, &ModalBoxes::check);
        m_poll.start(10);
    }

    QStringList texts;
    QStringList reasons; // each box's informative text
    std::function<void()> whileOpen;

private:
    void check()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        // Answered before anything is judged: a failed check must fail the test, not leave
        // the box waiting for an OK that never comes.
        const bool modal = box->isModal();
        const QString title = box->windowTitle();
        const QMessageBox::Icon icon = box->icon();
        const QMessageBox::StandardButtons buttons = box->standardButtons();
        texts << box->text();
        reasons << box->informativeText();
        if (whileOpen)
            std::exchange(whileOpen, nullptr)();
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
        QVERIFY(modal);
        QCOMPARE(title, "zolvek-ptt");
        QCOMPARE(icon, QMessageBox::NoIcon);
        QCOMPARE(buttons, QMessageBox::Ok);
    }

    QTimer m_poll;
};

QString stored(const SettingKey &setting, const QString &fallback = "<none>")
{
    return GetSetting(setting, fallback);
}

} // namespace

class TestEditing : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void notReadyChangesNothing();
    void choosingAPort_data();
    void choosingAPort();
    void choosingTheSamePortReopens();
    void everyKeystrokeAppliedAndStored();
    void refusedTextReportedOnLeaving();
    void leavingWithNothingStored();
    void leavingWithFailingPort_data();
    void leavingWithFailingPort();
    void windowDeactivationIsNotLeaving();
    void hostRequestWhileMessageOpen();
    void runMinimizedStoredOnly();
    void onTopStoredAndApplied();
    void silentRadioHoldsNothing();

private:
    void loadForm();
    void focusText();
    void leaveText();

    std::shared_ptr<FakePortLog> m_log;
    std::unique_ptr<Form1> m_form;
};

void TestEditing::init()
{
    testStore().reset();
    m_log = std::make_shared<FakePortLog>();
}

void TestEditing::cleanup()
{
    m_form.reset();
}

void TestEditing::loadForm()
{
    m_form = std::make_unique<Form1>(fakePortFactory(m_log));
    m_form->Form_Load();
    m_form->show();
    QApplication::setActiveWindow(m_form.get());
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    m_form->Command1_Click(); // open the panel
    QVERIFY(startupFramesSent(*m_log));
    m_log->take();
}

void TestEditing::focusText()
{
    Text1(*m_form)->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(Text1(*m_form)->hasFocus());
}

void TestEditing::leaveText()
{
    Combo1(*m_form)->setFocus(Qt::TabFocusReason);
}

void TestEditing::notReadyChangesNothing()
{
    Form1 form(fakePortFactory(m_log));
    const QByteArray before = testStore().readRaw();
    Combo1(form)->setListIndex(2);
    Text1(form)->setText("1200,e,7,1");
    QVERIFY(m_log->actions.isEmpty());
    QCOMPARE(testStore().readRaw(), before);
    QVERIFY(!comport(form).PortOpen());
}

void TestEditing::choosingAPort_data()
{
    QTest::addColumn<int>("listIndex");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("storedPort");
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("message");
    // Lines dropped before the close; after the open, lines low and the radio's CAT on.
    const auto reopened = [](const QString &close, const QString &device) {
        return QStringList{"rts 0", "dtr 0",           close, "open " + device, "dtr 0",
                           "rts 0", "write 0000000000"};
    };
    QTest::newRow("COM3") << 2 << "" << reopened("close", "DIR/missing-com3") << "3" << true
                          << false;
    QTest::newRow("COM4, open fails")
        << 3 << "open" << QStringList{"rts 0", "dtr 0", "close", "failed open"} << "4" << false
        << true;
    QTest::newRow("COM2, close fails")
        << 1 << "close" << reopened("failed close", "DIR/missing-com2") << "2" << true << true;
    // No selection asks for port 0, which the port refuses: the old number is stored again.
    QTest::newRow("no selection") << -1 << "" << reopened("close", "DIR/missing-com1") << "1"
                                  << true << true;
}

void TestEditing::choosingAPort()
{
    QFETCH(int, listIndex);
    QFETCH(QString, failure);
    QFETCH(QStringList, actions);
    QFETCH(QString, storedPort);
    QFETCH(bool, open);
    QFETCH(bool, message);
    loadForm();
    m_log->failOpen = failure == "open";
    m_log->failClose = failure == "close";
    ModalBoxes boxes;
    Combo1(*m_form)->setListIndex(listIndex);
    QStringList seen;
    for (const QString &action : m_log->take())
        seen << action.section(' ', 0, 1).replace(testStore().configHome(), "DIR");
    QCOMPARE(seen, actions);
    QCOMPARE(stored(Options::ComPort), storedPort);
    QCOMPARE(comport(*m_form).PortOpen(), open);
    QCOMPARE(boxes.texts, message ? QStringList{"Com port error"} : QStringList{});
    if (message) // the port's own words beneath
        QVERIFY2(boxes.reasons.first().contains(failure.isEmpty()
                                                    ? QString("Invalid port number")
                                                    : QString("fake " + failure + " failed")),
                 qPrintable(boxes.reasons.first()));
}

void TestEditing::choosingTheSamePortReopens()
{
    loadForm();
    Q_EMIT Combo1(*m_form)->activated(0); // the user picks COM1 again
    QCOMPARE(m_log->take().filter(QRegularExpression("^(close|open|write 0000000000)")).size(),
             3); // closed, opened, the radio's CAT on
    QVERIFY(comport(*m_form).PortOpen());
}

void TestEditing::everyKeystrokeAppliedAndStored()
{
    loadForm();
    focusText();
    Text1(*m_form)->selectAll();
    ModalBoxes boxes;
    QStringList storedAfterEach;
    connect(Text1(*m_form), &QLineEdit::textChanged,
            [&] { storedAfterEach << stored(Options::Settings); });
    QTest::keyClicks(Text1(*m_form), "9600,e,7,1");
    QCOMPARE(storedAfterEach.size(), 10);
    QCOMPARE(storedAfterEach.first(), "9");
    QCOMPARE(storedAfterEach.last(), "9600,e,7,1");
    const QStringList opens = m_log->actions.filter("open");
    QCOMPARE(opens.size(), 10);
    QVERIFY(opens.first().contains(" 4800,n,8,2 ")); // "9" refused: the previous settings
    QVERIFY(opens.last().contains(" 9600,e,7,1 "));
    QCOMPARE(comport(*m_form).Settings(), "9600,e,7,1");
    QVERIFY(boxes.texts.isEmpty()); // nothing said while typing
}

void TestEditing::refusedTextReportedOnLeaving()
{
    loadForm();
    focusText();
    ModalBoxes boxes;
    Text1(*m_form)->setText("4800,x,8,2");
    QCOMPARE(stored(Options::Settings), "4800,x,8,2");
    QVERIFY(boxes.texts.isEmpty());
    QVERIFY(m_log->take().filter("open").last().contains(" 4800,n,8,2 "));
    // The port is open again while the box shows: a host's transmit reaches the radio.
    boxes.whileOpen = [&] {
        m_form->ptt(0, 1);
    };
    leaveText();
    QCOMPARE(boxes.texts, QStringList{"Invalid comport settings"});
    // The port was closed and opened again with the settings it had, before the box.
    QTRY_VERIFY(m_log->actions.contains("write 0100000007"));
    const QStringList actions = m_log->take();
    QCOMPARE(actions.mid(0, 3), (QStringList{"rts 0", "dtr 0", "close"}));
    QVERIFY(actions[3].contains(" 4800,n,8,2 "));
    QVERIFY(actions.indexOf("write 0000000000") < actions.indexOf("write 0100000007"));
    QCOMPARE(actions.last(), "write 0100000007");
}

void TestEditing::leavingWithNothingStored()
{
    loadForm();
    testStore().reset(); // a first run: the untouched settings are no error
    focusText();
    ModalBoxes boxes;
    leaveText();
    QCOMPARE(boxes.texts, QStringList{});
    QVERIFY(comport(*m_form).PortOpen());
    QCOMPARE(comport(*m_form).Settings(), "4800,n,8,2");
}

void TestEditing::leavingWithFailingPort_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<bool>("message");
    QTest::addColumn<bool>("open");
    QTest::newRow("all well") << "" << false << true;
    QTest::newRow("close fails") << "close" << true << true;
    QTest::newRow("reopen fails, said nothing") << "open" << false << false;
}

void TestEditing::leavingWithFailingPort()
{
    QFETCH(QString, failure);
    QFETCH(bool, message);
    QFETCH(bool, open);
    loadForm();
    SaveSetting(Options::Settings, "1200,e,7,1");
    focusText();
    m_log->failClose = failure == "close";
    m_log->failOpen = failure == "open";
    ModalBoxes boxes;
    leaveText();
    QCOMPARE(boxes.texts, message ? QStringList{"Invalid comport settings"} : QStringList{});
    QCOMPARE(comport(*m_form).PortOpen(), open);
    QCOMPARE(comport(*m_form).Settings(), "1200,e,7,1"); // the stored text, not the box's
}

void TestEditing::windowDeactivationIsNotLeaving()
{
    loadForm();
    focusText();
    m_log->take();
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(Text1(*m_form), &away);
    QVERIFY(m_log->actions.isEmpty());
}

void TestEditing::hostRequestWhileMessageOpen()
{
    loadForm();
    m_log->failOpen = true;
    ModalBoxes boxes;
    bool handled = false;
    boxes.whileOpen = [&] {
        // The port is closed while "Com port error" waits for OK; a host request comes in.
        m_form->ptt(0, 1);
        handled = true;
        QCOMPARE(Shape1(*m_form)->FillColor(), QColor(0, 255, 0));
        QVERIFY(portErrorBox(*m_form));
    };
    Combo1(*m_form)->setListIndex(1);
    QVERIFY(handled);
    QCOMPARE(boxes.texts, QStringList{"Com port error"});
    QVERIFY(!comport(*m_form).PortOpen());
}

void TestEditing::runMinimizedStoredOnly()
{
    loadForm();
    QTest::mouseClick(Check1(*m_form), Qt::LeftButton);
    QCOMPARE(stored(Options::Min), "1");
    QVERIFY(!(m_form->windowState() & Qt::WindowMinimized));
    QTest::mouseClick(Check1(*m_form), Qt::LeftButton);
    QCOMPARE(stored(Options::Min), "0");
}

void TestEditing::onTopStoredAndApplied()
{
    loadForm();
    const auto onTop = [&] {
        return bool(m_form->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    };
    QVERIFY(!onTop());
    QTest::mouseClick(Check2(*m_form), Qt::LeftButton);
    QCOMPARE(stored(Options::Top), "1");
    QVERIFY(onTop());
    QVERIFY(m_form->isVisible());
    QTest::mouseClick(Check2(*m_form), Qt::LeftButton);
    QCOMPARE(stored(Options::Top), "0");
    QVERIFY(!onTop());
    Check2(*m_form)->setValue(2); // greyed counts as not on top
    QCOMPARE(stored(Options::Top), "2");
    QVERIFY(!onTop());
}

// A radio that accepts but never answers holds neither the window nor the host: a 100 ms timer
// keeps ticking through start-up and typing, and the failure is said once, when it is known.
void TestEditing::silentRadioHoldsNothing()
{
    QTcpServer silent; // accepts in the kernel, never says a word
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    testStore().mapPort(1, QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.serverPort()));
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
    ticker.start(100);
    QElapsedTimer clock;
    clock.start();
    m_form = std::make_unique<Form1>(safePortFactory());
    m_form->Form_Load();
    const qint64 startUp = clock.elapsed();
    QVERIFY2(startUp < 1000, qPrintable(QString::number(startUp)));
    m_form->show();
    m_form->Command1_Click();
    focusText();
    Text1(*m_form)->selectAll();
    QTest::keyClicks(Text1(*m_form), "9600,n,8,1");
    QTRY_VERIFY_WITH_TIMEOUT(portErrorBox(*m_form), 5000);
    qInfo("silent radio: start-up %lld ms; %d ticks of a 100 ms timer in %lld ms", startUp, ticks,
          clock.elapsed());
    QVERIFY2(ticks >= clock.elapsed() / 200,
             qPrintable(QString("%1 ticks in %2 ms").arg(ticks).arg(clock.elapsed())));
    QCOMPARE(m_form->findChildren<QMessageBox *>().size(), 1);
}

ZOLVEK_TEST_MAIN(TestEditing, true)
#include "test_editing.moc"
