#include "serial/commcontrol.h"
#include "serial/porterror.h"
#include "serial/portfailure.h"
#include "serial/portmap.h"
#include "tests/ptypair_unix.h"
#include "tests/testsupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

// The port object on Unix devices: the platform's names, the console, pseudo-terminals.
class TestCommControlUnix : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { testStore().reset(); }
    void defaultNames();
    void consoleRecognised();
    void ptyCarriesFramesButNotLines();
    void busyDevice();
    void stalledDeviceNeverHoldsTheCaller();
};

// Only the names are compared: nothing here creates a port object, so no device is opened.
void TestCommControlUnix::defaultNames()
{
    QCOMPARE(defaultDeviceForPort(2), "/dev/ttyS1");
    QCOMPARE(defaultDeviceForPort(4), "/dev/ttyS3");
}

void TestCommControlUnix::consoleRecognised()
{
    QVERIFY(isSystemConsole("/dev/console"));
    QFile active("/sys/class/tty/console/active");
    if (active.open(QIODevice::ReadOnly)) {
        const QString first = QString::fromLocal8Bit(active.readAll()).split(' ').first().trimmed();
        if (!first.isEmpty() && QFile::exists("/dev/" + first))
            QVERIFY(isSystemConsole("/dev/" + first));
    }
    PtyPair pty;
    QVERIFY(pty.isValid());
    QVERIFY(!isSystemConsole(pty.slavePath()));
    QVERIFY(!isSystemConsole("/nonexistent/device"));
}

void TestCommControlUnix::ptyCarriesFramesButNotLines()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    testStore().mapPort(1, pty.slavePath());
    CommControl port(safePortFactory());
    port.setSettings("4800,n,8,2");
    port.setPortOpen(true); // no modem lines, still opens
    QVERIFY(port.PortOpen());
    QVERIFY(raisedNumber([&] { port.setDTREnable(false); }) != 0);
    port.Output(QByteArray::fromHex("0000000000"));
    port.Output(QByteArray::fromHex("03ff0a0d07"));
    QCOMPARE(pty.read(10).toHex(), QByteArray("000000000003ff0a0d07"));
    port.setPortOpen(false);
    QVERIFY(!port.PortOpen());
}

void TestCommControlUnix::busyDevice()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    testStore().mapPort(1, pty.slavePath());
    CommControl first(safePortFactory());
    first.setPortOpen(true);
    CommControl second(safePortFactory());
    QString why;
    try {
        second.setPortOpen(true);
    } catch (const PortError &error) {
        why = explainPortFailure(error.message());
    }
    QVERIFY2(why.contains("busy") && why.contains("Another program"), qPrintable(why));
    QVERIFY(!second.PortOpen());
    first.setPortOpen(false);
    second.setPortOpen(true);
    QVERIFY(second.PortOpen());
}

// A device that takes no more output (nobody reads this pseudo-terminal) never holds the caller:
// what it cannot take waits, up to a bound past which a write is refused at once, and follows in
// order once the device takes it.
void TestCommControlUnix::stalledDeviceNeverHoldsTheCaller()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    testStore().mapPort(1, pty.slavePath());
    CommControl port(safePortFactory());
    port.setPortOpen(true);
    QByteArray sent;
    qint64 longest = 0;
    int refused = 0;
    for (int i = 0; i < 100000 && refused == 0; ++i) {
        const QByteArray frame = QByteArray::number(i % 100000).rightJustified(5, '0');
        QElapsedTimer call;
        call.start();
        refused = raisedNumber([&] { port.Output(frame); });
        longest = qMax(longest, call.elapsed());
        if (!refused)
            sent += frame;
    }
    QCOMPARE(refused, PortError::WriteFailed);
    QVERIFY2(longest < 50, qPrintable(QString::number(longest)));
    QByteArray got;
    const QDeadlineTimer deadline(20000);
    while (got.size() < sent.size() && !deadline.hasExpired()) {
        QTest::qWait(1);
        got += pty.read(int(sent.size() - got.size()), 5);
    }
    QCOMPARE(got.size(), sent.size());
    QVERIFY(got == sent);
}

ZOLVEK_TEST_MAIN(TestCommControlUnix, false)
#include "test_commcontrol_unix.moc"
