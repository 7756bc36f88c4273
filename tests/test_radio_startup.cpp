// The real utility against the virtual radio, and remote ports that fail.
#include "serial/commcontrol.h"
#include "serial/porterror.h"
#include "serial/resumenext.h"
#include "tests/jsonprocess.h"
#include "tests/testsupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <csignal>

namespace {

// Opens the port on the virtual radio and sends it a frame; true once the radio has it.
bool openAndHeard(CommControl &port, SimProcess &sim)
{
    port.setSettings("4800,n,8,2");
    port.setPortOpen(true);
    port.Output(QByteArray::fromHex("0300000007"));
    return !sim.waitForEvent("frame").isEmpty();
}

// Opens a port on `address`; returns how long the attempt took and the error it raised.
// How long until the open is known to have failed, and why. A slow server is waited for in the
// background, so the open itself returns at once (`returnedMs`).
qint64 timedOpen(const QString &address, QString *error, qint64 *returnedMs = nullptr)
{
    CommControl port(safePortFactory(), [&](int) { return address; });
    QSignalSpy failed(&port, &CommControl::openFailed);
    QElapsedTimer timer;
    timer.start();
    try {
        port.setPortOpen(true);
    } catch (const PortError &e) {
        *error = e.message();
    }
    if (returnedMs)
        *returnedMs = timer.elapsed();
    if (error->isEmpty() && failed.wait(5000))
        *error = failed.first().first().toString();
    return timer.elapsed();
}

// A helper that accepts a connection and refuses the COM port option.
const char *const refusingServer = R"(
import socket, sys
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(1); s.settimeout(20)
print(s.getsockname()[1], flush=True)
c, _ = s.accept(); c.settimeout(20)
c.recv(100); c.sendall(bytes([255, 254, 44]))
c.recv(100)
)";

} // namespace

class TestRadioStartup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { testStore().reset(); }
    void utilityBringsRadioUpInReceive();
    void refusedConnection();
    void silentServer();
    void serverWithoutComPortOption();
    void serverGoneMidSession();
    void utilityKeepsRunningWhenRadioSilent();
    void editsKeepTheConnection();
    void stoppedRadioNeverHoldsTheCaller_data();
    void stoppedRadioNeverHoldsTheCaller();
    void commandLine_data();
    void commandLine();
};

void TestRadioStartup::utilityBringsRadioUpInReceive()
{
    SimProcess sim;
    QVERIFY(sim.start());
    testStore().mapPort(1, sim.url());
    QProcess utility;
    utility.setProcessEnvironment(utilityEnvironment(testStore().configHome()));
    utility.start(binaryPath("zolvek-ptt"), {});
    QVERIFY(sim.waitFor([](const auto &events) {
        int frames = 0;
        for (const QJsonObject &event : events)
            frames += event.value("event") == "frame";
        return frames >= 2;
    }));
    utility.kill();
    utility.waitForFinished(5000);
    QVERIFY(!sim.waitForEvent("disconnected").isEmpty());

    QStringList order;
    double lastSettingsTime = 0;
    for (const QJsonObject &event : sim.events()) {
        const QString name = event.value("event").toString();
        if (name == "settings") {
            QVERIFY(order.filter("frame").isEmpty()); // settings before any frame
            lastSettingsTime = event.value("t").toDouble();
            QCOMPARE(event.value("baud").toInt(), 4800);
            QCOMPARE(event.value("data").toInt(), 8);
            QCOMPARE(event.value("parity").toString(), "n");
            QCOMPARE(event.value("stop").toString(), "2");
        } else if (name == "frame") {
            QVERIFY(event.value("t").toDouble() >= lastSettingsTime);
            order << "frame " + event.value("hex").toString() + " "
                         + event.value("name").toString();
        } else if (name != "listening" && name != "lines") {
            order << name;
        }
    }
    QCOMPARE(order, (QStringList{"connected", "frame 0000000000 cat on",
                                 "frame 0300000007 mode cwr", "mode", "disconnected"}));
    QVERIFY(lastSettingsTime > 0);
    // Both lines low before the first byte, though the server raised them at connect.
    QCOMPARE(sim.radioActions(),
             (SimProcess::Opened + QStringList{"frame 0000000000", "frame 0300000007"}));
}

void TestRadioStartup::refusedConnection()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    QString error;
    const qint64 ms = timedOpen(QStringLiteral("rfc2217://127.0.0.1:%1").arg(port), &error);
    QVERIFY2(error.contains("refused", Qt::CaseInsensitive), qPrintable(error));
    QVERIFY(ms < 2000);
}

void TestRadioStartup::silentServer()
{
    QTcpServer silent; // accepts in the kernel, never says a word
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QString error;
    qint64 returned = 0;
    const qint64 ms = timedOpen(QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.serverPort()),
                                &error, &returned);
    QVERIFY2(error.contains("no answer"), qPrintable(error));
    QVERIFY2(ms >= 1900 && ms < 2600, qPrintable(QString::number(ms)));
    QVERIFY2(returned < 1000, qPrintable(QString::number(returned))); // the caller not held
}

void TestRadioStartup::serverWithoutComPortOption()
{
    QProcess server;
    server.start(systemPython(), {"-c", refusingServer});
    QVERIFY(server.waitForReadyRead(10000));
    const int port = server.readLine().trimmed().toInt();
    QString error;
    const qint64 ms = timedOpen(QStringLiteral("rfc2217://127.0.0.1:%1").arg(port), &error);
    QVERIFY2(error.contains("does not offer RFC 2217"), qPrintable(error));
    QVERIFY(ms < 2000);
    server.kill();
    server.waitForFinished(2000);
}

void TestRadioStartup::serverGoneMidSession()
{
    SimProcess sim;
    QVERIFY(sim.start());
    CommControl port(safePortFactory(), [&](int) { return sim.url(); });
    QVERIFY(openAndHeard(port, sim));
    QSignalSpy lost(&port, &CommControl::portLost);
    port.setRTSEnable(true);
    sim.process().kill();
    sim.process().waitForFinished(2000);
    // Noticed by itself, without a request: the port is closed, its lines recorded low.
    QVERIFY(lost.wait(2000));
    QVERIFY(!port.PortOpen());
    QVERIFY(!port.RTSEnable() && !port.DTREnable());

    QElapsedTimer timer;
    timer.start();
    int failures = 0;
    for (int i = 0; i < 3; ++i) {
        try {
            port.Output(QByteArray::fromHex("0100000007"));
        } catch (const PortError &) {
            ++failures;
        }
        QTest::qWait(20);
    }
    QCOMPARE(failures, 3);
    QVERIFY(timer.elapsed() < 2500);
    port.setPortOpen(false); // closing what is gone is no error
    QVERIFY(!port.PortOpen());
}

void TestRadioStartup::utilityKeepsRunningWhenRadioSilent()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    testStore().mapPort(1, QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.serverPort()));
    QProcess utility;
    utility.setProcessEnvironment(utilityEnvironment(testStore().configHome()));
    utility.start(binaryPath("zolvek-ptt"), {});
    QVERIFY(utility.waitForStarted(5000));
    // Start-up writes its skipped steps when it has run to the end.
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += utility.readAllStandardError()).contains("no answer"),
                             15000);
    QCOMPARE(utility.state(), QProcess::Running);
    utility.kill();
    utility.waitForFinished(5000);
}

// Settings typed into an open remote port reach the radio over the one connection: a reconnect
// would have its server raise the lines each time. A close that no open follows still closes.
void TestRadioStartup::editsKeepTheConnection()
{
    SimProcess sim;
    QVERIFY(sim.start());
    CommControl port(safePortFactory(), [&](int) { return sim.url(); });
    QVERIFY(openAndHeard(port, sim));
    for (const char *typed : {"9600,n,8,1", "9600,n,8,", "19200,e,7,1"}) {
        port.setPortOpen(false);
        raisedNumber([&] { port.setSettings(QString::fromLatin1(typed)); });
        port.setPortOpen(true);
    }
    port.setPortOpen(false);
    QVERIFY(sim.waitForEvent("disconnected").value("event") == "disconnected");
    QCOMPARE(sim.named("connected").size(), 1);
    // Raised by the server at connect only.
    QCOMPARE(sim.radioActions(), SimProcess::Opened + QStringList{"frame 0300000007"});
    const auto settings = sim.named("settings");
    QCOMPARE(settings.last().value("baud").toInt(), 19200);
    QCOMPARE(settings.last().value("parity").toString(), "e");
}

void TestRadioStartup::stoppedRadioNeverHoldsTheCaller_data()
{
    QTest::addColumn<QString>("path");
    for (const char *path : {"keying", "releasing", "typing settings", "choosing a port"})
        QTest::newRow(path) << QString::fromLatin1(path);
}

// The radio stopped mid-session (SIGSTOP): each of the window's port steps returns within the
// 50 ms a remote port may take, with room for a loaded machine; the rest follows in the
// background.
void TestRadioStartup::stoppedRadioNeverHoldsTheCaller()
{
    QFETCH(QString, path);
    SimProcess sim;
    QVERIFY(sim.start());
    CommControl port(safePortFactory(), [&](int) { return sim.url(); });
    QVERIFY(openAndHeard(port, sim));
    if (path == "releasing")
        port.setRTSEnable(true);
    QCOMPARE(::kill(pid_t(sim.process().processId()), SIGSTOP), 0);
    QElapsedTimer call;
    call.start();
    ResumeNext step;
    if (path == "keying" || path == "releasing") {
        const bool high = path == "keying";
        port.holdOutput();
        step([&] { port.setRTSEnable(high); });
        step([&] { port.setDTREnable(high); });
        step([&] { port.Output(QByteArray::fromHex(high ? "0100000007" : "0300000007")); });
        step([&] { port.releaseOutput(); });
    } else {
        step([&] { port.setPortOpen(false); });
        if (path == "typing settings")
            step([&] { port.setSettings("9600,n,8,1"); });
        else
            step([&] { port.setCommPort(2); });
        step([&] { port.setPortOpen(true); });
    }
    const qint64 ms = call.elapsed();
    ::kill(pid_t(sim.process().processId()), SIGCONT);
    qInfo("%s with the radio stopped: %lld ms", qPrintable(path), ms);
    QVERIFY2(!step.failed(), qPrintable(step.errors().join("; ")));
    QVERIFY2(ms < 100, qPrintable(QString::number(ms)));
}

void TestRadioStartup::commandLine_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("status");
    for (const char *program : {"zolvek-ptt", "zolvek-send", "ft847-sim"}) {
        QTest::addRow("%s --help", program) << program << "--help" << 0;
        QTest::addRow("%s --version", program) << program << "--version" << 0;
    }
    QTest::newRow("zolvek-ptt unknown option") << "zolvek-ptt"
                                               << "--transmit" << 2;
}

// Answered and done: the radio that COM1 maps to never hears from the utility.
void TestRadioStartup::commandLine()
{
    QFETCH(QString, program);
    QFETCH(QString, option);
    QFETCH(int, status);
    SimProcess sim;
    QVERIFY(sim.start());
    testStore().mapPort(1, sim.url());
    QProcess run;
    run.setProcessEnvironment(utilityEnvironment(testStore().configHome()));
    run.start(binaryPath(program), {option});
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitCode(), status);
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    if (option == "--version")
        QCOMPARE(out.trimmed(), program + " " + ZOLVEK_VERSION);
    else if (status == 0)
        QVERIFY(out.contains("--version"));
    QVERIFY(sim.waitForEvent("connected", 300).isEmpty());
}

ZOLVEK_TEST_MAIN(TestRadioStartup, false)
#include "test_radio_startup.moc"
