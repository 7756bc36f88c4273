#include "serial/rfc2217.h"
#include "serial/rfc2217portbackend.h"
#include "serial/telnet.h"
#include "tests/testsupport.h"
#include "tools/ft847-sim/ft847frames.h"
#include "tools/ft847-sim/rfc2217server.h"

#include <QTest>

using Telnet::Event;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Adjacent data events are one stream, however the input was cut.
QList<Event> merged(const QList<Event> &events)
{
    QList<Event> out;
    for (const Event &event : events) {
        if (event.kind == Event::Kind::Data && !out.isEmpty()
            && out.last().kind == Event::Kind::Data)
            out.last().bytes += event.bytes;
        else
            out.append(event);
    }
    return out;
}

// A stream with every kind of element, 0xFF inside data and inside a subnegotiation.
const QByteArray mixedStream = hex("41ffff42 fffb2c fffa2c6500ffff12fff0 fff1 43ffff0d00");

// Runs a client and a server against each other, cutting every transfer into `chunk`-byte
// pieces, until neither has anything left to say.
struct Link
{
    Rfc2217::ClientProtocol client;
    Rfc2217ServerSession server;
    QByteArray radioData;
    int rounds = 0;

    void run(QByteArray toServer, QByteArray toClient, int chunk)
    {
        while ((!toServer.isEmpty() || !toClient.isEmpty()) && rounds < 100) {
            ++rounds;
            QByteArray nextToServer, nextToClient;
            for (int i = 0; i < toServer.size(); i += chunk) {
                const auto result = server.receive(toServer.mid(i, chunk));
                nextToClient += result.replies;
                radioData += result.data;
            }
            for (int i = 0; i < toClient.size(); i += chunk)
                nextToServer += client.receive(toClient.mid(i, chunk));
            toServer = nextToServer;
            toClient = nextToClient;
        }
    }
};

} // namespace

class TestRfc2217 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void escaping();
    void decoderSplitAtEveryByte();
    void oversizedSubnegotiationDropped();
    void clientOpeningRequests();
    void clientSubnegotiations_data();
    void clientSubnegotiations();
    void negotiationAnswers_data();
    void negotiationAnswers();
    void answersClearAndRefusals();
    void dataOutsideBinaryMode();
    void clientAndServerAgree_data();
    void clientAndServerAgree();
    void serverAnswers_data();
    void serverAnswers();
    void addresses_data();
    void addresses();
    void frameNames_data();
    void frameNames();
};

void TestRfc2217::escaping()
{
    QCOMPARE(Telnet::escape(hex("01ff02ffff")), hex("01ffff02ffffffff"));
    QCOMPARE(Telnet::escape(hex("0300000007")), hex("0300000007"));
    QCOMPARE(Rfc2217::comPortCommand(Rfc2217::SetBaudrate, Rfc2217::baudValue(0x00ff00ff)),
             hex("fffa2c0100ffff00ffff fff0"));
    QCOMPARE(Rfc2217::baudFromValue(Rfc2217::baudValue(256000)), 256000u);
}

void TestRfc2217::decoderSplitAtEveryByte()
{
    const QList<Event> expected{
        {Event::Kind::Data, 0, 0, hex("41ff42")},
        {Event::Kind::Negotiation, Telnet::WILL, Telnet::COM_PORT_OPTION, {}},
        {Event::Kind::Subnegotiation, Telnet::SB, Telnet::COM_PORT_OPTION, hex("6500ff12")},
        {Event::Kind::Command, 0xf1, 0, {}},
        {Event::Kind::Data, 0, 0, hex("43ff0d00")},
    };
    const QByteArray stream = mixedStream;
    QCOMPARE(merged(Telnet::Decoder().feed(stream)), expected);
    for (int cut = 1; cut < stream.size(); ++cut) {
        Telnet::Decoder decoder;
        QList<Event> events = decoder.feed(stream.left(cut));
        events += decoder.feed(stream.mid(cut));
        QVERIFY2(merged(events) == expected, qPrintable(QString("cut at %1").arg(cut)));
    }
    Telnet::Decoder bytewise;
    QList<Event> events;
    for (const char byte : stream)
        events += bytewise.feed(QByteArray(1, byte));
    QCOMPARE(merged(events), expected);
}

void TestRfc2217::oversizedSubnegotiationDropped()
{
    Telnet::Decoder decoder;
    QByteArray stream = hex("fffa2c01");
    stream += QByteArray(Telnet::Decoder::MaxSubnegotiation * 4, 'x');
    stream += hex("fff0 41");
    const QList<Event> events = decoder.feed(stream);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].bytes, QByteArray("A"));
}

void TestRfc2217::clientOpeningRequests()
{
    Rfc2217::ClientProtocol client;
    QCOMPARE(client.start(), hex("fffb2c fffb00 fffd00"));
    QVERIFY(!client.comPortDecided());
    QCOMPARE(client.receive(hex("fffd2c")), QByteArray()); // the answer needs no reply
    QVERIFY(client.comPortDecided());
    QVERIFY(client.comPortAccepted());

    Rfc2217::ClientProtocol refused;
    refused.start();
    refused.receive(hex("fffe2c"));
    QVERIFY(refused.comPortDecided());
    QVERIFY(!refused.comPortAccepted());
}

void TestRfc2217::clientSubnegotiations_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("4800,n,8,2") << "4800,n,8,2"
                                << hex("fffa2c01000012c0fff0 fffa2c0208fff0 fffa2c0301fff0 "
                                       "fffa2c0402fff0");
    QTest::newRow("9600,e,7,1") << "9600,e,7,1"
                                << hex("fffa2c0100002580fff0 fffa2c0207fff0 fffa2c0303fff0 "
                                       "fffa2c0401fff0");
    QTest::newRow("110,o,5,1.5") << "110,o,5,1.5"
                                 << hex("fffa2c010000006efff0 fffa2c0205fff0 fffa2c0302fff0 "
                                        "fffa2c0403fff0");
    QTest::newRow("mark and space") << "256000,m,8,1"
                                    << hex("fffa2c010003e800fff0 fffa2c0208fff0 fffa2c0304fff0 "
                                           "fffa2c0401fff0");
}

void TestRfc2217::clientSubnegotiations()
{
    QFETCH(QString, settings);
    QFETCH(QByteArray, expected);
    Rfc2217::ClientProtocol client;
    QCOMPARE(client.configure(LineSettings::parse(settings)), expected);
    QVERIFY(client.awaitingAnswers());
    QCOMPARE(client.control(Rfc2217::ControlDtrOn), hex("fffa2c0508fff0"));
    QCOMPARE(client.control(Rfc2217::ControlDtrOff), hex("fffa2c0509fff0"));
    QCOMPARE(client.control(Rfc2217::ControlRtsOn), hex("fffa2c050bfff0"));
    QCOMPARE(client.control(Rfc2217::ControlRtsOff), hex("fffa2c050cfff0"));
}

void TestRfc2217::negotiationAnswers_data()
{
    QTest::addColumn<QByteArray>("fromServer");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("echo refused") << hex("fffb01") << hex("fffe01");
    QTest::newRow("suppress go-ahead taken") << hex("fffb03") << hex("fffd03");
    QTest::newRow("do suppress go-ahead") << hex("fffd03") << hex("fffb03");
    QTest::newRow("unknown option refused") << hex("fffd18") << hex("fffc18");
    QTest::newRow("binary as asked") << hex("fffb00 fffd00") << QByteArray();
    QTest::newRow("repeated request not answered twice") << hex("fffb03 fffb03") << hex("fffd03");
    QTest::newRow("wont for an off option is quiet") << hex("fffc01") << QByteArray();
    QTest::newRow("binary withdrawn") << hex("fffb00 fffc00") << hex("fffe00");
}

void TestRfc2217::negotiationAnswers()
{
    QFETCH(QByteArray, fromServer);
    QFETCH(QByteArray, reply);
    Rfc2217::ClientProtocol client;
    client.start();
    QCOMPARE(client.receive(fromServer), reply);
}

void TestRfc2217::answersClearAndRefusals()
{
    Rfc2217::ClientProtocol client;
    client.configure(LineSettings::parse("4800,n,8,2"));
    client.receive(hex("fffa2c65000012c0fff0 fffa2c6608fff0 fffa2c6701fff0"));
    QVERIFY(client.awaitingAnswers());
    client.receive(hex("fffa2c6802fff0"));
    QVERIFY(!client.awaitingAnswers());
    QVERIFY(client.refusal().isEmpty());

    client.configure(LineSettings::parse("4800,n,8,2"));
    client.receive(hex("fffa2c6500002580fff0")); // the server stays at 9600
    QVERIFY(client.refusal().contains("baud rate"));

    QCOMPARE(client.receive(hex("4142ffff43")), QByteArray()); // the radio's data needs no reply
}

void TestRfc2217::dataOutsideBinaryMode()
{
    Rfc2217::ClientProtocol client;
    QCOMPARE(client.data(hex("0dff07")), hex("0d00ffff07"));
    client.start();
    client.receive(hex("fffd00"));
    QCOMPARE(client.data(hex("0dff07")), hex("0dffff07"));
}

void TestRfc2217::clientAndServerAgree_data()
{
    QTest::addColumn<int>("chunk");
    for (const int chunk : {1, 2, 3, 5, 7, 1000})
        QTest::addRow("pieces of %d", chunk) << chunk;
}

void TestRfc2217::clientAndServerAgree()
{
    QFETCH(int, chunk);
    Link link;
    link.run(link.client.start(), link.server.start(), chunk);
    QVERIFY(link.client.comPortAccepted());
    QVERIFY(link.rounds < 10);

    QByteArray toServer = link.client.configure(LineSettings::parse("4800,o,7,1.5"));
    toServer += link.client.control(Rfc2217::ControlRtsOn);
    toServer += link.client.control(Rfc2217::ControlDtrOn);
    toServer += link.client.data(hex("01ff00ff07"));
    link.run(toServer, {}, chunk);
    QVERIFY(!link.client.awaitingAnswers());
    QVERIFY(link.client.refusal().isEmpty());
    const SimPortState &state = link.server.state();
    QCOMPARE(state.baud, 4800);
    QCOMPARE(state.data, 7);
    QCOMPARE(state.parity, 'o');
    QCOMPARE(state.stop, "1.5");
    QVERIFY(state.dtr && state.rts);
    QCOMPARE(link.radioData, hex("01ff00ff07"));

    link.run(link.client.control(Rfc2217::ControlDtrOff), {}, chunk);
    QVERIFY(!link.server.state().dtr && link.server.state().rts);
}

void TestRfc2217::serverAnswers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("baud") << hex("fffa2c01000012c0fff0") << hex("fffa2c65000012c0fff0");
    QTest::newRow("baud query") << hex("fffa2c0100000000fff0") << hex("fffa2c6500002580fff0");
    QTest::newRow("data size refused") << hex("fffa2c0209fff0") << hex("fffa2c6608fff0");
    QTest::newRow("parity even") << hex("fffa2c0303fff0") << hex("fffa2c6703fff0");
    QTest::newRow("stop query") << hex("fffa2c0400fff0") << hex("fffa2c6801fff0");
    QTest::newRow("dtr on") << hex("fffa2c0508fff0") << hex("fffa2c6908fff0");
    QTest::newRow("dtr query") << hex("fffa2c0507fff0") << hex("fffa2c6909fff0");
    QTest::newRow("flow") << hex("fffa2c0501fff0") << hex("fffa2c6901fff0");
    QTest::newRow("purge") << hex("fffa2c0c01fff0") << hex("fffa2c7001fff0");
    QTest::newRow("modem state mask") << hex("fffa2c0bfffffff0") << hex("fffa2c6fffff fff0");
    QTest::newRow("telnet will com port") << hex("fffb2c") << hex("fffd2c");
}

void TestRfc2217::serverAnswers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    Rfc2217ServerSession server;
    QCOMPARE(server.receive(request).replies, answer);
}

void TestRfc2217::addresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("ipv4") << "rfc2217://127.0.0.1:2217"
                          << "127.0.0.1" << 2217;
    QTest::newRow("ipv6") << "rfc2217://[::1]:7000"
                          << "::1" << 7000;
    QTest::newRow("name") << "rfc2217://radio-shack.local:4000"
                          << "radio-shack.local" << 4000;
    QTest::newRow("upper scheme") << "RFC2217://10.0.0.2:1"
                                  << "10.0.0.2" << 1;
    QTest::newRow("no port") << "rfc2217://127.0.0.1"
                             << "" << 0;
    QTest::newRow("port zero") << "rfc2217://127.0.0.1:0"
                               << "" << 0;
    QTest::newRow("port too large") << "rfc2217://127.0.0.1:65536"
                                    << "" << 0;
    QTest::newRow("bare ipv6") << "rfc2217://::1:7000"
                               << "" << 0;
    QTest::newRow("path") << "rfc2217://host:1/x"
                          << "" << 0;
}

void TestRfc2217::addresses()
{
    QFETCH(QString, address);
    QFETCH(QString, host);
    QFETCH(int, port);
    QString parsedHost;
    quint16 parsedPort = 0;
    const bool ok = Rfc2217PortBackend::parseAddress(address, &parsedHost, &parsedPort);
    QCOMPARE(ok, port != 0);
    if (ok) {
        QCOMPARE(parsedHost, host);
        QCOMPARE(int(parsedPort), port);
    }
}

void TestRfc2217::frameNames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("name");
    QTest::newRow("opening") << hex("0000000000") << "cat on";
    QTest::newRow("receive") << hex("0300000007") << "mode cwr";
    QTest::newRow("transmit") << hex("0100000007") << "mode usb";
    QTest::newRow("fm narrow") << hex("8800000007") << "mode fm narrow";
    QTest::newRow("sat rx mode") << hex("0000000017") << "sat rx mode lsb";
    QTest::newRow("bad mode") << hex("0500000007") << "unknown";
    QTest::newRow("cat off") << hex("0000000080") << "cat off";
    QTest::newRow("ptt on") << hex("0000000008") << "ptt on";
    QTest::newRow("ptt off") << hex("0000000088") << "ptt off";
    QTest::newRow("frequency") << hex("1451250001") << "set frequency 145.12500 MHz";
    QTest::newRow("frequency not bcd") << hex("1a51250001") << "unknown";
    QTest::newRow("sat tx frequency") << hex("1459000021") << "sat tx set frequency 145.90000 MHz";
    QTest::newRow("sat rx read") << hex("0000000013") << "sat rx read frequency and mode";
    QTest::newRow("rx status") << hex("00000000e7") << "read rx status";
    QTest::newRow("tone on") << hex("2a0000000a") << "ctcss encode and decode on";
    QTest::newRow("sat tx tone off") << hex("8a0000002a") << "sat tx ctcss and dcs off";
    QTest::newRow("ctcss tone") << hex("0e0000000b") << "ctcss tone 88.5 Hz";
    QTest::newRow("ctcss code it has not") << hex("400000000b") << "unknown";
    QTest::newRow("dcs code") << hex("002300000c") << "dcs code 023";
    QTest::newRow("repeater shift") << hex("0000000049") << "repeater shift plus";
    QTest::newRow("repeater offset") << hex("00060000f9") << "repeater offset 0.60000 MHz";
    QTest::newRow("unknown opcode") << hex("ff000000ff") << "unknown";
    QTest::newRow("short") << hex("0000") << "unknown";
}

void TestRfc2217::frameNames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, name);
    QCOMPARE(ft847FrameName(frame), name);
}

ZOLVEK_TEST_MAIN(TestRfc2217, false)
#include "test_rfc2217.moc"
