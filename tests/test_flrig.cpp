// flrig's XML-RPC door of the real window on the virtual radio: flrig's methods and types as
// fldigi and Hamlib's flrig backend read them, keys that end with their program, and nothing
// carried out for a web page.
#include "app/form1.h"
#include "tests/jsonprocess.h"
#include "tests/testsupport.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

namespace {

QByteArray call(const QByteArray &method, const QByteArray &params = QByteArray())
{
    return "<?xml version=\"1.0\"?>\r\n<?clientid=\"test(1)\"?>\r\n<methodCall><methodName>"
           + method + "</methodName><params>" + params + "</params></methodCall>\r\n";
}

QByteArray param(const QByteArray &value)
{
    return "<param><value>" + value + "</value></param>";
}

} // namespace

class TestFlrig : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void methods_data();
    void methods();
    void hamlibFlrigBackend();
    void keyEndsWithItsProgram_data();
    void keyEndsWithItsProgram();
    void changeOutlivesItsProgram();
    void nothingFromABrowser_data();
    void nothingFromABrowser();

private:
    bool connectClient(QTcpSocket &client);
    // Posts `body` and returns the whole HTTP answer; `headers` replace the usual ones.
    QByteArray post(QTcpSocket &client, const QByteArray &body, const QByteArray &headers = {});
    bool linesHigh();

    SimProcess m_sim;
    std::unique_ptr<Form1> m_form;
    quint16 m_port = 0;
};

void TestFlrig::init()
{
    testStore().reset();
    QVERIFY(m_sim.start(QStringLiteral("127.0.0.1:0"),
                        {"--frequency", "7074000", "--smeter", "20", "--pacing", "30"}));
    testStore().mapPort(1, m_sim.url());
    m_form = std::make_unique<Form1>(safePortFactory());
    m_form->Form_Load();
    const QString address = m_form->startFlrig("127.0.0.1:0");
    QVERIFY(!address.isEmpty());
    m_port = quint16(address.section(':', -1).toUInt());
    QVERIFY(m_sim.waitFor([this](const auto &) { return m_sim.named("frame").size() >= 2; }));
}

void TestFlrig::cleanup()
{
    const qsizetype dropped = m_sim.named("dropped").size();
    m_form.reset();
    m_sim.stop();
    QCOMPARE(dropped, 0);
}

bool TestFlrig::connectClient(QTcpSocket &client)
{
    client.connectToHost(QHostAddress::LocalHost, m_port);
    return QTest::qWaitFor([&] { return client.state() == QAbstractSocket::ConnectedState; }, 5000);
}

QByteArray TestFlrig::post(QTcpSocket &client, const QByteArray &body, const QByteArray &headers)
{
    const QByteArray head = headers.isNull()
                                ? "Host: 127.0.0.1:" + QByteArray::number(m_port)
                                      + "\r\nContent-Type: text/xml\r\n"
                                : headers;
    client.write("POST /RPC2 HTTP/1.1\r\n" + head
                 + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray got;
    const QDeadlineTimer deadline(5000);
    const auto complete = [&] {
        const qsizetype end = got.indexOf("\r\n\r\n");
        static const QRegularExpression length("(?i)content-length: *(\\d+)");
        const auto match = length.match(QString::fromLatin1(got.left(end)));
        return end >= 0 && match.hasMatch() && got.size() >= end + 4 + match.captured(1).toInt();
    };
    while (!complete() && !deadline.hasExpired() && client.state() == QAbstractSocket::ConnectedState) {
        QTest::qWait(1);
        got += client.readAll();
    }
    return got + client.readAll();
}

bool TestFlrig::linesHigh()
{
    const auto lines = m_sim.named("lines");
    return !lines.isEmpty() && lines.last().value("dtr").toBool();
}

// Each call, twice on one kept-alive connection, and the value flrig's types give it.
void TestFlrig::methods_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("value");
    QTest::newRow("transceiver") << call("rig.get_xcvr") << "<value>FT-847</value>";
    QTest::newRow("frequency, a string") << call("rig.get_vfoA") << "<value>7074000</value>";
    QTest::newRow("PTT, an int") << call("rig.get_ptt") << "<value><i4>0</i4></value>";
    QTest::newRow("modes, flrig's names")
        << call("rig.get_modes") << "<value><array><data><value>LSB</value>.*<value>FM-N</value>"
                                    "</data></array></value>";
    QTest::newRow("sideband") << call("rig.get_sideband") << "<value>U</value>";
    QTest::newRow("S-meter 0-100") << call("rig.get_smeter") << "<value><i4>64</i4></value>";
    QTest::newRow("bandwidths") << call("rig.get_bws")
                                << "<array><data><value>Bandwidth</value><value>2200</value>";
    QTest::newRow("set, frequency as a double")
        << call("rig.set_vfoA", param("<double>7040000.000000</double>")) << "<value></value>";
    QTest::newRow("untunable frequency")
        << call("rig.set_vfo", param("<double>1e12</double>"))
        << "<fault>.*not a frequency the FT-847 tunes";
    QTest::newRow("unknown method")
        << call("rig.foo") << "<fault>.*<value>rig.foo: unknown method name</value>";
    QTest::newRow("not XML-RPC") << QByteArray("<a>") << "<fault>";
}

void TestFlrig::methods()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, value);
    QTcpSocket client;
    QVERIFY(connectClient(client));
    for (int time = 0; time < 2; ++time) {
        const QByteArray got = post(client, body);
        QVERIFY2(got.startsWith("HTTP/1.1 200 OK\r\n"), got.constData());
        QVERIFY2(QRegularExpression(value, QRegularExpression::DotMatchesEverythingOption)
                     .match(QString::fromUtf8(got))
                     .hasMatch(),
                 got.constData());
    }
}

// Hamlib's flrig backend, as WSJT-X uses it: tunes, reads, keys and splits.
void TestFlrig::hamlibFlrigBackend()
{
    QProcess rigctl;
    rigctl.start("rigctl", {"-m", "4", "-r", QStringLiteral("127.0.0.1:%1").arg(m_port), "F",
                            "145100000", "f", "M", "FM", "0", "T", "1", "t", "T", "0", "t",
                            "S", "1", "VFOB", "I", "435300000", "i"});
    QVERIFY(QTest::qWaitFor([&] { return rigctl.state() == QProcess::NotRunning; }, 30000));
    QCOMPARE(rigctl.exitCode(), 0);
    QCOMPARE(QString::fromLatin1(rigctl.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
             (QStringList{"145100000", "1", "0", "435300000"}));
    QStringList frames;
    for (const QJsonObject &frame : m_sim.named("frame"))
        frames << frame.value("name").toString();
    for (const char *name : {"set frequency 145.10000 MHz", "mode fm", "sat mode on",
                             "sat tx set frequency 435.30000 MHz"})
        QVERIFY2(frames.contains(name), name);
    QCOMPARE(m_sim.named("lines").size(), 4); // keyed and released once
}

void TestFlrig::keyEndsWithItsProgram_data()
{
    QTest::addColumn<bool>("closeInstead");
    QTest::newRow("set_ptt 0") << false;
    QTest::newRow("the program goes") << true;
}

void TestFlrig::keyEndsWithItsProgram()
{
    QFETCH(bool, closeInstead);
    QTcpSocket client;
    QVERIFY(connectClient(client));
    post(client, call("rig.set_ptt", param("<i4>1</i4>")));
    QVERIFY(m_sim.waitFor([&](const auto &) { return linesHigh(); }));
    QVERIFY(post(client, call("rig.get_ptt")).contains("<i4>1</i4>"));
    if (closeInstead)
        client.abort();
    else
        post(client, call("rig.set_ptt", param("<i4>0</i4>")));
    QVERIFY(m_sim.waitFor([&](const auto &) { return !linesHigh(); }));
}

// A change answered while queued behind another's still goes when its program leaves at once.
void TestFlrig::changeOutlivesItsProgram()
{
    QTcpSocket other, client;
    QVERIFY(connectClient(other) && connectClient(client));
    post(other, call("rig.set_vfoB", param("<double>435300000</double>")));
    QVERIFY(post(client, call("rig.set_mode", param("LSB"))).contains("200 OK"));
    client.abort();
    QVERIFY(m_sim.waitFor([&](const auto &) {
        return m_sim.named("frame").last().value("name").toString().endsWith("lsb");
    }));
}

// What a page in a browser can make it send: never carried out, and the connection closed.
void TestFlrig::nothingFromABrowser_data()
{
    const QByteArray host = "Host: 127.0.0.1\r\n";
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status");
    const QByteArray key = call("rig.set_ptt", param("<i4>1</i4>"));
    const QByteArray length = "Content-Length: " + QByteArray::number(key.size()) + "\r\n\r\n";
    QTest::newRow("fetch with an Origin")
        << "POST /RPC2 HTTP/1.1\r\n" + host + "Origin: http://example.com\r\nContent-Type: text/xml\r\n" + length + key
        << QByteArray("403");
    QTest::newRow("form or sendBeacon, text/plain")
        << "POST /RPC2 HTTP/1.1\r\n" + host + "Content-Type: text/plain\r\n" + length + key
        << QByteArray("415");
    QTest::newRow("DNS rebinding: a foreign Host")
        << "POST /RPC2 HTTP/1.1\r\nHost: rig.example.com:12345\r\nContent-Type: text/xml\r\n" + length + key
        << QByteArray("403");
    QTest::newRow("CORS preflight")
        << "OPTIONS /RPC2 HTTP/1.1\r\n" + host + "Origin: http://example.com\r\nAccess-Control-Request-Method: POST\r\n\r\n"
        << QByteArray("405");
    QTest::newRow("body larger than any call")
        << "POST /RPC2 HTTP/1.1\r\n" + host + "Content-Type: text/xml\r\nContent-Length: 99999999\r\n\r\n"
        << QByteArray("413");
}

void TestFlrig::nothingFromABrowser()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    QTcpSocket client;
    QVERIFY(connectClient(client));
    client.write(request);
    QVERIFY(QTest::qWaitFor([&] { return client.state() != QAbstractSocket::ConnectedState; }, 5000));
    const QByteArray got = client.readAll();
    QVERIFY2(got.startsWith(QByteArray(QByteArray("HTTP/1.1 ") + status)), got.constData());
    QVERIFY(!got.contains("Access-Control"));
    QTest::qWait(200);
    QCOMPARE(m_sim.named("lines").size(), 2); // the open's only
}

ZOLVEK_TEST_MAIN(TestFlrig, true)

#include "test_flrig.moc"
