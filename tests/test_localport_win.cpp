// The Win32 local back end on a COM port that is the tty double's device, under Wine: the check
// that runs this reads the double's log for what each open did to the lines. Without
// ZOLVEK_TEST_DEVICE every case is skipped, so no real port is ever opened.
#include "serial/linesettings.h"
#include "serial/portbackend.h"
#include "serial/porterror.h"
#include "serial/portfailure.h"
#include "serial/serialdevices.h"
#include "tests/testsupport.h"

#include <QFile>
#include <QtTest>

class TestLocalPortWin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void opensAndSends_data();
    void opensAndSends();
    void refusedBeforeOpening_data();
    void refusedBeforeOpening();
    void busyPort();
    void unplugged();
    void offeredInThePortMenu();

private:
    QString m_device;
};

namespace {

QString failureOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const PortError &error) {
        return error.message();
    }
    return QString();
}

} // namespace

void TestLocalPortWin::init()
{
    m_device = qEnvironmentVariable("ZOLVEK_TEST_DEVICE");
    if (m_device.isEmpty())
        QSKIP("needs ZOLVEK_TEST_DEVICE, a COM port that is the tty double's device");
}

// The check expects these settings in the double's log, the lines low before each frame.
void TestLocalPortWin::opensAndSends_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("keyed");
    QTest::newRow("4800,n,8,2 in receive") << "4800,n,8,2" << false;
    QTest::newRow("9600,e,7,1 keyed") << "9600,e,7,1" << true;
    QTest::newRow("19200,o,8,1 edited from 4800") << "19200,o,8,1" << false;
}

void TestLocalPortWin::opensAndSends()
{
    QFETCH(QString, settings);
    QFETCH(bool, keyed);
    const auto port = createLocalPortBackend(m_device);
    const LineSettings wanted = LineSettings::parse(settings);
    const bool edited = wanted.baud == 19200;
    port->open(edited ? LineSettings::parse("4800,n,8,2") : wanted, false, false);
    if (edited)
        port->applySettings(wanted);
    if (keyed) {
        port->setDtr(true);
        port->setRts(true);
    }
    // Closing waits for the frame to leave, as it does at the utility's exit.
    port->write(QByteArray::fromHex(keyed ? "0000000008" : "0000000088"));
    port->close();
}

void TestLocalPortWin::refusedBeforeOpening_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("reason");
    QTest::newRow("1.5 stop bits with 8 data bits") << "4800,n,8,1.5"
                                                    << "takes 1.5 stop bits only with 5 data bits";
    QTest::newRow("2 stop bits with 5 data bits") << "4800,n,5,2"
                                                  << "takes 2 stop bits only with 6 to 8 data bits";
}

void TestLocalPortWin::refusedBeforeOpening()
{
    QFETCH(QString, settings);
    QFETCH(QString, reason);
    const auto port = createLocalPortBackend(m_device);
    const QString why = failureOf([&] { port->open(LineSettings::parse(settings), false, false); });
    QVERIFY2(why.contains(reason) && why.contains(m_device), qPrintable(why));
    // Nothing was left open: the port opens at once afterwards.
    QCOMPARE(failureOf([&] { port->open(LineSettings::parse("4800,n,8,2"), false, false); }),
             QString());
    port->close();
}

void TestLocalPortWin::busyPort()
{
    const auto first = createLocalPortBackend(m_device);
    first->open(LineSettings::parse("4800,n,8,2"), false, false);
    const auto second = createLocalPortBackend(m_device);
    const QString refused =
        failureOf([&] { second->open(LineSettings::parse("4800,n,8,2"), false, false); });
    if (refused.isEmpty())
        QSKIP("this system let a second handle open the port (Wine does; Windows refuses it)");
    const QString why = explainPortFailure(refused);
    QVERIFY2(why.startsWith("Cannot open " + m_device) && why.contains("Another program"),
             qPrintable(why));
    // The holder is untouched by the refused open.
    QCOMPARE(failureOf([&] { first->write(QByteArray::fromHex("0000000088")); }), QString());
    first->close();
}

// The check unplugs the device when the file named by ZOLVEK_TEST_UNPLUG appears.
void TestLocalPortWin::unplugged()
{
    const QString request = qEnvironmentVariable("ZOLVEK_TEST_UNPLUG");
    if (request.isEmpty())
        QSKIP("needs ZOLVEK_TEST_UNPLUG, a file whose creation unplugs the device");
    const auto port = createLocalPortBackend(m_device);
    QString lost;
    port->setLostHandler([&](const QString &why, bool) { lost = why; });
    port->open(LineSettings::parse("4800,n,8,2"), false, false);
    QFile file(request);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    // Heard by the wait for input where the driver ends it, at the latest by the next frame.
    QString refused;
    QTRY_VERIFY_WITH_TIMEOUT(!lost.isEmpty()
                                 || !(refused = failureOf([&] {
                                          port->write(QByteArray::fromHex("0000000088"));
                                      })).isEmpty(),
                             30000);
    QTRY_VERIFY2_WITH_TIMEOUT(!lost.isEmpty(), qPrintable(refused), 5000);
    QVERIFY2(lost.startsWith(m_device), qPrintable(lost));
    port->close();
}

// The port list's menu offers the system's COM ports: this one is among them.
void TestLocalPortWin::offeredInThePortMenu()
{
    QStringList paths;
    for (const SerialDevice &device : serialDevices())
        paths << device.path + QLatin1Char('=') + device.description;
    QVERIFY2(paths.filter(m_device + QLatin1Char('=')).size() == 1, qPrintable(paths.join(", ")));
}

ZOLVEK_TEST_MAIN(TestLocalPortWin, false)

#include "test_localport_win.moc"
