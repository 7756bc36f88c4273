// The host message link end to end: zolvek-send and raw X messages to the real utility on an X
// server, with and without a window manager, driving the virtual radio.
#include "settings/hostcontract.h"
#include "tests/jsonprocess.h"
#include "tests/testsupport.h"
#include "tests/x11support.h"
#include "tools/monotonic.h"
#include "tools/zolvek-send/hostsender.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

int send(const QStringList &arguments, QString *error = nullptr)
{
    QProcess sender;
    sender.start(binaryPath("zolvek-send"), arguments);
    sender.waitForFinished(5000);
    if (error)
        *error = QString::fromUtf8(sender.readAllStandardError()).trimmed();
    return sender.exitStatus() == QProcess::NormalExit ? sender.exitCode() : -1;
}

} // namespace

class TestHostLinkX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void hostSwitchesTheRadio_data();
    void hostSwitchesTheRadio();
    void everyInstanceReached();
    void burstFromOneSender();
    void noUtilityRunning();
    void secondStartShowsTheFirst();
    void usageErrors_data();
    void usageErrors();
};

void TestHostLinkX11::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("DISPLAY").isEmpty(), "needs an X display (run under Xvfb)");
}

void TestHostLinkX11::hostSwitchesTheRadio_data()
{
    QTest::addColumn<bool>("windowManager");
    QTest::newRow("no window manager") << false;
    QTest::newRow("openbox") << true;
}

void TestHostLinkX11::hostSwitchesTheRadio()
{
    QFETCH(bool, windowManager);
    QProcess wm;
    if (windowManager)
        QVERIFY2(startWindowManager(wm), "openbox did not start");
    Station station;
    QVERIFY(station.start(true));
    if (windowManager) // framed and shown by the window manager
        QTRY_VERIFY(runCommand("xprop", {"-id", QString::number(utilityWindow()), "WM_STATE"})
                        .contains("Normal"));

    const double sent = monotonicSeconds();
    QCOMPARE(send({"tx"}), 0);
    QVERIFY(station.waitForFrames(3));
    const auto lines = station.sim.named("lines");
    const auto frames = station.sim.named("frame");
    QCOMPARE(frames[2].value("hex").toString(), "0100000007");
    QVERIFY(!lines.isEmpty()
            && lines.last().value("t").toDouble() <= frames[2].value("t").toDouble());
    const double latency = frames[2].value("t").toDouble() - sent;
    qInfo("zolvek-send tx to transmit frame: %.2f ms (process start included)", latency * 1000);
    QVERIFY(latency < 1.0);

    QCOMPARE(send({"rx"}), 0);
    QVERIFY(station.waitForFrames(4));
    QCOMPARE(station.sim.radioActions(),
             (SimProcess::Opened
              + QStringList{"frame 0000000000", "frame 0300000007", "lines dtr=1 rts=1",
                            "frame 0100000007", "lines dtr=0 rts=0", "frame 0300000007"}));
    const double gap = station.sim.named("frame").last().value("t").toDouble()
                       - station.sim.named("lines").last().value("t").toDouble();
    QVERIFY2(gap >= 1.19 && gap < 1.6, qPrintable(QString::number(gap)));

    // Requests that mean nothing, and a message of another type, change nothing.
    QCOMPARE(send({"0", "2"}), 0);
    QCOMPARE(send({"2", "0"}), 0);
    QCOMPARE(send({"-1", "1"}), 0);
    HostSender raw;
    QVERIFY(raw.isOpen());
    const auto windows = raw.findWindows();
    QCOMPARE(windows.size(), size_t(1));
    QVERIFY(raw.send(windows.front(), 0, 1, "ZOLVEKFUNC_NOT"));
    raw.sync();
    // Requests are handled in order: once a transmit sent after them has reached the radio,
    // anything they did would show before it.
    QCOMPARE(send({"tx"}), 0);
    QVERIFY(station.waitForFrames(5));
    QCOMPARE(station.sim.radioActions(false).mid(8),
             (QStringList{"lines dtr=1 rts=1", "frame 0100000007"}));
    QCOMPARE(station.utility.state(), QProcess::Running);

    QCOMPARE(send({"exit"}), 0);
    QVERIFY(station.utility.waitForFinished(3000));
    QCOMPARE(station.utility.exitStatus(), QProcess::NormalExit);
    QCOMPARE(station.utility.exitCode(), 0);
    QVERIFY(!station.sim.waitForEvent("disconnected").isEmpty());

    if (windowManager)
        stopWindowManager(wm);
}

void TestHostLinkX11::everyInstanceReached()
{
    Station first;
    Station second;
    QVERIFY(first.start(true));
    QVERIFY(second.start(true));
    QCOMPARE(send({"tx"}), 0);
    QVERIFY(first.waitForFrames(3));
    QVERIFY(second.waitForFrames(3));
    QCOMPARE(first.sim.named("frame").last().value("hex").toString(), "0100000007");
    QCOMPARE(second.sim.named("frame").last().value("hex").toString(), "0100000007");
    QCOMPARE(send({"exit"}), 0);
    QVERIFY(first.utility.waitForFinished(3000));
    QVERIFY(second.utility.waitForFinished(3000));
}

void TestHostLinkX11::burstFromOneSender()
{
    Station station;
    QVERIFY(station.start(true));
    HostSender sender;
    const auto windows = sender.findWindows();
    QCOMPARE(windows.size(), size_t(1));
    QRandomGenerator random(2217);
    for (int i = 0; i < 999; ++i) {
        const int kind = int(random.bounded(4));
        sender.send(windows.front(), kind == 3 ? 5 : 0, kind == 2 ? -1 : kind);
    }
    sender.send(windows.front(), 0, 0); // the last word: receive
    sender.sync();

    // Quiet once the last receive has settled.
    QElapsedTimer clock;
    clock.start();
    qsizetype seen = -1;
    while (clock.elapsed() < 20000) {
        const qsizetype now = station.sim.events().size();
        if (now == seen)
            break;
        seen = now;
        QTest::qWait(1500);
    }
    QCOMPARE(station.utility.state(), QProcess::Running);
    const QStringList actions = station.sim.radioActions(false);
    QVERIFY(actions.size() > 2);
    QCOMPARE(actions.last(), "frame 0300000007");
    QCOMPARE(actions.filter("lines").last(), "lines dtr=0 rts=0");

    // Still answering at once.
    const int frames = station.frames();
    const double sent = monotonicSeconds();
    QVERIFY(sender.send(windows.front(), 0, 1));
    sender.sync();
    QVERIFY(station.waitForFrames(frames + 1, 2000));
    const double latency = station.sim.named("frame").last().value("t").toDouble() - sent;
    QVERIFY2(latency < 0.5, qPrintable(QString::number(latency))); // the flood took seconds
}

// A second start finds the running utility, says so and ends, opening nothing; the options it
// was given are said not applied, there and in the running window. The first one still switches
// the radio.
void TestHostLinkX11::secondStartShowsTheFirst()
{
    Station station;
    QTemporaryDir logs;
    station.errorFile = logs.filePath("first.err");
    QVERIFY(station.start(true));
    QProcess second;
    second.setProcessEnvironment(utilityEnvironment(station.configHome(), true));
    second.start(binaryPath("zolvek-ptt"), {"--tx-timeout", "180", "--listen", "4599"});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 0);
    const QByteArray said = second.readAllStandardOutput();
    QVERIFY2(said.startsWith("zolvek-ptt: already running"), said.constData());
    QVERIFY2(said.contains("not applied: --listen 4599 --tx-timeout 180"), said.constData());
    QTRY_VERIFY_WITH_TIMEOUT(windowsTitled("zolvek-ptt") == 1, 10000); // the notice
    QFile errors(station.errorFile);
    QVERIFY(errors.open(QIODevice::ReadOnly));
    QVERIFY(errors.readAll().contains("options were not applied: --listen 4599 --tx-timeout 180"));
    QCOMPARE(station.sim.named("connected").size(), 1);
    QCOMPARE(send({"tx"}), 0);
    QVERIFY(station.waitForFrames(3));
    QCOMPARE(station.sim.named("frame").last().value("hex").toString(), "0100000007");
}

void TestHostLinkX11::noUtilityRunning()
{
    QString error;
    QCOMPARE(send({"tx"}, &error), 1);
    QCOMPARE(error, QStringLiteral("zolvek-send: no window titled \"%1\" found")
                        .arg(QLatin1String(HostContract::WindowTitle)));
}

void TestHostLinkX11::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("unknown word") << QStringList{"key"};
    QTest::newRow("one number") << QStringList{"0"};
    QTest::newRow("not numbers") << QStringList{"a", "b"};
    QTest::newRow("too large") << QStringList{"0", "4294967296"};
    QTest::newRow("three words") << QStringList{"0", "1", "2"};
}

void TestHostLinkX11::usageErrors()
{
    QFETCH(QStringList, arguments);
    QString error;
    QCOMPARE(send(arguments, &error), 2);
    QVERIFY(error.startsWith("usage: zolvek-send"));
}

ZOLVEK_TEST_MAIN(TestHostLinkX11, false)
#include "test_hostlink_x11.moc"
