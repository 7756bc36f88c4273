// Our RFC 2217 client and the virtual radio, each against pyserial's independent implementation.
#include "ft847/ft847cat.h"
#include "serial/porterror.h"
#include "serial/rfc2217portbackend.h"
#include "tests/jsonprocess.h"
#include "tests/testsupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

namespace {

bool hasState(const JsonProcess::Events &events, const QJsonObject &wanted)
{
    for (const QJsonObject &event : events) {
        if (event.value("event") != "state")
            continue;
        bool all = true;
        for (auto it = wanted.begin(); it != wanted.end(); ++it)
            all = all && event.value(it.key()) == it.value();
        if (all)
            return true;
    }
    return false;
}

// The virtual radio and our client connected to it at 4800,n,8,2, lines low.
struct RadioOnPort
{
    SimProcess sim;
    std::unique_ptr<Rfc2217PortBackend> port;

    bool start(const QStringList &radio = {})
    {
        if (!sim.start(QStringLiteral("127.0.0.1:0"), radio))
            return false;
        port = std::make_unique<Rfc2217PortBackend>(sim.url());
        port->open(LineSettings::parse("4800,n,8,2"), false, false);
        return !sim.waitForEvent("connected").isEmpty();
    }
};

} // namespace

class TestRfc2217Peers : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void ourClientAgainstPyserialServer();
    void pyserialClientAgainstSim();
    void simServesOneClientAtATime();
    void simAnswersHamlib_data();
    void simAnswersHamlib();
    void earlyRadioAnswersNoRead();
    void heldOutputLeavesTogether();
    void heldOutputGoesWithNewSettings();
    void heldOutputOnALostConnection();
};

void TestRfc2217Peers::ourClientAgainstPyserialServer()
{
    JsonProcess peer;
    QVERIFY(peer.start(systemPython(), {sourcePath("tests/peers/pyserial_server.py")}));
    const QJsonObject listening = peer.waitForEvent("listening");
    QVERIFY2(!listening.isEmpty(), peer.process().readAllStandardError().constData());
    const QString address =
        QStringLiteral("rfc2217://127.0.0.1:%1").arg(listening.value("port").toInt());

    Rfc2217PortBackend port(address);
    port.open(LineSettings::parse("4800,n,8,2"), false, false);
    QVERIFY(peer.waitFor([](const auto &events) {
        return hasState(events, {{"baud", 4800},
                                 {"data", 8},
                                 {"parity", "N"},
                                 {"stop", 2},
                                 {"dtr", false},
                                 {"rts", false}});
    }));

    port.setRts(true);
    port.setDtr(true);
    const QByteArray frame = QByteArray::fromHex("01ff000d07");
    port.write(frame);
    QVERIFY(peer.waitFor([](const auto &events) {
        return hasState(events, {{"baud", 4800}, {"dtr", true}, {"rts", true}});
    }));
    QVERIFY(peer.waitFor([&](const auto &events) {
        QString data;
        for (const QJsonObject &event : events)
            if (event.value("event") == "data")
                data += event.value("hex").toString();
        return data == "01ff000d07";
    }));
    port.applySettings(LineSettings::parse("9600,e,7,1"));
    QVERIFY(peer.waitFor([](const auto &events) {
        return hasState(events, {{"baud", 9600}, {"data", 7}, {"parity", "E"}, {"stop", 1}});
    }));
    port.setDtr(false);
    port.setRts(false);
    QVERIFY(peer.waitFor([](const auto &events) {
        return hasState(events, {{"baud", 9600}, {"dtr", false}, {"rts", false}});
    }));
    port.close();
    QVERIFY(!peer.waitForEvent("closed").isEmpty());
}

void TestRfc2217Peers::pyserialClientAgainstSim()
{
    SimProcess sim;
    QVERIFY(sim.start());
    QProcess client;
    client.start(systemPython(), {sourcePath("tests/peers/pyserial_client.py"), sim.address()});
    QVERIFY(client.waitForFinished(15000));
    QVERIFY2(client.readAllStandardOutput().contains("done"),
             client.readAllStandardError().constData());
    QVERIFY(!sim.waitForEvent("disconnected").isEmpty());

    const auto settings = sim.named("settings");
    QVERIFY(!settings.isEmpty());
    bool sawDefault = false;
    for (const QJsonObject &event : settings)
        sawDefault = sawDefault
                     || (event.value("baud") == 4800 && event.value("data") == 8
                         && event.value("parity") == "n" && event.value("stop") == "2");
    QVERIFY(sawDefault);
    QCOMPARE(settings.last().value("baud").toInt(), 9600);

    const auto lines = sim.named("lines");
    QVERIFY(lines.size() >= 2);
    bool keyed = false;
    for (const QJsonObject &event : lines)
        keyed = keyed || (event.value("dtr") == true && event.value("rts") == true);
    QVERIFY(keyed);
    QCOMPARE(lines.last().value("dtr"), QJsonValue(false));
    QCOMPARE(lines.last().value("rts"), QJsonValue(false));

    const auto frames = sim.named("frame");
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames[0].value("hex").toString(), "0100000007");
    QCOMPARE(frames[0].value("name").toString(), "mode usb");
    QCOMPARE(frames[1].value("hex").toString(), "ff00000007"); // 0xFF unescaped by the sim
    QCOMPARE(frames[1].value("name").toString(), "unknown");
    for (const QJsonObject &event : sim.events())
        if (event.value("event") != "listening")
            QVERIFY(event.value("t").toDouble() > 0);
}

void TestRfc2217Peers::simServesOneClientAtATime()
{
    SimProcess sim;
    QVERIFY(sim.start());
    const QString url = sim.url();
    auto first = std::make_unique<Rfc2217PortBackend>(url);
    first->open(LineSettings::parse("4800,n,8,2"), false, false);
    Rfc2217PortBackend second(url);
    QVERIFY_THROWS_EXCEPTION(std::exception, second.open(LineSettings(), false, false));
    first->close();
    first.reset();
    QVERIFY(!sim.waitForEvent("disconnected").isEmpty());
    // Still running: the next client gets in.
    Rfc2217PortBackend third(url);
    third.open(LineSettings::parse("4800,n,8,2"), false, false);
    third.write(QByteArray::fromHex("0300000007"));
    QVERIFY(!sim.waitForEvent("frame").isEmpty());
    QCOMPARE(sim.named("connected").size(), 2);
}

// Lines and a frame gathered by a hold reach the radio only at the release, all of them, in the
// order they were given.
void TestRfc2217Peers::simAnswersHamlib_data()
{
    QTest::addColumn<QStringList>("radio"); // ft847-sim's options
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<QByteArray>("answers");
    // 17 dots are -6 dB by Hamlib's table for the FT-847.
    QTest::newRow("meters, squelch open")
        << QStringList{"--smeter", "17", "--squelch-open"}
        << QByteArray("l STRENGTH\nl RAWSTR\n\\get_dcd\nl ALC\nt\n")
        << QByteArray("-6\n17\n1\n0.000000\n0\n");
    QTest::newRow("squelch closed") << QStringList() << QByteArray("\\get_dcd\nl RAWSTR\nf\n")
                                    << QByteArray("0\n0\n14074000\n");
    // In satellite mode the current VFO is the satellite receive one, the split one its transmit.
    QTest::newRow("satellite VFOs")
        << QStringList{"--frequency", "435900000", "--mode", "fm"}
        << QByteArray("S 1 Sub\nI 145900000\nX LSB 0\ni\nx\nf\nm\nS 0 Main\n")
        << QByteArray(
               "RPRT 0\nRPRT 0\nRPRT 0\n145900000\nLSB\n2200\n435900000\nFM\n15000\nRPRT 0\n");
}

// The virtual radio answers Hamlib's own FT-847 backend (rigctld -m 1001 on a pseudo-terminal
// bridged to it) as the radio does: its status reads and its satellite VFOs.
void TestRfc2217Peers::simAnswersHamlib()
{
    QFETCH(QStringList, radio);
    QFETCH(QByteArray, commands);
    QFETCH(QByteArray, answers);
    for (const char *program : {"rigctld", "socat"})
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(program)));
    SimProcess sim;
    QVERIFY(sim.start(QStringLiteral("127.0.0.1:0"), radio + QStringList{"--raw"}));
    QTemporaryDir dir;
    const QString device = dir.filePath("radio");
    QProcess socat;
    socat.start("socat", {"pty,raw,echo=0,link=" + device, "tcp:" + sim.address()});
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(device), 5000);
    QTcpServer probe; // a free port for rigctld
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess rigctld;
    rigctld.start("rigctld",
                  {"-m", "1001", "-r", device, "-s", "4800", "-t", QString::number(port)});
    QTcpSocket client;
    const QDeadlineTimer up(10000);
    while (client.state() != QAbstractSocket::ConnectedState && !up.hasExpired()) {
        client.connectToHost(QHostAddress::LocalHost, port);
        if (!client.waitForConnected(200))
            client.abort();
    }
    client.write(commands);
    QByteArray got;
    const QDeadlineTimer done(15000);
    while (got.count('\n') < answers.count('\n') && !done.hasExpired()) {
        client.waitForReadyRead(100);
        got += client.readAll();
    }
    rigctld.kill();
    socat.kill();
    rigctld.waitForFinished(3000);
    socat.waitForFinished(3000);
    QCOMPARE(got, answers);
}

// An FT-847 made before the 8G05 runs takes every command and answers no read.
void TestRfc2217Peers::earlyRadioAnswersNoRead()
{
    RadioOnPort radio;
    QVERIFY(radio.start({"--early-radio"}));
    QByteArray got;
    radio.port->setDataHandler([&got](const QByteArray &bytes) { got += bytes; });
    for (const char *frame : {"0000000003", "0000000013", "00000000e7", "00000000f7"})
        radio.port->write(QByteArray::fromHex(frame));
    QVERIFY(radio.sim.waitFor([](const JsonProcess::Events &events) {
        return std::count_if(
                   events.begin(), events.end(),
                   [](const QJsonObject &event) { return event.value("event") == "frame"; })
               == 4;
    }));
    QTest::qWait(100); // twenty times what the radio takes to answer a read

    QCOMPARE(got.toHex(), QByteArray());
}

void TestRfc2217Peers::heldOutputLeavesTogether()
{
    RadioOnPort radio;
    QVERIFY(radio.start());

    radio.port->holdOutput();
    radio.port->setRts(true);
    radio.port->setDtr(true);
    radio.port->write(QByteArray::fromHex("0100000007"));
    QTest::qWait(200);
    QCOMPARE(radio.sim.radioActions(), SimProcess::Opened);
    radio.port->releaseOutput();
    QVERIFY(radio.sim.waitFor([](const auto &events) {
        return !events.isEmpty() && events.last().value("event") == "frame";
    }));
    QCOMPARE(radio.sim.radioActions(),
             (SimProcess::Opened + QStringList{"lines dtr=1 rts=1", "frame 0100000007"}));
    // One packet, one arrival: the frame is the radio's once its bytes have crossed the line
    // after the lines, and not a moment later.
    const QJsonObject line = radio.sim.named("settings").last();
    const double wire =
        Ft847::wireMs(5, line.value("baud").toInt(), line.value("stop").toString().toDouble())
        / 1000.0;
    QVERIFY(std::abs(radio.sim.named("frame").last().value("t").toDouble()
                     - radio.sim.named("lines").last().value("t").toDouble() - wire)
            < 2e-6);

    // Without a hold, each call goes out by itself at once.
    radio.port->setRts(false);
    QVERIFY(radio.sim.waitFor([](const auto &events) {
        return !events.isEmpty() && events.last().value("event") == "lines"
               && events.last().value("rts") == false;
    }));
}

// New settings wait for the radio's answer, so they send what is held with them instead of
// leaving it behind (or waiting for an answer to bytes that never left).
void TestRfc2217Peers::heldOutputGoesWithNewSettings()
{
    RadioOnPort radio;
    QVERIFY(radio.start());

    radio.port->holdOutput();
    radio.port->setRts(true);
    QElapsedTimer clock;
    clock.start();
    radio.port->applySettings(LineSettings::parse("9600,n,8,1"));
    QVERIFY(clock.elapsed() < Rfc2217PortBackend::WaitLimitMs / 2);
    QVERIFY(radio.sim.waitFor([](const JsonProcess::Events &events) {
        bool rts = false, baud = false;
        for (const QJsonObject &event : events) {
            rts = rts || (event.value("event") == "lines" && event.value("rts") == true);
            baud = baud || (event.value("event") == "settings" && event.value("baud") == 9600);
        }
        return rts && baud;
    }));
}

// A connection that went while output was held fails the release, so the caller knows the
// radio did not get it.
void TestRfc2217Peers::heldOutputOnALostConnection()
{
    RadioOnPort radio;
    QVERIFY(radio.start());

    radio.port->holdOutput();
    radio.port->setRts(true);
    radio.sim.stop();
    radio.port->setDtr(true);
    radio.port->write(QByteArray::fromHex("0100000007"));
    QVERIFY_THROWS_EXCEPTION(PortError, radio.port->releaseOutput());
    // Nothing stays held for later: the next call fails on its own.
    QVERIFY_THROWS_EXCEPTION(PortError, radio.port->setRts(false));
}

ZOLVEK_TEST_MAIN(TestRfc2217Peers, false)
#include "test_rfc2217_peers.moc"
