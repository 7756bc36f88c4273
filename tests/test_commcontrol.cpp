#include "serial/commcontrol.h"
#include "serial/porterror.h"
#include "serial/portfailure.h"
#include "serial/portmap.h"
#include "tests/testsupport.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

// A port that opens, and goes away when told to.
class LosableBackend : public PortBackend
{
public:
    void open(const LineSettings &, bool, bool) override {}
    void close() override {}
    void applySettings(const LineSettings &) override {}
    void setDtr(bool) override {}
    void setRts(bool) override {}
    void write(const QByteArray &) override {}
    void lose() { reportLost(QStringLiteral("COM1: unplugged")); }
};

} // namespace

class TestCommControl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void initialState();
    void portNumbers_data();
    void portNumbers();
    void refusedSettingsKeepOld();
    void openAppliesStoredState();
    void linesAppliedWhileOpen();
    void settingsAppliedWhileOpen();
    void closingDropsTheLines();
    void oneAndAHalfStopBits_data();
    void oneAndAHalfStopBits();
    void failedOpenStaysClosed();
    void closedPortRefusesOutputAndNumberWhileOpen();
    void failedCloseStillCloses();
    void addressesFromStore();
    void unmappableAddresses_data();
    void unmappableAddresses();
    void missingDevice();
    void reasonsForTheOperator_data();
    void reasonsForTheOperator();
    void lostPortSaysEachReasonOnce();

private:
    std::shared_ptr<FakePortLog> m_log;
};

void TestCommControl::init()
{
    testStore().reset();
    m_log = std::make_shared<FakePortLog>();
}

void TestCommControl::initialState()
{
    CommControl port(fakePortFactory(m_log));
    QCOMPARE(port.CommPort(), 1);
    QCOMPARE(port.Settings(), "9600,n,8,1");
    QVERIFY(!port.PortOpen());
    QVERIFY(!port.DTREnable());
    QVERIFY(!port.RTSEnable());
    QVERIFY(m_log->actions.isEmpty());
}

void TestCommControl::portNumbers_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("expected");
    QTest::newRow("COM1") << 1 << 1;
    QTest::newRow("COM4") << 4 << 4;
    QTest::newRow("COM7") << 7 << 7;
    QTest::newRow("COM16") << 16 << 16;
    QTest::newRow("zero refused") << 0 << 2;
    QTest::newRow("negative refused") << -1 << 2;
    QTest::newRow("past last refused") << 17 << 2;
    QTest::newRow("large refused") << 32767 << 2;
}

void TestCommControl::portNumbers()
{
    QFETCH(int, number);
    QFETCH(int, expected);
    CommControl port(fakePortFactory(m_log));
    port.setCommPort(2);
    const int error = raisedNumber([&] { port.setCommPort(number); });
    QCOMPARE(error, number == expected ? 0 : PortError::InvalidPortNumber);
    QCOMPARE(int(port.CommPort()), expected);
}

void TestCommControl::refusedSettingsKeepOld()
{
    CommControl port(fakePortFactory(m_log));
    port.setSettings("4800,n,8,2");
    QCOMPARE(raisedNumber([&] { port.setSettings("4800,q,8,2"); }),
             PortError::InvalidPropertyValue);
    QCOMPARE(raisedNumber([&] { port.setSettings(""); }), PortError::InvalidPropertyValue);
    QCOMPARE(port.Settings(), "4800,n,8,2");
}

void TestCommControl::openAppliesStoredState()
{
    CommControl port(fakePortFactory(m_log), [](int n) { return QStringLiteral("dev%1").arg(n); });
    port.setCommPort(3);
    port.setSettings("4800,n,8,2");
    port.setDTREnable(true);
    QVERIFY(m_log->actions.isEmpty()); // nothing reaches a closed port
    port.setPortOpen(true);
    QVERIFY(port.PortOpen());
    QCOMPARE(m_log->take(), QStringList{"open dev3 4800,n,8,2 dtr=1 rts=0"});
}

void TestCommControl::linesAppliedWhileOpen()
{
    CommControl port(fakePortFactory(m_log));
    port.setPortOpen(true);
    m_log->take();
    port.setRTSEnable(true);
    port.setDTREnable(true);
    port.Output(QByteArray::fromHex("0100000007"));
    QCOMPARE(m_log->take(), (QStringList{"rts 1", "dtr 1", "write 0100000007"}));
    QVERIFY(port.DTREnable() && port.RTSEnable());

    m_log->failLines = true;
    QCOMPARE(raisedNumber([&] { port.setDTREnable(false); }), PortError::PortUnavailable);
    QVERIFY(port.DTREnable()); // a refused change leaves the recorded state
}

// A keyed radio is released when its port closes, and reopening does not key it again.
void TestCommControl::closingDropsTheLines()
{
    CommControl port(fakePortFactory(m_log), [](int) { return QStringLiteral("dev"); });
    port.setPortOpen(true);
    port.setRTSEnable(true);
    port.setDTREnable(true);
    m_log->take();
    port.setPortOpen(false);
    port.setPortOpen(true);
    QCOMPARE(m_log->take(),
             (QStringList{"rts 0", "dtr 0", "close", "open dev 9600,n,8,1 dtr=0 rts=0"}));
    QVERIFY(!port.DTREnable() && !port.RTSEnable());
}

void TestCommControl::oneAndAHalfStopBits_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("error");
    QTest::newRow("local port") << "/dev/ttyUSB0" << int(PortError::InvalidPropertyValue);
    QTest::newRow("remote port") << "rfc2217://127.0.0.1:2217" << 0;
}

// No local serial driver takes 1.5 stop bits with 8 data bits (Linux's take none at all): a local
// port refuses them like any invalid text; a remote port passes them on.
void TestCommControl::oneAndAHalfStopBits()
{
    QFETCH(QString, address);
    QFETCH(int, error);
    CommControl port(fakePortFactory(m_log), [address](int) { return address; });
    port.setSettings("4800,n,8,2");
    QCOMPARE(raisedNumber([&] { port.setSettings("4800,n,8,1.5"); }), error);
    QCOMPARE(port.Settings(), error ? "4800,n,8,2" : "4800,n,8,1.5");
}

void TestCommControl::settingsAppliedWhileOpen()
{
    CommControl port(fakePortFactory(m_log));
    port.setPortOpen(true);
    m_log->take();
    port.setSettings("1200,e,7,1");
    QCOMPARE(m_log->take(), QStringList{"settings 1200,e,7,1"});
    m_log->failSettings = true;
    QVERIFY(raisedNumber([&] { port.setSettings("2400,n,8,1"); }) != 0);
    QCOMPARE(port.Settings(), "1200,e,7,1");
}

void TestCommControl::failedOpenStaysClosed()
{
    CommControl port(fakePortFactory(m_log));
    m_log->failOpen = true;
    QVERIFY(raisedNumber([&] { port.setPortOpen(true); }) != 0);
    QVERIFY(!port.PortOpen());
    QCOMPARE(raisedNumber([&] { port.Output("x"); }), PortError::PortNotOpen);
    m_log->failOpen = false;
    port.setPortOpen(true);
    QVERIFY(port.PortOpen());
}

void TestCommControl::closedPortRefusesOutputAndNumberWhileOpen()
{
    CommControl port(fakePortFactory(m_log));
    QCOMPARE(raisedNumber([&] { port.Output(QByteArray(5, 0)); }), PortError::PortNotOpen);
    port.setPortOpen(true);
    QCOMPARE(raisedNumber([&] { port.setPortOpen(true); }), PortError::PortAlreadyOpen);
    QCOMPARE(raisedNumber([&] { port.setCommPort(2); }), PortError::PortAlreadyOpen);
    QCOMPARE(int(port.CommPort()), 1);
    port.setPortOpen(false);
    port.setPortOpen(false); // closing a closed port is no error
    QVERIFY(!port.PortOpen());
    QCOMPARE(m_log->openCount, 1);
}

void TestCommControl::failedCloseStillCloses()
{
    CommControl port(fakePortFactory(m_log));
    port.setPortOpen(true);
    m_log->failClose = true;
    QVERIFY(raisedNumber([&] { port.setPortOpen(false); }) != 0);
    // The connection is given up either way, so the next open starts afresh.
    QVERIFY(!port.PortOpen());
}

void TestCommControl::addressesFromStore()
{
    testStore().mapPort(2, "/dev/ttyUSB7");
    QCOMPARE(deviceForPort(2), "/dev/ttyUSB7");
    testStore().writeRaw("[Ports]\nCOM3=rfc2217://127.0.0.1:4000\n");
    QCOMPARE(deviceForPort(3), "rfc2217://127.0.0.1:4000");
    // Unmapped numbers fall back to the platform's own names (compared, never opened).
    QCOMPARE(deviceForPort(2), defaultDeviceForPort(2));
    testStore().reset();
}

void TestCommControl::unmappableAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("unknown scheme") << "ftp://127.0.0.1:21";
    QTest::newRow("empty") << "";
}

void TestCommControl::unmappableAddresses()
{
    QFETCH(QString, address);
    CommControl port(safePortFactory(), [&](int) { return address; });
    QVERIFY(raisedNumber([&] { port.setPortOpen(true); }) != 0);
    QVERIFY(!port.PortOpen());
}

void TestCommControl::missingDevice()
{
    CommControl port(safePortFactory()); // COM1 maps to a missing path in the test store
    QCOMPARE(raisedNumber([&] { port.setPortOpen(true); }), PortError::PortUnavailable);
    QVERIFY(!port.PortOpen());
}

void TestCommControl::reasonsForTheOperator_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("hint");
    QTest::newRow("permission") << "Cannot open /dev/ttyUSB0: Permission denied"
                                << "dialout";
    QTest::newRow("busy") << "Cannot open /dev/ttyUSB0: Device or resource busy"
                          << "Another program";
    QTest::newRow("missing") << "Cannot open /dev/ttyUSB0: no such device"
                             << "right-click the port list";
    QTest::newRow("refused") << "rfc2217://10.0.0.9:2217: Connection refused"
                             << "server running";
    QTest::newRow("silent")
        << "rfc2217://10.0.0.9:2217: no answer to the COM port option within 2 s"
        << "does not answer";
    QTest::newRow("other") << "Cannot write to /dev/ttyUSB0: Input/output error"
                           << "";
}

// The system's own words stay first; a hint for the common cases follows.
void TestCommControl::reasonsForTheOperator()
{
    QFETCH(QString, message);
    QFETCH(QString, hint);
    const QString explained = explainPortFailure(message);
    QVERIFY(explained.startsWith(message));
    QCOMPARE(explained.size() > message.size(), !hint.isEmpty());
    QVERIFY2(explained.contains(hint), qPrintable(explained));
}

// A lost port that stays away says why once, not at every try; a refused new port number does
// not stop the tries for the old one.
void TestCommControl::lostPortSaysEachReasonOnce()
{
    int opens = 0;
    LosableBackend *backend = nullptr;
    CommControl port(
        [&](const QString &) -> std::unique_ptr<PortBackend> {
            if (++opens > 1)
                throw PortError(PortError::PortUnavailable, "Cannot open COM1: no such device");
            auto made = std::make_unique<LosableBackend>();
            backend = made.get();
            return made;
        },
        [](int) { return QStringLiteral("fake"); });
    port.setPortOpen(true);
    QSignalSpy lost(&port, &CommControl::portLost);
    backend->lose();
    QVERIFY(lost.wait(1000));
    const QRegularExpression said("reopening the lost port: Cannot open COM1: no such device");
    QTest::ignoreMessage(QtWarningMsg, said);
    QTest::failOnWarning(said);
    QVERIFY(raisedNumber([&] { port.setCommPort(99); }) != 0);
    QTRY_VERIFY_WITH_TIMEOUT(opens >= 3, 3 * CommControl::RetryIntervalMs + 3000);
}

ZOLVEK_TEST_MAIN(TestCommControl, false)
#include "test_commcontrol.moc"
