#include "app/clicklabel.h"
#include "app/form1.h"
#include "app/indicator.h"
#include "app/listcombobox.h"
#include "app/valuecheckbox.h"
#include "settings/options.h"
#include "settings/settingsstore.h"
#include "tests/form1controls.h"
#include "tests/testsupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>

namespace {

QStringList startupActions(const QString &device, const QString &settings)
{
    return {QStringLiteral("open %1 %2 dtr=0 rts=0").arg(device, settings), "dtr 0", "rts 0",
            "write 0000000000", "write 0300000007"};
}

QRect twipsRect(const Form1 &form, const QWidget *control)
{
    const QRect px = control->geometry();
    return QRect(qRound(form.toTwips(px.x())), qRound(form.toTwips(px.y())),
                 qRound(form.toTwips(px.width())), qRound(form.toTwips(px.height())));
}

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void layout();
    void controlsAsLaidOut_data();
    void controlsAsLaidOut();
    void focusOrder();
    void firstRun();
    void storedPort_data();
    void storedPort();
    void refusedSettingsText();
    void storedCheckBoxes_data();
    void storedCheckBoxes();
    void portThatCannotOpen();
    void labelCoversIndicator();
    void portList();
    void panelOpensAndCloses();
    void collapsedPanelUnreachableByKeyboard();

private:
    std::unique_ptr<Form1> loadedForm();
    std::shared_ptr<FakePortLog> m_log;
};

void TestForm1::init()
{
    testStore().reset();
    m_log = std::make_shared<FakePortLog>();
}

std::unique_ptr<Form1> TestForm1::loadedForm()
{
    auto form = std::make_unique<Form1>(fakePortFactory(m_log));
    form->Form_Load();
    return form;
}

void TestForm1::layout()
{
    Form1 form(fakePortFactory(m_log));
    QCOMPARE(form.windowTitle(), "ZOLVEK Yaesu  FT-847 PTT V1");
    QCOMPARE(qRound(form.toTwips(form.height())), Form1::InnerHeightTwips);
    QCOMPARE(qRound(form.toTwips(form.width())), Form1::LaidOutInnerWidthTwips);
    QCOMPARE(form.minimumSize(), form.maximumSize()); // fixed frame
    QCOMPARE(Shape1(form)->FillColor(), QColor(0, 255, 0));
    QStringList items;
    for (int i = 0; i < Combo1(form)->count(); ++i)
        items << Combo1(form)->itemText(i);
    QCOMPARE(items, (QStringList{"COM1", "COM2", "COM3", "COM4"}));
    QVERIFY(!Combo1(form)->isEditable());
    QCOMPARE(Combo1(form)->ListIndex(), -1);
    QCOMPARE(Label1(form)->buddy(), Combo1(form));
    QCOMPARE(Label2(form)->buddy(), Text1(form));
    QVERIFY(!form.FormReady());
}

void TestForm1::controlsAsLaidOut_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("Shape1") << "Shape1" << QRect(285, 240, 615, 495) << ""
                            << "" << true;
    QTest::newRow("Label3") << "Label3" << QRect(120, 360, 855, 495) << ""
                            << "Turns red on TX; Click to toggle TX state" << true;
    QTest::newRow("Command1") << "Command1" << QRect(105, 1080, 975, 375) << "&More>>"
                              << "Click to set options" << true;
    QTest::newRow("Combo1") << "Combo1" << QRect(1560, 240, 1215, 315) << ""
                            << "Set COM port for radio" << false;
    QTest::newRow("Text1") << "Text1" << QRect(1560, 840, 2295, 285) << "Text1"
                           << "Enter baud rate, parity, bits, stop bits" << false;
    QTest::newRow("Check1") << "Check1" << QRect(1560, 1200, 1335, 255) << "Run Mi&nimized"
                            << "Always run minimized" << false;
    QTest::newRow("Check2") << "Check2" << QRect(3120, 1200, 615, 255) << "&Top"
                            << "Always on top of other windows" << false;
}

void TestForm1::controlsAsLaidOut()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    QFETCH(QString, caption);
    QFETCH(QString, toolTip);
    QFETCH(bool, enabled);
    Form1 form(fakePortFactory(m_log));
    const QHash<QString, QWidget *> controls{{"Shape1", Shape1(form)},     {"Label3", Label3(form)},
                                             {"Command1", Command1(form)}, {"Combo1", Combo1(form)},
                                             {"Text1", Text1(form)},       {"Check1", Check1(form)},
                                             {"Check2", Check2(form)}};
    QWidget *control = controls.value(name);
    QRect laidOut = twipsRect(form, control);
    if (control == Check1(form)) {
        // It may grow to fit its caption in this machine's font, up to the on-top box.
        QVERIFY(laidOut.width() >= twips.width());
        QVERIFY(laidOut.right() < twipsRect(form, Check2(form)).left());
        laidOut.setWidth(twips.width());
    }
    QCOMPARE(laidOut, twips);
    QCOMPARE(control->toolTip(), toolTip);
    QCOMPARE(control->isEnabled(), enabled);
    if (auto button = qobject_cast<QAbstractButton *>(control))
        QCOMPARE(button->text(), caption);
    if (auto edit = qobject_cast<QLineEdit *>(control))
        QCOMPARE(edit->text(), caption);
}

void TestForm1::focusOrder()
{
    Form1 form(fakePortFactory(m_log));
    const QList<QWidget *> expected{Combo1(form), Text1(form), Check1(form), Command1(form),
                                    Check2(form)};
    QList<QWidget *> seen;
    QWidget *w = Combo1(form);
    do {
        if (expected.contains(w) && !seen.contains(w))
            seen << w;
        w = w->nextInFocusChain();
    } while (w != Combo1(form));
    QCOMPARE(seen, expected);
    QCOMPARE(Label3(form)->focusPolicy(), Qt::NoFocus);
}

void TestForm1::firstRun()
{
    const QByteArray before = testStore().readRaw();
    auto form = loadedForm();
    QVERIFY(form->FormReady());
    QCOMPARE(Text1(*form)->text(), "4800,n,8,2");
    QCOMPARE(Combo1(*form)->ListIndex(), 0);
    QCOMPARE(int(comport(*form).CommPort()), 1);
    QCOMPARE(comport(*form).Settings(), "4800,n,8,2");
    QCOMPARE(Check1(*form)->Value(), 0);
    QCOMPARE(Check2(*form)->Value(), 0);
    QVERIFY(!(form->windowState() & Qt::WindowMinimized));
    QCOMPARE(Shape1(*form)->FillColor(), QColor(0, 255, 0));
    QVERIFY(comport(*form).PortOpen());
    const QString com1 = testStore().configHome() + "/missing-com1";
    QTRY_COMPARE(m_log->actions, startupActions(com1, "4800,n,8,2"));
    QCOMPARE(testStore().readRaw(), before); // loading stores nothing
}

void TestForm1::storedPort_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("listIndex");
    QTest::addColumn<int>("port");
    QTest::newRow("COM3") << "3" << 2 << 3;
    QTest::newRow("COM4") << "4" << 3 << 4;
    QTest::newRow("blanks") << " 2 " << 1 << 2;
    QTest::newRow("not a number") << "abc" << -1 << 1;
    QTest::newRow("empty") << "" << -1 << 1;
    QTest::newRow("above the list") << "7" << -1 << 7;
    QTest::newRow("zero") << "0" << -1 << 1;
    QTest::newRow("negative") << "-1" << -1 << 1;
    QTest::newRow("past every port") << "99" << -1 << 1;
    QTest::newRow("too large") << "40000" << -1 << 1;
    // The list position goes through a double (2.5 - 1 = 1.5, rounds to 2), the port number
    // straight to an integer (2.5 rounds to 2).
    QTest::newRow("half") << "2.5" << 2 << 2;
    QTest::newRow("one point zero") << "1.0" << 0 << 1;
}

void TestForm1::storedPort()
{
    QFETCH(QString, stored);
    QFETCH(int, listIndex);
    QFETCH(int, port);
    SaveSetting(Options::ComPort, stored);
    auto form = loadedForm();
    QCOMPARE(Combo1(*form)->ListIndex(), listIndex);
    QCOMPARE(int(comport(*form).CommPort()), port);
    QVERIFY(form->FormReady());
    // The rest of the sequence ran: frames on whatever port was chosen.
    const QString device = testStore().configHome() + QStringLiteral("/missing-com%1").arg(port);
    QTRY_COMPARE(m_log->actions, startupActions(device, "4800,n,8,2"));
    QCOMPARE(GetSetting(Options::ComPort, "none"), stored);
}

void TestForm1::refusedSettingsText()
{
    SaveSetting(Options::Settings, "4800,x,8,2");
    auto form = loadedForm();
    QCOMPARE(Text1(*form)->text(), "4800,x,8,2");
    QCOMPARE(comport(*form).Settings(), "9600,n,8,1");
    const QString com1 = testStore().configHome() + "/missing-com1";
    QTRY_COMPARE(m_log->actions, startupActions(com1, "9600,n,8,1"));
    QCOMPARE(GetSetting(Options::Settings, ""), "4800,x,8,2");
}

void TestForm1::storedCheckBoxes_data()
{
    QTest::addColumn<QString>("min");
    QTest::addColumn<QString>("top");
    QTest::addColumn<int>("check1");
    QTest::addColumn<int>("check2");
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<QString>("minAfter"); // "-" when nothing is stored
    QTest::addColumn<QString>("topAfter");
    QTest::newRow("nothing stored") << "-"
                                    << "-" << 0 << 0 << false << "-"
                                    << "-";
    QTest::newRow("both ticked") << "1"
                                 << "1" << 1 << 1 << true << "1"
                                 << "1";
    QTest::newRow("one point zero") << "1.0"
                                    << "1.0" << 1 << 1 << true << "1"
                                    << "1";
    QTest::newRow("greyed top") << "0"
                                << "2" << 0 << 2 << false << "0"
                                << "2";
    QTest::newRow("greyed min") << "2"
                                << "0" << 2 << 0 << true << "2"
                                << "0";
    QTest::newRow("not numbers") << "yes"
                                 << "x" << 0 << 0 << false << "yes"
                                 << "x";
    QTest::newRow("out of range") << "5"
                                  << "-1" << 0 << 0 << false << "5"
                                  << "-1";
}

void TestForm1::storedCheckBoxes()
{
    QFETCH(QString, min);
    QFETCH(QString, top);
    QFETCH(int, check1);
    QFETCH(int, check2);
    QFETCH(bool, minimized);
    QFETCH(QString, minAfter);
    QFETCH(QString, topAfter);
    if (min != "-")
        SaveSetting(Options::Min, min);
    if (top != "-")
        SaveSetting(Options::Top, top);
    auto form = loadedForm();
    QCOMPARE(Check1(*form)->Value(), check1);
    QCOMPARE(Check2(*form)->Value(), check2);
    QCOMPARE(bool(form->windowState() & Qt::WindowMinimized), minimized);
    QCOMPARE(GetSetting(Options::Min, "-"), minAfter);
    QCOMPARE(GetSetting(Options::Top, "-"), topAfter);
    QTRY_COMPARE(m_log->actions.size(), 5); // the port came up all the same
}

void TestForm1::portThatCannotOpen()
{
    m_log->failOpen = true;
    auto form = loadedForm();
    QVERIFY(form->FormReady());
    QVERIFY(!comport(*form).PortOpen());
    QCOMPARE(m_log->actions, QStringList{"failed open"});
    QCOMPARE(Text1(*form)->text(), "4800,n,8,2");
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    // Not a green "ready" in silence: said once, with the port's own words, without waiting.
    QMessageBox *notice = portErrorBox(*form);
    QVERIFY(notice && !notice->isModal());
    QCOMPARE(notice->text(), "Com port error");
    QVERIFY2(notice->informativeText().contains("fake open failed"),
             qPrintable(notice->informativeText()));
    QVERIFY(notice->informativeText().contains(testStore().iniPath())); // where [Ports] is
}

// A stray wheel over the closed, unfocused port list switches nothing; each item names its device.
void TestForm1::portList()
{
    auto form = loadedForm();
    form->show();
    Command1(*form)->click();
    ListComboBox *list = Combo1(*form);
    QVERIFY(!list->hasFocus());
    QWheelEvent notch(QPointF(5, 5), list->mapToGlobal(QPointF(5, 5)), {}, QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(list, &notch);
    QCOMPARE(list->ListIndex(), 0);
    QCOMPARE(GetSetting(Options::ComPort, "none"), "none");
    QCOMPARE(list->itemText(2), "COM3");
    QCOMPARE(list->itemData(2, Qt::ToolTipRole).toString(),
             testStore().configHome() + "/missing-com3");
}

void TestForm1::labelCoversIndicator()
{
    auto form = loadedForm();
    QCOMPARE(Label3(*form)->geometry(), Shape1(*form)->geometry());
    QCOMPARE(form->childAt(Shape1(*form)->geometry().center()), Label3(*form));
    QVERIFY(!Label3(*form)->autoFillBackground());
}

void TestForm1::panelOpensAndCloses()
{
    auto form = loadedForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const int collapsed = form->width();
    // The strip holds the button with equal margins; every option control lies outside it.
    QCOMPARE(qRound(form->toTwips(collapsed) + form->BorderWidth()),
             qRound(2 * 105 + 975 + form->BorderWidth()));
    for (QWidget *option : QList<QWidget *>{Combo1(*form), Label1(*form), Label2(*form),
                                            Text1(*form), Check1(*form), Check2(*form)})
        QVERIFY(option->x() >= collapsed);

    const QList<QWidget *> options{Combo1(*form), Text1(*form), Check1(*form), Check2(*form)};
    int expanded = -1;
    for (int round = 0; round < 3; ++round) {
        QTest::mouseClick(Command1(*form), Qt::LeftButton);
        QCOMPARE(Command1(*form)->text(), "&Less<<");
        for (QWidget *option : options)
            QVERIFY(option->isEnabled());
        if (expanded < 0)
            expanded = form->width();
        QCOMPARE(form->width(), expanded);
        QVERIFY(Text1(*form)->geometry().right() < expanded);
        QCOMPARE(qRound(form->toTwips(expanded)), qRound(1560 + 2295 + form->BorderWidth()));

        QTest::mouseClick(Command1(*form), Qt::LeftButton);
        QCOMPARE(Command1(*form)->text(), "&More>>");
        for (QWidget *option : options)
            QVERIFY(!option->isEnabled());
        QCOMPARE(form->width(), collapsed);
    }
    QCOMPARE(qRound(form->toTwips(form->height())), Form1::InnerHeightTwips);
}

void TestForm1::collapsedPanelUnreachableByKeyboard()
{
    auto form = loadedForm();
    form->show();
    QApplication::setActiveWindow(form.get());
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    Command1(*form)->setFocus();
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), Command1(*form));
    }
    QTest::keyClick(form.get(), Qt::Key_N, Qt::AltModifier); // "Run Mi&nimized"
    QTest::qWait(300); // access keys click after a short animation
    QCOMPARE(Check1(*form)->Value(), 0);

    QTest::keyClick(form.get(), Qt::Key_M, Qt::AltModifier); // "&More>>"
    QTRY_COMPARE(Command1(*form)->text(), "&Less<<");
    QTest::keyClick(form.get(), Qt::Key_N, Qt::AltModifier);
    QTRY_COMPARE(Check1(*form)->Value(), 1);
    QTest::keyClick(form.get(), Qt::Key_S, Qt::AltModifier); // "&Settings:" moves to the text
    QCOMPARE(QApplication::focusWidget(), Text1(*form));
}

ZOLVEK_TEST_MAIN(TestForm1, true)
#include "test_form1.moc"
