// The listener side by side with rigctld itself: Debian's rigctld -m 1001 (Hamlib's own FT-847
// backend) drives one virtual radio, the real zolvek-ptt another, and every session gets the same
// answers from both and leaves both radios alike. Where the two are meant to differ, the row
// says how and why.
#include "tests/jsonprocess.h"
#include "tests/testsupport.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Asked after each session: a read the radio answers (every frame before it has reached the
// radio once its answer is in), then a line only rigctld's grammar answers this way.
const QByteArray Flush = "l RAWSTR\n\\get_mode_bandwidths FM\n";
const QByteArray FlushAnswer = "0\nMode=FM\nNormal=15000Hz\nNarrow=9000Hz\nWide=0HzRPRT 0\n";

// Frames that differ by design: reads (rigctld caches some), CAT on and off (rigctld's own
// open), and PTT (rigctld keys by CAT, the utility by its lines).
bool comparable(const QString &hex)
{
    static const QStringList skipped{"03", "13", "23", "e7", "f7", "00", "80", "08", "88"};
    return !skipped.contains(hex.right(2));
}

// The version line names the server.
QByteArray normalized(QByteArray text)
{
    static const QRegularExpression version(QStringLiteral("rigctld_version=[^\n]*\n"));
    return QString::fromLatin1(text)
        .replace(version, QStringLiteral("rigctld_version=\n"))
        .toLatin1();
}

bool connectTo(QTcpSocket &client, quint16 port)
{
    const QDeadlineTimer up(15000);
    while (!up.hasExpired()) {
        client.connectToHost(QHostAddress::LocalHost, port);
        if (client.waitForConnected(300))
            return true;
        client.abort();
        QTest::qWait(100);
    }
    return false;
}

} // namespace

class TestRigctlPeer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void sameAnswers_data();
    void sameAnswers();
    void radiosEndAlike();

private:
    struct Side
    {
        SimProcess *sim = nullptr;
        quint16 port = 0;
        qsizetype frames = 0; // frame events seen before the session
    };
    QByteArray run(Side &side, const QByteArray &session, QStringList *frames);

    SimProcess m_theirs;
    QTemporaryDir m_dir;
    QProcess m_socat;
    QProcess m_rigctld;
    Station m_station;
    Side m_rigctld_side;
    Side m_our_side;
};

void TestRigctlPeer::initTestCase()
{
    for (const char *program : {"rigctld", "socat"})
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(program)));
    QVERIFY(m_theirs.start(QStringLiteral("127.0.0.1:0"), {"--raw"}));
    const QString device = m_dir.filePath("radio");
    m_socat.start("socat", {"pty,raw,echo=0,link=" + device, "tcp:" + m_theirs.address()});
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(device), 10000);
    QTcpServer probe; // a free port for rigctld
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    m_rigctld_side = {&m_theirs, probe.serverPort(), 0};
    probe.close();
    m_rigctld.start("rigctld", {"-m", "1001", "-r", device, "-s", "4800", "-t",
                                QString::number(m_rigctld_side.port)});

    m_station.errorFile = m_dir.filePath("errors.txt");
    m_station.arguments = QStringList{"--listen", "127.0.0.1:0"};
    QVERIFY(m_station.start(false));
    m_our_side = {&m_station.sim, m_station.listenerPort(), 0};
    QVERIFY(m_our_side.port != 0);
    // The window leaves its radio in its receive mode: both start alike.
    QStringList frames;
    for (Side *side : {&m_rigctld_side, &m_our_side})
        QCOMPARE(run(*side, "M USB 0\nF 14074000\n", &frames), QByteArray("RPRT 0\nRPRT 0\n"));
}

void TestRigctlPeer::cleanupTestCase()
{
    m_rigctld.kill();
    m_socat.kill();
    m_rigctld.waitForFinished(3000);
    m_socat.waitForFinished(3000);
}

// The session's answers (the flush's taken off) and the comparable frames the radio got.
QByteArray TestRigctlPeer::run(Side &side, const QByteArray &session, QStringList *frames)
{
    QTcpSocket client;
    if (!connectTo(client, side.port))
        return "(no connection)";
    side.frames = side.sim->named("frame").size();
    qsizetype flushes = 0;
    for (const QJsonObject &event : side.sim->named("frame"))
        flushes += event.value("hex").toString().endsWith("e7");
    client.write(session + Flush); // after a q the connection is closed and the flush unread
    QByteArray got;
    const QDeadlineTimer done(20000);
    while (!done.hasExpired() && client.state() == QAbstractSocket::ConnectedState
           && !got.endsWith(FlushAnswer)) {
        client.waitForReadyRead(50);
        got += client.readAll();
    }
    got += client.readAll();
    // The flush's read reached the radio after every frame before it.
    const auto reads = [](const JsonProcess::Events &events) {
        return std::count_if(events.begin(), events.end(), [](const QJsonObject &event) {
            return event.value("hex").toString().endsWith("e7");
        });
    };
    const bool flushed = got.endsWith(FlushAnswer);
    if (flushed && !side.sim->waitFor([&](const JsonProcess::Events &events) {
            return reads(events) > flushes;
        }))
        return "(the radio never got the flush's read)";
    if (flushed)
        got.chop(FlushAnswer.size());
    const auto events = side.sim->named("frame");
    for (qsizetype i = side.frames; i < events.size(); ++i) {
        const QString hex = events[i].value("hex").toString();
        if (comparable(hex))
            *frames << hex;
    }
    return normalized(got);
}

void TestRigctlPeer::sameAnswers_data()
{
    QTest::addColumn<QByteArray>("session");
    // Where the utility answers otherwise by design: what each says, and why in the row's name.
    QTest::addColumn<QByteArray>("rigctldSays");
    QTest::addColumn<QByteArray>("weSay");
    const auto same = [](const char *name, const QByteArray &session) {
        QTest::newRow(name) << session << QByteArray() << QByteArray();
    };
    // rigctld gives all of \dump_state only to a client that asked \chk_vfo (Hamlib's own).
    same("dump_state", "\\dump_state\n");
    same("dump_state after chk_vfo", "\\chk_vfo\n\\dump_state\n");
    same("reads", "f\nm\nt\ns\n\\get_powerstat\n");
    same("several on a line", "f m t\nf  m\n");
    same("argument from the next line", "F\n14075000\nf\nM USB\n0\nm\n");
    same("CR and CRLF", "f\rm\r\nF 14074000\r\nf\r");
    same("long names", "\\get_freq\n\\set_freq 14076000\n\\get_mode\n\\get_split_vfo\n\\get_ptt\n");
    same("extended form", "+f\n+F 14074000\n+m\n+M USB 0\n+s\n+t\n+\\get_dcd\n+l STRENGTH\n");
    same("separators", ";f\n|m\n,s\nf;m\n;F 14074500\n+f m t\n");
    same("modes and passbands", "M LSB 0\nm\nM CW 500\nm\nM CWR 2200\nm\nM AM 2200\nm\n"
                                "M FM 9000\nm\nM USB 1000\nM USB 2200\nm\nM USB -1\nm\nM USB 0\n");
    same("modes it lacks", "M RTTY 0\nM WFM 0\nm\n");
    same("satellite mode", "S 1 Sub\ns\nF 435900000\nM FM 0\nI 145900000\nX LSB 0\nf\nm\ni\n"
                           "x\nk\n+s\nS 0 Main\ns\nf\nm\n");
    same("split by its transmit frequency", "I 145950000\ns\ni\nx\nS 0 Main\ns\n");
    same("split frequency and mode", "K 145800000 USB 0\nk\n+k\nS 0 Main\nX USB 0\n");
    same("split off twice, then a VFO it lacks", "S 0 Main\nS 0 Main\nS 2 Sub\nS 0 Foo\n");
    same("meters", "l STRENGTH\nl RAWSTR\nl ALC\n\\get_dcd\n+l ALC\nl SWR\nl AF\nL AF 0.5\n");
    same("tones and codes",
         "U TONE 1\nU TSQL 1\nU TONE 0\nU TSQL 0\nU NB 1\nU ?\nC 885\nC 886\n"
         "+C 1000\n\\set_ctcss_sql 1000\n\\set_dcs_sql 754\n+\\set_dcs_sql 23\n");
    same("repeater offset", "O 600000\n+O 100000\n");
    same("what the FT-847 lacks", "v\nV VFOA\nn\nN 100\nG CPY\ng VFO 0\nr\no\nc\nd\nD 23\ne\n"
                                  "E 1\nj\nJ 10\nz\nZ 10\ny 1\nY 1 0\nB 1\nu TONE\np AF\nP AF 1\n"
                                  "\\get_ctcss_sql\n\\get_dcs_sql\n\\set_powerstat 1\n");
    same("deprecated", "a\nA 0\n");
    same("session settings",
         "\\get_twiddle\n\\get_cache\n_\n\\get_lock_mode\n"
         "\\set_lock_mode 1\n\\get_lock_mode\n\\set_lock_mode 0\n+\\get_lock_mode\n");
    same("power in mW", "2 0.5 14074000 USB\n2 1 145000000 FM\n2 0.5 14074000 AM\n");
    same("keying", "T 1\nt\nT 0\nt\nT 2\nt\nT 0\nT 3\nT 0\nT 5\nT -1\n+T 1\n+T 0\n");
    same("comments and blank lines", "f\n# a comment\n\nf\n\n\n#x\nm\n");
    same("unknown command", "f\n\\nosuch\nf\n");
    same("question mark is a separator", "f\n?\nf\n");
    same("chk_vfo extended keeps the form", "+\\chk_vfo\nf\n");
    same("vfo info", "\\get_vfo_info Main\n\\get_mode_bandwidths CW\n\\get_clock\n"
                     "\\get_separator\n3\n");
    same("every command names its VFO",
         "\\set_vfo_opt 1\nf Main\nF Main 14074000\nm currVFO\n+f Main\n\\set_vfo_opt 0\n");
    same("goodbye", "f\nq\n");

    const auto differs = [](const char *why, const QByteArray &session, const QByteArray &theirs,
                            const QByteArray &ours) {
        QTest::newRow(why) << session << theirs << ours;
    };
    differs("the mode read is the radio's, not what was last set (rigctld's cache keeps FM narrow)",
            "M FM 9000\nM FM 0\nm\nM USB 0\n", "RPRT 0\nRPRT 0\nFM\n9000\nRPRT 0\n",
            "RPRT 0\nRPRT 0\nFM\n15000\nRPRT 0\n");
    differs("frequency the radio cannot tune is refused, not sent", "F 1000\nf\nF 14074000\n",
            "RPRT 0\n1000\nRPRT 0\n", "RPRT -1\n14074000\nRPRT 0\n");
    differs("data modes are the radio's own modes on its data socket", "M PKTUSB 0\nm\nM USB 0\n",
            "RPRT -1\nUSB\n2200\nRPRT 0\n", "RPRT 0\nPKTUSB\n2200\nRPRT 0\n");
    differs("repeater shift reaches the radio (Hamlib's backend refuses it)", "R +\nR -\nR 0\n",
            "RPRT -1\nRPRT -1\nRPRT -1\n", "RPRT 0\nRPRT 0\nRPRT 0\n");
    differs("a PTT value that is not a whole number keys nothing", "T 1.5\nt\nT 0\n",
            "RPRT 0\n1\nRPRT 0\n", "RPRT -1\n0\nRPRT 0\n");
    // Not a rig client's first line: a web page's request, a port scan.
    differs("a connection that starts with a comment is closed", "# hello\nT 1\nT 0\n",
            "RPRT 0\nRPRT 0\n", "");
    differs("a line that is not text is refused whole", "t\n\x01\xff T 1\nT 0\n",
            "0\nRPRT 0\nRPRT 0\n", "0\nRPRT -1\nRPRT 0\n");
}

void TestRigctlPeer::sameAnswers()
{
    QFETCH(QByteArray, session);
    QFETCH(QByteArray, rigctldSays);
    QFETCH(QByteArray, weSay);
    QStringList theirFrames;
    QStringList ourFrames;
    const QByteArray theirs = run(m_rigctld_side, session, &theirFrames);
    const QByteArray ours = run(m_our_side, session, &ourFrames);
    if (rigctldSays.isEmpty()) {
        QCOMPARE(ours, theirs);
        QCOMPARE(ourFrames.join(QLatin1Char(' ')), theirFrames.join(QLatin1Char(' ')));
    } else {
        QCOMPARE(theirs, rigctldSays);
        QCOMPARE(ours, weSay);
    }
}

// After every session the two radios are in the same state: satellite mode, and each VFO's
// frequency and mode.
void TestRigctlPeer::radiosEndAlike()
{
    const auto last = [](SimProcess &sim, const QString &event, const QString &vfo) {
        QJsonObject found;
        for (const QJsonObject &e : sim.named(event))
            if (e.value("vfo").toString() == vfo || vfo.isEmpty())
                found = e;
        found.remove("t");
        return found;
    };
    QStringList frames;
    for (Side *side : {&m_rigctld_side, &m_our_side})
        QCOMPARE(run(*side, "t\n", &frames), QByteArray("0\n"));
    for (const QString vfo : {"main", "sat rx", "sat tx"}) {
        QCOMPARE(last(m_station.sim, "frequency", vfo), last(m_theirs, "frequency", vfo));
        QCOMPARE(last(m_station.sim, "mode", vfo), last(m_theirs, "mode", vfo));
    }
    QCOMPARE(last(m_station.sim, "satellite", {}), last(m_theirs, "satellite", {}));
}

ZOLVEK_TEST_MAIN(TestRigctlPeer, false)
#include "test_rigctl_peer.moc"
