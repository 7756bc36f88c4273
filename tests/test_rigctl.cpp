// The rigctl listener of the real window, keying and tuning the virtual radio, with Hamlib's own
// rigctl and direwolf as clients and with raw sockets.
#include "app/form1.h"
#include "hostlink/pttswitch.h"
#include "rigctl/rigctllistener.h"
#include "tests/form1controls.h"
#include "tests/jsonprocess.h"
#include "tests/testsupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <sys/socket.h>

namespace {

// Reads until `lines` lines are in, the event loop turning meanwhile (the listener lives here).
QByteArray answer(QIODevice &from, int lines, QByteArray *so_far = nullptr)
{
    QByteArray got = so_far ? *so_far : QByteArray();
    const QDeadlineTimer deadline(5000);
    while (got.count('\n') < lines && !deadline.hasExpired()) {
        QTest::qWait(1);
        got += from.readAll();
    }
    return got;
}

QByteArray ask(QTcpSocket &client, const QByteArray &text, int lines = 1)
{
    client.write(text);
    return answer(client, lines);
}

} // namespace

class TestRigctl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void hamlibClientTunesAndKeys();
    void keyingIsByTheLinesAlone();
    void listenerOvertakesWindowReceive();
    void badInputAnsweredNotKept_data();
    void badInputAnsweredNotKept();
    void firstLineDecides_data();
    void firstLineDecides();
    void browserRequestsNeverKey_data();
    void browserRequestsNeverKey();
    void halfClosedScriptAnswered();
    void openListenNeedsAllowList_data();
    void openListenNeedsAllowList();
    void oneRadioForEveryClient();
    void keyedClientThatGoes_data();
    void keyedClientThatGoes();
    void clientsThatKeyAndVanish();
    void fullHouseMakesRoom();
    void direwolfBeaconsKeyTheRadio();
    void silentRadioSaidOnce();
    void keyBelongsToWhoKeyed_data();
    void keyBelongsToWhoKeyed();
    void noRetuneWhileAnotherTransmits_data();
    void noRetuneWhileAnotherTransmits();
    void oneReadServesAll();
    void freshAnswerServesTheSameRead_data();
    void freshAnswerServesTheSameRead();
    void lateAnswersNeverMisread();
    void vfoModePerConnection();
    void timeoutCountsFromTheKey();
    void listenerOffAndOnKeepsTheRadio();

private:
    bool connectClient(QTcpSocket &client);
    bool linesAtRadio(bool high, int timeoutMs = 5000);

    SimProcess m_sim;
    bool m_paused = false;
    std::unique_ptr<Form1> m_form;
    quint16 m_port = 0;
};

void TestRigctl::init()
{
    testStore().reset();
    // A radio on 40 m that no client has tuned.
    // A radio that misses frames sent closer than it takes them (30 ms: the utility paces them
    // 50 ms apart; the rest is room for a loaded machine).
    QVERIFY(m_sim.start(QStringLiteral("127.0.0.1:0"),
                        {"--frequency", "7074000", "--smeter", "20", "--pacing", "30"}));
    testStore().mapPort(1, m_sim.url());
    m_form = std::make_unique<Form1>(safePortFactory());
    m_form->Form_Load();
    const QString address = m_form->startRigctlListener("127.0.0.1:0");
    QVERIFY(!address.isEmpty());
    m_port = quint16(address.section(':', -1).toUInt());
    // The start-up frames have reached the radio.
    QVERIFY(m_sim.waitFor([this](const auto &) { return m_sim.named("frame").size() >= 2; }));
}

void TestRigctl::cleanup()
{
    const qsizetype dropped = m_sim.named("dropped").size();
    m_form.reset();
    m_sim.stop();
    // A radio paused by a test takes what came during the pause all at once.
    if (!std::exchange(m_paused, false))
        QCOMPARE(dropped, 0);
}

bool TestRigctl::connectClient(QTcpSocket &client)
{
    client.connectToHost(QHostAddress::LocalHost, m_port);
    const QDeadlineTimer deadline(5000);
    while (client.state() != QAbstractSocket::ConnectedState && !deadline.hasExpired())
        QTest::qWait(1);
    return client.state() == QAbstractSocket::ConnectedState;
}

bool TestRigctl::linesAtRadio(bool high, int timeoutMs)
{
    return m_sim.waitFor(
        [high](const JsonProcess::Events &events) {
            for (auto it = events.rbegin(); it != events.rend(); ++it)
                if (it->value("event") == "lines")
                    return it->value("dtr").toBool() == high && it->value("rts").toBool() == high;
            return false;
        },
        timeoutMs);
}

// Debian's rigctl as a "Hamlib NET rigctl" client: it reads the radio's own frequency, tunes it
// with a set-frequency frame, and keys and releases it by the lines.
void TestRigctl::hamlibClientTunesAndKeys()
{
    if (QStandardPaths::findExecutable("rigctl").isEmpty())
        QSKIP("rigctl (package libhamlib-utils) is not installed");
    QProcess rigctl;
    rigctl.start("rigctl", {"-m", "2", "-r", QStringLiteral("127.0.0.1:%1").arg(m_port), "-"});
    QVERIFY(rigctl.waitForStarted(5000));
    rigctl.write("f\nF 14074000\nT 1\nt\n");
    QByteArray out = answer(rigctl, 7); // "\nf 7074000\n\nF 14074000 \n\nT 1 \nt 1\n"
    QVERIFY2(out.contains("f 7074000\n") && out.contains("t 1"), out.constData());
    QCOMPARE(m_sim.waitForEvent("frequency").value("hz").toInt(), 14074000);
    QCOMPARE(m_sim.named("frame").last().value("name").toString(), "set frequency 14.07400 MHz");
    QVERIFY(linesAtRadio(true));
    rigctl.write("T 0\nt\nq\n");
    rigctl.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(rigctl.state() == QProcess::NotRunning, 5000);
    QVERIFY(linesAtRadio(false));
    QCOMPARE(rigctl.exitCode(), 0);
    // A client that never set it reads what the radio was tuned to, from the radio.
    QTcpSocket client;
    QVERIFY(connectClient(client));
    QCOMPARE(ask(client, "f\n"), QByteArray("14074000\n"));
    QCOMPARE(m_sim.named("frame").last().value("name").toString(), "read frequency and mode");
}

// No mode frame for a Hamlib client's keying, so nothing waits for a settling delay; a request
// the radio is already in touches nothing.
void TestRigctl::keyingIsByTheLinesAlone()
{
    QTcpSocket client;
    QVERIFY(connectClient(client));
    const int frames = int(m_sim.named("frame").size());
    QCOMPARE(ask(client, "T 1\n"), QByteArray("RPRT 0\n"));
    QCOMPARE(ask(client, "T 3\n"), QByteArray("RPRT 0\n"));
    QVERIFY(linesAtRadio(true));
    QCOMPARE(Shape1(*m_form)->FillColor(), QColor(255, 0, 0));
    QElapsedTimer released;
    released.start();
    QCOMPARE(ask(client, "T 0\n"), QByteArray("RPRT 0\n"));
    const qint64 ms = released.elapsed();
    qInfo("T 0 answered in %lld ms", ms);
    QVERIFY2(ms < 100, qPrintable(QString::number(ms)));
    QCOMPARE(ask(client, "T 0\nt\n", 2), QByteArray("RPRT 0\n0\n"));
    QVERIFY(linesAtRadio(false));
    QCOMPARE(Shape1(*m_form)->FillColor(), QColor(0, 255, 0));
    QCOMPARE(m_sim.named("frame").size(), frames);
    QCOMPARE(m_sim.named("lines").size(), 4); // connect, open, one key, one release
}

// A listener transmit during the window's receive delay overtakes it: no receive frame follows.
void TestRigctl::listenerOvertakesWindowReceive()
{
    QTcpSocket client;
    QVERIFY(connectClient(client));
    m_form->ptt(0, 1);
    QTimer::singleShot(100, &client, [&client] { client.write("T 1\n"); });
    QElapsedTimer settling;
    settling.start();
    m_form->ptt(0, 0);
    QVERIFY(settling.elapsed() < PttSwitch::SettlingDelayMs);
    QCOMPARE(answer(client, 1), QByteArray("RPRT 0\n"));
    QCOMPARE(Shape1(*m_form)->FillColor(), QColor(255, 0, 0));
    QVERIFY(linesAtRadio(true));
    QCOMPARE(m_sim.named("frame").last().value("hex").toString(), "0100000007");
}

void TestRigctl::badInputAnsweredNotKept_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("HTTP request line") << QByteArrayList{"POST / HTTP/1.1\nT 1\n"} << QByteArray();
    QTest::newRow("HTTP header line")
        << QByteArrayList{"Host: 127.0.0.1:4532\n\nT 1\n"} << QByteArray();
    QTest::newRow("T -1") << QByteArrayList{"T -1\n"} << QByteArray("RPRT -1\n");
    QTest::newRow("T 4") << QByteArrayList{"T 4\n"} << QByteArray("RPRT -1\n");
    QTest::newRow("T 100") << QByteArrayList{"T 100\n"} << QByteArray("RPRT -1\n");
    QTest::newRow("T 1.5") << QByteArrayList{"T 1.5\n"} << QByteArray("RPRT -1\n");
    QTest::newRow("over 1 KiB") << QByteArrayList{QByteArray(3000, 'T') + "\n"}
                                << QByteArray("RPRT -1\n");
    QTest::newRow("binary") << QByteArrayList{QByteArray("\x00\xff\x01 T 1\n", 8)}
                            << QByteArray("RPRT -1\n");
    QTest::newRow("level it lacks")
        << QByteArrayList{"\\get_level RFPOWER\n"} << QByteArray("RPRT -1\n");
    // The value missing from T's line is the next line's first word.
    QTest::newRow("T, then a word") << QByteArrayList{"T\n", "on\n"} << QByteArray("RPRT -1\n");
    QTest::newRow("F nan") << QByteArrayList{"F nan\n"} << QByteArray("RPRT -1\n");
    QTest::newRow("F inf") << QByteArrayList{"F inf\n"} << QByteArray("RPRT -1\n");
    QTest::newRow("F between bands") << QByteArrayList{"F 31000000\n"} << QByteArray("RPRT -1\n");
    QTest::newRow("mode it has not") << QByteArrayList{"M RTTY 0\n"} << QByteArray("RPRT -1\n");
    QTest::newRow("split 2") << QByteArrayList{"S 2 Sub\n"} << QByteArray("RPRT -1\n");
    QTest::newRow("extended form")
        << QByteArrayList{"+\\get_vfo\n"} << QByteArray("get_vfo:\nRPRT -11\n");
}

// Nothing a rig client sends crashes the listener, grows without bound, tunes or keys the radio
// by accident; the connection still answers afterwards. A line of an HTTP request (a web page
// posting to the port) closes it instead, with nothing after it carried out.
void TestRigctl::badInputAnsweredNotKept()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArray, expected);
    QTcpSocket client;
    QVERIFY(connectClient(client));
    const int frames = int(m_sim.named("frame").size());
    QCOMPARE(ask(client, "t\n"), QByteArray("0\n"));
    QByteArray got;
    for (const QByteArray &piece : pieces)
        got = ask(client, piece, pieces.last() == piece ? int(expected.count('\n')) : 0);
    QCOMPARE(got, expected);
    if (expected.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 5000);
    else
        QCOMPARE(ask(client, "\\chk_vfo\n"), QByteArray("0\n"));
    QCOMPARE(Shape1(*m_form)->FillColor(), QColor(0, 255, 0));
    QCOMPARE(m_sim.named("frame").size(), frames);
}

void TestRigctl::firstLineDecides_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<bool>("served");
    // What real clients open with: Hamlib's own (WSJT-X, JS8Call, fldigi, direwolf), older
    // Hamlib, loggers and scripts.
    QTest::newRow("\\chk_vfo") << QByteArray("\\chk_vfo\n") << true;
    QTest::newRow("\\dump_state") << QByteArray("\\dump_state\n") << true;
    QTest::newRow("f") << QByteArray("f\n") << true;
    QTest::newRow("T 0, CRLF") << QByteArray("T 0\r\n") << true;
    QTest::newRow("+\\get_powerstat") << QByteArray("+\\get_powerstat\n") << true;
    QTest::newRow(";\\get_freq") << QByteArray(";\\get_freq\n") << true;
    QTest::newRow("a word") << QByteArray("hello\nT 1\n") << false;
    QTest::newRow("blank line, then f") << QByteArray(" \nf\n") << true;
    QTest::newRow("TAB between commands") << QByteArray("f\tt\n") << true;
    QTest::newRow(";f;m") << QByteArray(";f;m\n") << true;
    QTest::newRow("ssh") << QByteArray("SSH-2.0-OpenSSH_9.2\r\nT 1\n") << false;
    QTest::newRow("TLS hello") << QByteArray::fromHex("160301020001") + "\nT 1\n" << false;
}

// Only a rig client is served: a connection whose first line is not a rigctl command is closed
// with nothing carried out.
void TestRigctl::firstLineDecides()
{
    QFETCH(QByteArray, first);
    QFETCH(bool, served);
    QTcpSocket client;
    QVERIFY(connectClient(client));
    client.write(first);
    if (served) {
        // Answered, and still served: its answers, then "t"'s.
        QByteArray got = answer(client, 1);
        client.write("t\n");
        QVERIFY2(QTest::qWaitFor([&] { return (got += client.readAll()).endsWith("\n0\n"); }, 5000),
                 got.constData());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(client.readAll(), QByteArray());
    QCOMPARE(Shape1(*m_form)->FillColor(), QColor(0, 255, 0));
}

void TestRigctl::browserRequestsNeverKey_data()
{
    QTest::addColumn<QByteArray>("request");
    const QByteArray headers = "Host: 127.0.0.1:4532\r\nConnection: keep-alive\r\n"
                               "User-Agent: Mozilla/5.0 (X11; Linux x86_64) Chrome/156.0\r\n"
                               "Origin: http://127.0.0.1:8000\r\nAccept: */*\r\n";
    QTest::newRow("fetch, no-cors, text/plain")
        << "POST / HTTP/1.1\r\n" + headers
               + "Content-Type: text/plain;charset=UTF-8\r\nContent-Length: 4\r\n\r\nT 1\n";
    // A text/plain form sends name=value lines: a field named "T 1\nT" with the value 1.
    QTest::newRow("form, text/plain")
        << "POST /submit HTTP/1.1\r\n" + headers
               + "Content-Type: text/plain\r\nContent-Length: 8\r\n\r\nT 1\r\nT=1\r\n";
    QTest::newRow("request in pieces") << QByteArray("POST / HT");
}

// A web page can make a browser send a simple request to the port: its request line closes the
// connection, and its body is never carried out.
void TestRigctl::browserRequestsNeverKey()
{
    QFETCH(QByteArray, request);
    QTcpSocket client;
    QVERIFY(connectClient(client));
    const int lines = int(m_sim.named("lines").size());
    client.write(request);
    if (!request.endsWith('\n'))
        client.write("TP/1.1\r\nContent-Length: 4\r\n\r\nT 1\n");
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(client.readAll(), QByteArray());
    QCOMPARE(m_sim.named("lines").size(), lines);
    QCOMPARE(Shape1(*m_form)->FillColor(), QColor(0, 255, 0));
}

// A script that sends its commands and half-closes (nc -N, socat) gets every answer, then the
// end; what it keyed is released when it is done.
void TestRigctl::halfClosedScriptAnswered()
{
    QTcpSocket client;
    QVERIFY(connectClient(client));
    client.write("t\nf\nT 1\n");
    QVERIFY(client.waitForBytesWritten(5000));
    QCOMPARE(::shutdown(int(client.socketDescriptor()), SHUT_WR), 0);
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(client.readAll(), QByteArray("0\n7074000\nRPRT 0\n"));
    QTRY_COMPARE_WITH_TIMEOUT(Shape1(*m_form)->FillColor(), QColor(0, 255, 0), 5000);
    QVERIFY(linesAtRadio(false));
}

void TestRigctl::openListenNeedsAllowList_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("allow");
    QTest::addColumn<QString>("why");
    QTest::newRow("every interface") << "0.0.0.0:0"
                                     << ""
                                     << "reachable from other computers";
    QTest::newRow("IPv6 any") << "[::]:0"
                              << " , "
                              << "reachable from other computers";
    QTest::newRow("bad entry") << "0.0.0.0:0"
                               << "192.0.2.0/24,192.0.2.300"
                               << "192.0.2.300 is not an address";
}

// Listening where other computers reach it is chosen, not stumbled into: without a list of who
// may connect, the utility says why and runs on without the listener.
void TestRigctl::openListenNeedsAllowList()
{
    QFETCH(QString, address);
    QFETCH(QString, allow);
    QFETCH(QString, why);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no rigctl listener: .*" + why));
    QCOMPARE(m_form->startRigctlListener(address, allow), QString());
    QTRY_VERIFY_WITH_TIMEOUT(m_form->findChild<QMessageBox *>("ListenFailedBox"), 5000);
    QVERIFY(m_form->findChild<QMessageBox *>("ListenFailedBox")->informativeText().contains(why));
}

// Each client is answered in its own order, and all of them share the one radio: the last
// frequency set is what every client reads, from the radio.
void TestRigctl::oneRadioForEveryClient()
{
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        QVERIFY(connectClient(*clients.back()));
        clients.back()->write("F " + QByteArray::number(7000000 + 10 * i) + "\n\\chk_vfo\n");
    }
    for (auto &client : clients)
        QCOMPARE(answer(*client, 2), "RPRT 0\n0\n");
    // The last set is on its way down the radio's line.
    QVERIFY(m_sim.waitFor([this](const auto &) { return m_sim.named("frequency").size() >= 8; }));
    const QByteArray last = QByteArray::number(m_sim.named("frequency").last().value("hz").toInt());
    for (auto &client : clients)
        QCOMPARE(ask(*client, "f\n"), last + "\n");
}

void TestRigctl::keyedClientThatGoes_data()
{
    QTest::addColumn<bool>("keyedSince");
    QTest::newRow("alone") << false;
    QTest::newRow("another keyed since") << true;
}

// A client that keyed the radio and went gives it back to receive, unless another keyed since.
void TestRigctl::keyedClientThatGoes()
{
    QFETCH(bool, keyedSince);
    QTcpSocket first, second;
    QVERIFY(connectClient(first));
    QVERIFY(connectClient(second));
    QCOMPARE(ask(first, "T 1\n"), QByteArray("RPRT 0\n"));
    if (keyedSince)
        QCOMPARE(ask(second, "T 1\n"), QByteArray("RPRT 0\n"));
    first.abort();
    if (!keyedSince) {
        QVERIFY(linesAtRadio(false));
        QCOMPARE(ask(second, "t\n"), QByteArray("0\n"));
        return;
    }
    QTest::qWait(300); // time for a wrong release to show; nothing should
    QVERIFY(linesAtRadio(true));
    QCOMPARE(ask(second, "t\n"), QByteArray("1\n"));
}

// Clients that key, release and vanish with their commands still queued: the end of their input
// may be a script's half-close, so what they sent is carried out until their answers bounce;
// none is served after its connection has gone (the sanitizer build would catch a client freed
// while in use), the radio ends in receive, and the listener goes on.
void TestRigctl::clientsThatKeyAndVanish()
{
    for (int i = 0; i < RigctlListener::MaxClients - 1; ++i) {
        QTcpSocket client;
        QVERIFY(connectClient(client));
        client.write("T 1\nf\nT 0\nm\nF 7074000\nT 1\n");
        client.waitForBytesWritten(1000);
        if (i % 2)
            client.write("q\n");
        client.abort();
    }
    QVERIFY(linesAtRadio(false));
    QTcpSocket after;
    QVERIFY(connectClient(after));
    QCOMPARE(ask(after, "t\n"), QByteArray("0\n"));
}

// With every place taken, the longest silent client that does not hold the key makes room for
// a newcomer; one that was pausing before a T 1 keys nothing afterwards. Only a house where
// every client holds the key refuses.
void TestRigctl::fullHouseMakesRoom()
{
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < RigctlListener::MaxClients; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        QVERIFY(connectClient(*clients.back()));
        if (i == 0)
            clients.back()->write("\\pause 1\nT 1\n");
        else
            QCOMPARE(ask(*clients.back(), "\\chk_vfo\n"), QByteArray("0\n"));
    }
    clients[1]->write("T 1\n"); // holds the key: never the one to go
    QCOMPARE(answer(*clients[1], 1), QByteArray("RPRT 0\n"));
    QTcpSocket newcomer;
    QVERIFY(connectClient(newcomer));
    QCOMPARE(ask(newcomer, "\\chk_vfo\n"), QByteArray("0\n"));
    QVERIFY(answer(*clients[0], 1).contains("longest silent"));
    QTRY_VERIFY_WITH_TIMEOUT(clients[0]->state() == QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(clients[1]->state(), QAbstractSocket::ConnectedState);
    // Past the evicted client's pause: the radio is keyed by client 1 alone, whose release ends it.
    QTest::qWait(1500);
    QCOMPARE(ask(*clients[1], "T 0\nt\n", 2), QByteArray("RPRT 0\n0\n"));
    QVERIFY(linesAtRadio(false));
}

// direwolf, headless, as a real packet station: its beacon keys and releases the radio through
// the listener (PTT RIG 2, Hamlib NET rigctl).
void TestRigctl::direwolfBeaconsKeyTheRadio()
{
    if (QStandardPaths::findExecutable("direwolf").isEmpty())
        QSKIP("direwolf is not installed");
    QTemporaryDir dir;
    QFile config(dir.filePath("direwolf.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("ADEVICE stdin null\nCHANNEL 0\nMYCALL N0ZZZ\n"
                                "PTT RIG 2 127.0.0.1:%1\nAGWPORT 0\nKISSPORT 0\n"
                                "PBEACON delay=0:01 every=0:30 overlay=S symbol=digi "
                                "lat=42^37.14N long=071^20.83W comment=\"test\"\n")
                     .arg(m_port)
                     .toUtf8());
    config.close();
    QProcess direwolf; // its audio comes from a pipe that never sends
    direwolf.setWorkingDirectory(dir.path());
    direwolf.start("direwolf", {"-c", config.fileName(), "-t", "0"});
    QVERIFY(direwolf.waitForStarted(5000));
    QVERIFY2(linesAtRadio(true, 20000), direwolf.readAll().constData());
    QVERIFY2(linesAtRadio(false, 20000), direwolf.readAll().constData());
    direwolf.kill();
    direwolf.waitForFinished(5000);
    QCOMPARE(Shape1(*m_form)->FillColor(), QColor(0, 255, 0));
}

// A cable that only keys: the radio never answers a read. The client is answered in bounded
// time with what was last set, and the operator is told once.
void TestRigctl::silentRadioSaidOnce()
{
    auto log = std::make_shared<FakePortLog>();
    Form1 form(fakePortFactory(log));
    form.Form_Load();
    const QString address = form.startRigctlListener("127.0.0.1:0");
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(address.section(':', -1).toUInt()));
    QVERIFY(client.waitForConnected(5000));
    const QRegularExpression said("did not answer a read.*now 7.07400 MHz");
    QTest::ignoreMessage(QtWarningMsg, said);
    QTest::failOnWarning(said);
    QCOMPARE(ask(client, "F 7074000\nf\n", 2), QByteArray("RPRT 0\n7074000\n"));
    QElapsedTimer second;
    second.start();
    // The record holds what the radio was sent last: the receive frame's CW-R at start-up.
    QCOMPARE(ask(client, "m\n", 2), QByteArray("CWR\n2200\n"));
    QVERIFY(second.elapsed() < Ft847Radio::ReadTimeoutMs);
}

// Steps of two clients A and B and the window W: "A T 1" sends, "=1" is what `t` says to both
// afterwards and how the lines stand at the radio.
void TestRigctl::keyBelongsToWhoKeyed_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("a release by a program that holds nothing")
        << QStringList{"A T 1", "=1", "B T 0", "=1", "A T 0", "=0"};
    QTest::newRow("two keys, two releases")
        << QStringList{"A T 1", "B T 1", "A T 0", "=1", "B T 0", "=0"};
    QTest::newRow("the holder leaves") << QStringList{"A T 1", "B T 1", "A q", "=1", "B q", "=0"};
    QTest::newRow("the window's receive ends every hold")
        << QStringList{"A T 1", "B T 1", "W rx", "=0"};
    for (const char *zero : {"0.0", "0x0", "0e0", "4294967296"})
        QTest::newRow(qPrintable(QStringLiteral("released by T %1").arg(zero)))
            << QStringList{"A T 1", QStringLiteral("A T %1").arg(zero), "=0"};
}

void TestRigctl::keyBelongsToWhoKeyed()
{
    QFETCH(QStringList, steps);
    QTcpSocket a, b, watcher;
    QVERIFY(connectClient(a) && connectClient(b) && connectClient(watcher));
    for (const QString &step : steps) {
        if (step.startsWith('=')) {
            QCOMPARE(ask(watcher, "t\n"), step.mid(1).toLatin1() + "\n");
            QVERIFY(linesAtRadio(step == "=1"));
        } else if (step == "W rx") {
            m_form->ptt(0, 0);
        } else {
            QTcpSocket &client = step.startsWith('A') ? a : b;
            QCOMPARE(ask(client, step.mid(2).toLatin1() + "\n"), QByteArray("RPRT 0\n"));
        }
    }
}

void TestRigctl::noRetuneWhileAnotherTransmits_data()
{
    QTest::addColumn<QByteArray>("change");
    QTest::newRow("frequency") << QByteArray("F 7100000");
    QTest::newRow("mode") << QByteArray("M LSB 0");
    QTest::newRow("split") << QByteArray("S 1 VFOB");
    QTest::newRow("satellite uplink") << QByteArray("I 435300000");
}

// A spot clicked in a logger while WSJT-X transmits is refused (Hamlib's "rejected"); the
// program that holds the key changes what it likes, and after the release anyone does.
void TestRigctl::noRetuneWhileAnotherTransmits()
{
    QFETCH(QByteArray, change);
    QTcpSocket holder, logger;
    QVERIFY(connectClient(holder) && connectClient(logger));
    QCOMPARE(ask(holder, "T 1\n"), QByteArray("RPRT 0\n"));
    const qsizetype frames = m_sim.named("frame").size();
    QCOMPARE(ask(logger, change + "\n"), QByteArray("RPRT -9\n"));
    QCOMPARE(ask(holder, "f\n"), QByteArray("7074000\n")); // a read goes: the radio turned it
    QCOMPARE(m_sim.named("frame").size(), frames + 1);
    QCOMPARE(ask(holder, change + "\n"), QByteArray("RPRT 0\n"));
    QCOMPARE(ask(holder, "T 0\n"), QByteArray("RPRT 0\n"));
    QCOMPARE(ask(logger, change + "\n"), QByteArray("RPRT 0\n"));
}

// Eight programs polling the frequency at once are served by at most two reads of the radio.
void TestRigctl::oneReadServesAll()
{
    std::vector<std::unique_ptr<QTcpSocket>> clients(8);
    for (auto &client : clients) {
        client = std::make_unique<QTcpSocket>();
        QVERIFY(connectClient(*client));
    }
    const qsizetype reads = m_sim.named("frame").size();
    for (auto &client : clients)
        client->write("f\n");
    for (auto &client : clients)
        QCOMPARE(answer(*client, 1), QByteArray("7074000\n"));
    QVERIFY(m_sim.named("frame").size() - reads <= 2);
}

// The same read right after its answer is not asked again, unless a write or a key came between.
void TestRigctl::freshAnswerServesTheSameRead_data()
{
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<int>("frames");
    QTest::newRow("read twice") << QByteArray("f\nf\n") << 1;
    QTest::newRow("a set between") << QByteArray("f\nF 7075000\nf\n") << 3;
    QTest::newRow("a key between") << QByteArray("f\nT 1\nf\nT 0\n") << 2;
}

void TestRigctl::freshAnswerServesTheSameRead()
{
    QFETCH(QByteArray, commands);
    QFETCH(int, frames);
    QTcpSocket client;
    QVERIFY(connectClient(client));
    const qsizetype before = m_sim.named("frame").size();
    const QByteArray answers = ask(client, commands, int(commands.count('\n')));
    QVERIFY2(answers.count("7074000\n") + answers.count("7075000\n") == 2, answers.constData());
    QCOMPARE(m_sim.named("frame").size() - before, frames);
}

// The radio stops answering for 200 ms (a busy network radio) in the middle of satellite
// polling: the read that timed out gets the record, its late answer is dropped, and no later
// read is given another's answer.
void TestRigctl::lateAnswersNeverMisread()
{
    QTcpSocket client;
    QVERIFY(connectClient(client));
    QCOMPARE(ask(client, "S 1 VFOB\nF 145900000\nI 435300000\n", 3),
             QByteArray("RPRT 0\nRPRT 0\nRPRT 0\n"));
    m_paused = true;
    QTimer::singleShot(300, &client,
                       [this] { ::kill(pid_t(m_sim.process().processId()), SIGSTOP); });
    QTimer::singleShot(500, &client,
                       [this] { ::kill(pid_t(m_sim.process().processId()), SIGCONT); });
    const QByteArray strength = ask(client, "l STRENGTH\n");
    QElapsedTimer clock;
    clock.start();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("did not answer a read"));
    while (clock.elapsed() < 1500) {
        QCOMPARE(ask(client, "f\n"), QByteArray("145900000\n"));
        QCOMPARE(ask(client, "i\n"), QByteArray("435300000\n"));
        const QByteArray now = ask(client, "l STRENGTH\n");
        QVERIFY2(now == strength || now == "RPRT -5\n", now.constData()); // or timed out
    }
}

// One program names the VFO in every command, another never does, at the same time.
void TestRigctl::vfoModePerConnection()
{
    QTcpSocket named, plain;
    QVERIFY(connectClient(named) && connectClient(plain));
    // Taken, and said unavailable for the radio, as rigctld says it.
    QCOMPARE(ask(named, "\\set_vfo_opt 1\n"), QByteArray("RPRT -11\n"));
    QCOMPARE(ask(named, "\\chk_vfo\n"), QByteArray("1\n"));
    QCOMPARE(ask(plain, "\\chk_vfo\n"), QByteArray("0\n"));
    QCOMPARE(ask(named, "f VFOA\n"), QByteArray("7074000\n"));
    QCOMPARE(ask(plain, "f\n"), QByteArray("7074000\n"));
    QCOMPARE(ask(named, "F VFOA 7075000\n"), QByteArray("RPRT 0\n"));
    QCOMPARE(ask(plain, "F 7076000\nf\n", 2), QByteArray("RPRT 0\n7076000\n"));
}

// A host that repeats its T 1 does not keep the transmit time-out from ending the transmit.
void TestRigctl::timeoutCountsFromTheKey()
{
    m_form->setTransmitTimeout(2);
    QTcpSocket client;
    QVERIFY(connectClient(client));
    QElapsedTimer keyed;
    keyed.start();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("transmit timed out after 2 s"));
    QCOMPARE(ask(client, "T 1\n"), QByteArray("RPRT 0\n"));
    QVERIFY(linesAtRadio(true));
    QTimer again;
    connect(&again, &QTimer::timeout, &client, [&client] { client.write("T 1\n"); });
    again.start(400);
    // The next T 1 keys again at once: the release is looked for, not the lines' last state.
    const qsizetype from = m_sim.named("lines").size();
    QVERIFY(m_sim.waitFor(
        [&](const auto &) {
            const auto lines = m_sim.named("lines");
            return std::any_of(lines.cbegin() + from, lines.cend(),
                               [](const QJsonObject &e) { return !e.value("dtr").toBool(); });
        },
        4000));
    again.stop();
    QVERIFY2(keyed.elapsed() < 3500, qPrintable(QString::number(keyed.elapsed())));
}

// The radio's record is the utility's, not the listener's: switched off and on, the listener
// still knows the radio is in satellite mode.
void TestRigctl::listenerOffAndOnKeepsTheRadio()
{
    QTcpSocket before;
    QVERIFY(connectClient(before));
    QCOMPARE(ask(before, "S 1 VFOB\n"), QByteArray("RPRT 0\n"));
    const QString address = m_form->startRigctlListener("127.0.0.1:0");
    m_port = quint16(address.section(':', -1).toUInt());
    QTcpSocket after;
    QVERIFY(connectClient(after));
    QCOMPARE(ask(after, "s\n", 2), QByteArray("1\nSub\n"));
}

ZOLVEK_TEST_MAIN(TestRigctl, true)
#include "test_rigctl.moc"
