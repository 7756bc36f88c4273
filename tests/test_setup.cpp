#include "app/portmenu.h"
#include "serial/serialdevices.h"
#include "settings/options.h"
#include "settings/settingsstore.h"
#include "tests/form1controls.h"
#include "tests/jsonprocess.h"
#include "tests/testsupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QTcpSocket>
#include <QTest>

// Setting the utility up from its window: the device list, mapping a port from the port list's
// menu, the Hamlib listener from the indicator's, and options refused where the operator looks.
class TestSetup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void deviceList_data();
    void deviceList();
    void mappingFromTheMenu_data();
    void mappingFromTheMenu();
    void listenerFromTheWindow();
    void portStateAtAGlance();
    void refusedTimeoutSaid_data();
    void refusedTimeoutSaid();

private:
    void loadForm();
    QAction *menuAction(const char *menu, const QString &text);

    std::shared_ptr<FakePortLog> m_log;
    std::unique_ptr<Form1> m_form;
};

void TestSetup::init()
{
    testStore().reset();
    m_log = std::make_shared<FakePortLog>();
}

void TestSetup::cleanup()
{
    m_form.reset();
}

void TestSetup::loadForm()
{
    m_form = std::make_unique<Form1>(fakePortFactory(m_log));
    m_form->Form_Load();
    m_form->show();
    m_form->Command1_Click(); // the panel open: the port list takes right-clicks
    QVERIFY(startupFramesSent(*m_log));
    m_log->take();
}

// The action of the window's context menu `menu` whose text starts with `text`.
QAction *TestSetup::menuAction(const char *menu, const QString &text)
{
    auto *shown = m_form->findChild<QMenu *>(QLatin1String(menu));
    if (!shown)
        return nullptr;
    for (QAction *action : shown->actions())
        if (action->text().startsWith(text))
            return action;
    return nullptr;
}

void TestSetup::deviceList_data()
{
    QTest::addColumn<QStringList>("nodes");  // "name" a device, "name>target" a link
    QTest::addColumn<QStringList>("listed"); // "path|description", path under the folder
    const QString ftdi = "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    QTest::newRow("none") << QStringList{"ttyS0", "tty0"} << QStringList{};
    QTest::newRow("by-id first, others by their device")
        << QStringList{"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS1", ftdi + ">../../ttyUSB0"}
        << QStringList{ftdi + "|FTDI FT232R USB UART A50285BI (ttyUSB0)",
                       "ttyACM0|USB serial device (ttyACM0)",
                       "ttyUSB1|USB serial device (ttyUSB1)"};
    QTest::newRow("a device unplugged since: its by-id name is gone from the list")
        << QStringList{"ttyACM0", "serial/by-id/usb-Yaesu_SCU-17-if00>../../ttyUSB3",
                       "serial/by-id/usb-Silicon_Labs_CP2102-if00-port0>../../ttyACM0"}
        << QStringList{"serial/by-id/usb-Silicon_Labs_CP2102-if00-port0|Silicon Labs CP2102 "
                       "(ttyACM0)"};
}

void TestSetup::deviceList()
{
    QFETCH(QStringList, nodes);
    QFETCH(QStringList, listed);
    QTemporaryDir dev;
    for (const QString &node : nodes) {
        const QString path = dev.filePath(node.section('>', 0, 0));
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (node.contains('>'))
            QVERIFY(QFile::link(node.section('>', 1), path));
        else
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    }
    QStringList seen;
    for (const SerialDevice &device : serialDevices(dev.path()))
        seen << QDir(dev.path()).relativeFilePath(device.path) + '|' + device.description;
    QCOMPARE(seen, listed);
}

void TestSetup::mappingFromTheMenu_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("choice"); // the menu's entry
    QTest::addColumn<QString>("typed");  // in the address dialog, if it asks
    QTest::addColumn<QString>("stored"); // COM<port> in [Ports] afterwards
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("notice");
    const QString missing2 = "DIR/missing-com2";
    // The port in use: lines dropped before it closes, opened (lines low) on the new address,
    // the radio's CAT interface turned on.
    QTest::newRow("network radio for the port in use")
        << 1 << "Network radio"
        << " 192.0.2.20:2217 "
        << "rfc2217://192.0.2.20:2217"
        << QStringList{"rts 0", "dtr 0", "close",           "open rfc2217://192.0.2.20:2217",
                       "dtr 0", "rts 0", "write 0000000000"}
        << "";
    QTest::newRow("an address that is not one changes nothing")
        << 1 << "Network radio"
        << "192.0.2.20"
        << "DIR/missing-com1" << QStringList{} << "NetworkRadioRefusedBox";
    // A store reached through a link is never written through it: the new device is used for
    // the run, as the notice says.
    QTest::newRow("store refuses the mapping")
        << 1 << "Network radio"
        << "192.0.2.21:2217"
        << "DIR/missing-com1"
        << QStringList{"rts 0", "dtr 0", "close",           "open rfc2217://192.0.2.21:2217",
                       "dtr 0", "rts 0", "write 0000000000"}
        << "SaveFailedBox";
    // Another COM number: stored, the radio's port left alone.
    QTest::newRow("default for a port not in use") << 2 << "Default"
                                                   << ""
                                                   << "<none>" << QStringList{} << "";
}

void TestSetup::mappingFromTheMenu()
{
    QFETCH(int, port);
    QFETCH(QString, choice);
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QFETCH(QStringList, actions);
    QFETCH(QString, notice);
    const QString file = testStore().configHome() + "/KELD/settings.ini";
    if (notice == "SaveFailedBox")
        QVERIFY(QFile::rename(file, file + ".real") && QFile::link(file + ".real", file));
    loadForm();
    Combo1(*m_form)->setCurrentIndex(port - 1); // selected, not chosen: the port stays COM1
    m_log->take();
    Q_EMIT Combo1(*m_form)->customContextMenuRequested(QPoint(2, 2));
    QAction *entry = menuAction("PortMenu", choice);
    QVERIFY(entry);
    entry->trigger();
    if (!typed.isEmpty()) {
        auto *dialog = m_form->findChild<QInputDialog *>("NetworkRadioDialog");
        QVERIFY(dialog);
        dialog->setTextValue(typed);
        dialog->accept();
    }
    QStringList seen;
    for (const QString &action : m_log->take())
        seen << action.section(' ', 0, 1);
    QCOMPARE(seen, actions);
    const QString dir = testStore().configHome();
    QCOMPARE(GetSetting(Options::PortMapping(port), "<none>").replace(dir, "DIR"), stored);
    if (!notice.isEmpty())
        QVERIFY(m_form->findChild<QMessageBox *>(notice));
    // A refused address is offered again as typed, to be mended.
    if (notice == "NetworkRadioRefusedBox") {
        const auto dialogs = m_form->findChildren<QInputDialog *>("NetworkRadioDialog");
        QVERIFY(std::any_of(dialogs.cbegin(), dialogs.cend(), [&](const QInputDialog *d) {
            return d->isVisible() && d->textValue() == typed;
        }));
    }
    QVERIFY(comport(*m_form).PortOpen());
}

// On from the indicator's menu, on the address asked for, and stored; the tool tip tells how
// many programs are connected; off releases what a client keyed.
void TestSetup::listenerFromTheWindow()
{
    loadForm();
    Q_EMIT Label3(*m_form)->customContextMenuRequested(QPoint(2, 2));
    QAction *where = menuAction("IndicatorMenu", "Listener &address");
    QVERIFY(where);
    where->trigger();
    auto *dialog = m_form->findChild<QInputDialog *>("ListenAddressDialog");
    QVERIFY(dialog);
    dialog->setTextValue("127.0.0.1:0");
    dialog->accept();
    QCOMPARE(GetSetting(Options::Listen, "<none>"), "127.0.0.1:0");
    const auto match = QRegularExpression("listener on 127.0.0.1:(\\d+): no program connected")
                           .match(Label3(*m_form)->toolTip());
    QVERIFY2(match.hasMatch(), qPrintable(Label3(*m_form)->toolTip()));

    // A slip in a new address: the notice says the listener stays where it was, and it does.
    Q_EMIT Label3(*m_form)->customContextMenuRequested(QPoint(2, 2));
    menuAction("IndicatorMenu", "Listener &address")->trigger();
    dialog = m_form->findChild<QInputDialog *>("ListenAddressDialog");
    QVERIFY(dialog);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no rigctl listener: 127.0.0.1:99999"));
    dialog->setTextValue("127.0.0.1:99999");
    dialog->accept();
    auto *box = m_form->findChild<QMessageBox *>("ListenFailedBox");
    QVERIFY(box);
    QVERIFY2(QRegularExpression("\nIt stays on 127.0.0.1:\\d+, as before.$")
                 .match(box->informativeText())
                 .hasMatch(),
             qPrintable(box->informativeText()));
    QVERIFY(Label3(*m_form)->toolTip().contains("Hamlib listener on 127.0.0.1:"));
    QCOMPARE(GetSetting(Options::Listen, "<none>"), "127.0.0.1:0");

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(match.captured(1).toUInt()));
    QVERIFY(client.waitForConnected(5000));
    client.write("T 1\n");
    QTRY_VERIFY_WITH_TIMEOUT(client.bytesAvailable() > 0, 10000);
    QCOMPARE(client.readAll(), "RPRT 0\n");
    QVERIFY(Label3(*m_form)->toolTip().endsWith(": 1 program connected"));
    QVERIFY(m_log->take().contains("dtr 1"));

    Q_EMIT Label3(*m_form)->customContextMenuRequested(QPoint(2, 2));
    QAction *onOff = menuAction("IndicatorMenu", "&Hamlib listener");
    QVERIFY(onOff && onOff->isChecked());
    onOff->trigger();
    QCOMPARE(GetSetting(Options::Listen, "<none>"), "");
    QCOMPARE(Label3(*m_form)->toolTip(), Form1::IndicatorTip);
    QVERIFY(m_log->take().contains("dtr 0"));
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 10000);
}

// No port open has a look of its own, never the green of receive, and the tool tip says the
// device, why, and whether it is being tried again.
void TestSetup::portStateAtAGlance()
{
    m_form = std::make_unique<Form1>(safePortFactory());
    const auto lamp = [this] {
        const QImage shown = Shape1(*m_form)->grab().toImage();
        return shown.pixelColor(shown.rect().center());
    };
    const auto tip = [this] {
        return Label3(*m_form)->toolTip();
    };
    m_form->Form_Load(); // COM1 is a missing device
    m_form->show();
    QVERIFY2(tip().contains(QRegularExpression(
                 R"(\nNo port open: COM1 \(\S+/missing-com1\): .+\nNot retried)")),
             qPrintable(tip()));
    QCOMPARE_NE(lamp(), PttSwitch::Green);

    SimProcess sim;
    QVERIFY(sim.start());
    testStore().mapPort(1, sim.url());
    Q_EMIT Combo1(*m_form)->clicked(); // chosen again: reopened
    QVERIFY(comport(*m_form).PortOpen());
    QCOMPARE(tip(), Form1::IndicatorTip);
    QCOMPARE(lamp(), PttSwitch::Green);

    sim.process().kill(); // a network radio gone: tried again
    QTRY_VERIFY_WITH_TIMEOUT(tip().contains("\nRetrying every 2 s."), 10000);
    QVERIFY2(tip().contains("No port open: COM1 (" + sim.url() + "): "), qPrintable(tip()));
    QCOMPARE_NE(lamp(), PttSwitch::Green);
}

void TestSetup::refusedTimeoutSaid_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("said"); // empty: taken, no notice
    QTest::newRow("seconds") << " 90 "
                             << "";
    QTest::newRow("letters") << "abc"
                             << "--tx-timeout \"abc\" is not a whole number of seconds";
    QTest::newRow("past a day") << "86401"
                                << "\"86401\" is not a whole number";
}

void TestSetup::refusedTimeoutSaid()
{
    QFETCH(QString, text);
    QFETCH(QString, said);
    loadForm();
    m_form->setTransmitTimeout(text, "--tx-timeout");
    auto *box = m_form->findChild<QMessageBox *>("TimeoutRefusedBox");
    QCOMPARE(box != nullptr, !said.isEmpty());
    if (box)
        QVERIFY2(box->informativeText().contains(said), qPrintable(box->informativeText()));
}

ZOLVEK_TEST_MAIN(TestSetup, true)
#include "test_setup.moc"
