// The rigctl listener of the real window, keying the virtual radio, with Hamlib's own rigctl as
// the client and with raw sockets.
#include "app/form1.h"
#include "tests/form1controls.h"
#include "tests/jsonprocess.h"
#include "tests/testsupport.h"
#include "tools/monotonic.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

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
    void hamlibClientKeysAndReleases();
    void badInputAnsweredNotKept_data();
    void badInputAnsweredNotKept();
    void manyClientsEachInOrder();
    void keyedClientThatGoes_data();
    void keyedClientThatGoes();

private:
    bool connectClient(QTcpSocket &client);
    bool linesAtRadio(bool high);

    SimProcess m_sim;
    std::unique_ptr<Form1> m_form;
    quint16 m_port = 0;
};

void TestRigctl::init()
{
    testStore().reset();
    QVERIFY(m_sim.start());
    testStore().mapPort(1, m_sim.url());
    m_form = std::make_unique<Form1>(safePortFactory());
    m_form->Form_Load();
    const QString address = m_form->startRigctlListener("127.0.0.1:0");
    QVERIFY(!address.isEmpty());
    m_port = quint16(address.section(':', -1).toUInt());
    QVERIFY(m_sim.waitFor([](const auto &events) { return events.size() > 4; }));
}

void TestRigctl::cleanup()
{
    m_form.reset();
    m_sim.stop();
}

bool TestRigctl::connectClient(QTcpSocket &client)
{
    client.connectToHost(QHostAddress::LocalHost, m_port);
    const QDeadlineTimer deadline(5000);
    while (client.state() != QAbstractSocket::ConnectedState && !deadline.hasExpired())
        QTest::qWait(1);
    return client.state() == QAbstractSocket::ConnectedState;
}

bool TestRigctl::linesAtRadio(bool high)
{
    return m_sim.waitFor([high](const JsonProcess::Events &events) {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->value("event") == "lines")
                return it->value("dtr").toBool() == high && it->value("rts").toBool() == high;
        return false;
    });
}

// Debian's rigctl as a "Hamlib NET rigctl" client: it opens, keys, reads the state back, and
// hears of the receive only once its frame has gone out, 1200 ms after the lines dropped.
void TestRigctl::hamlibClientKeysAndReleases()
{
    if (QStandardPaths::findExecutable("rigctl").isEmpty())
        QSKIP("rigctl (package libhamlib-utils) is not installed");
    QProcess rigctl;
    rigctl.start("rigctl", {"-m", "2", "-r", QStringLiteral("127.0.0.1:%1").arg(m_port), "-"});
    QVERIFY(rigctl.waitForStarted(5000));
    rigctl.write("T 1\nt\n");
    QByteArray out = answer(rigctl, 3); // "\nT 1 \nt 1\n"
    QVERIFY2(out.contains("t 1"), out.constData());
    QVERIFY(linesAtRadio(true));
    QCOMPARE(m_sim.named("frame").last().value("hex").toString(), "0100000007");
    // rigctl runs its commands one after the other: "t" is read back once "T 0" is answered.
    rigctl.write("T 0\nt\n");
    const QDeadlineTimer deadline(5000);
    while (!out.contains("t 0\n") && !deadline.hasExpired()) {
        QTest::qWait(1);
        out += rigctl.readAll();
    }
    const double answered = monotonicSeconds();
    QVERIFY2(out.contains("t 0\n"), out.constData());
    const double frame = m_sim.named("frame").last().value("t").toDouble();
    QCOMPARE(m_sim.named("frame").last().value("hex").toString(), "0300000007");
    QVERIFY(frame <= answered);
    const double settled = frame - m_sim.named("lines").last().value("t").toDouble();
    QVERIFY2(settled >= 1.2 && settled < 1.6, qPrintable(QString::number(settled)));
    rigctl.write("q\n");
    rigctl.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(rigctl.state() == QProcess::NotRunning, 5000);
    QCOMPARE(rigctl.exitCode(), 0);
}

void TestRigctl::badInputAnsweredNotKept_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("over 1 KiB") << QByteArrayList{QByteArray(3000, 'T') + "\n"}
                                << QByteArray("RPRT -1\n");
    QTest::newRow("binary") << QByteArrayList{QByteArray("\x00\xff\x01 T 1\n", 8)}
                            << QByteArray("RPRT -1\n");
    QTest::newRow("unknown") << QByteArrayList{"\\get_level RFPOWER\n"} << QByteArray("RPRT -11\n");
    QTest::newRow("T without value") << QByteArrayList{"T\n"} << QByteArray("RPRT -11\n");
    QTest::newRow("half lines") << QByteArrayList{"F 7074", "000\r\n"} << QByteArray("RPRT 0\n");
    QTest::newRow("extended form")
        << QByteArrayList{"+\\get_vfo\n"} << QByteArray("get_vfo:\nVFO: VFOA\nRPRT 0\n");
}

// Nothing a client sends crashes the listener, grows without bound or keys the radio by
// accident; the connection still answers afterwards.
void TestRigctl::badInputAnsweredNotKept()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArray, expected);
    QTcpSocket client;
    QVERIFY(connectClient(client));
    QByteArray got;
    for (const QByteArray &piece : pieces)
        got = ask(client, piece, pieces.last() == piece ? int(expected.count('\n')) : 0);
    QCOMPARE(got, expected);
    QCOMPARE(ask(client, "v\n"), QByteArray("VFOA\n"));
    QCOMPARE(Shape1(*m_form)->FillColor(), QColor(0, 255, 0));
}

void TestRigctl::manyClientsEachInOrder()
{
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        QVERIFY(connectClient(*clients.back()));
        clients.back()->write(QByteArray("F ") + QByteArray::number(7000000 + i) + "\nf\n");
    }
    for (int i = 0; i < 8; ++i)
        QCOMPARE(answer(*clients[size_t(i)], 2),
                 "RPRT 0\n" + QByteArray::number(7000000 + i) + "\n");
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
        return;
    }
    QTest::qWait(300); // time for a wrong release to show; nothing should
    QVERIFY(linesAtRadio(true));
    QCOMPARE(ask(second, "t\n"), QByteArray("1\n"));
}

ZOLVEK_TEST_MAIN(TestRigctl, true)
#include "test_rigctl.moc"
