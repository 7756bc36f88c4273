// The serial FT-847 port of the real window: programs that write the radio's own frames to a
// pseudo-terminal, Hamlib's FT-847 backend among them, reach the virtual radio through it.
#include "app/form1.h"
#include "tests/jsonprocess.h"
#include "tests/testsupport.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

class TestCatPort : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void frames_data();
    void frames();
    void keyBelongsToTheProgram_data();
    void keyBelongsToTheProgram();
    void hamlibBackendSendsTheSameFrames();
    void serialDeviceOpenedAsItIs();
    void noRetuneWhileTheWindowTransmits();

private:
    int openPort();
    QByteArray read(int fd, int size);
    QStringList framesSince(qsizetype from);
    bool lines(bool high);

    QTemporaryDir m_dir;
    QString m_link;
    SimProcess m_sim;
    std::unique_ptr<Form1> m_form;
};

void TestCatPort::init()
{
    testStore().reset();
    QVERIFY(m_sim.start(QStringLiteral("127.0.0.1:0"), {"--frequency", "7074000", "--pacing", "30"}));
    testStore().mapPort(1, m_sim.url());
    m_form = std::make_unique<Form1>(safePortFactory());
    m_form->Form_Load();
    m_link = m_dir.filePath(QStringLiteral("ft847"));
    QCOMPARE(m_form->startCatPort(m_link), m_link);
    QVERIFY(m_sim.waitFor([this](const auto &) { return m_sim.named("frame").size() >= 2; }));
}

void TestCatPort::cleanup()
{
    const qsizetype dropped = m_sim.named("dropped").size();
    m_form.reset();
    QVERIFY2(!QFile::exists(m_link), "the link goes with the port");
    m_sim.stop();
    QCOMPARE(dropped, 0);
}

int TestCatPort::openPort()
{
    return ::open(QFile::encodeName(m_link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

QByteArray TestCatPort::read(int fd, int size)
{
    QByteArray got;
    const QDeadlineTimer deadline(3000);
    while (got.size() < size && !deadline.hasExpired()) {
        QTest::qWait(1);
        char buffer[64];
        if (const ssize_t n = ::read(fd, buffer, sizeof buffer); n > 0)
            got += QByteArray(buffer, qsizetype(n));
    }
    return got;
}

QStringList TestCatPort::framesSince(qsizetype from)
{
    QStringList hex;
    for (const QJsonObject &frame : m_sim.named("frame").mid(from))
        hex << frame.value("hex").toString();
    return hex;
}

bool TestCatPort::lines(bool high)
{
    return m_sim.waitFor([high](const JsonProcess::Events &events) {
        for (auto it = events.crbegin(); it != events.crend(); ++it)
            if (it->value("event") == "lines")
                return it->value("dtr").toBool() == high && it->value("rts").toBool() == high;
        return false;
    });
}

// What a program writes (pieces separated by '|', each written alone), what reaches the radio,
// and what the program is answered.
void TestCatPort::frames_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QStringList>("atRadio");
    QTest::addColumn<QString>("answer");
    QTest::newRow("frame in two writes") << "14510000|01" << QStringList{"1451000001"} << "";
    QTest::newRow("junk before a frame") << "ff12000000004e" << QStringList{"000000004e"} << "";
    QTest::newRow("frequency read") << "0000000003" << QStringList{"0000000003"} << "00707400..";
    QTest::newRow("S-meter read") << "00000000e7" << QStringList{"00000000e7"} << "..";
    QTest::newRow("CAT off swallowed")
        << "0000000080|0100000007" << QStringList{"0100000007"} << "";
    QTest::newRow("OmniRig's start and polls")
        << "0000000000|0014070001|00000000f7|0000000003"
        << QStringList{"0000000000", "0014070001", "00000000f7", "0000000003"} << "..00140700..";
    QTest::newRow("noise never keys")
        << "ff08ff08ff08|0100000008|ee000000ee08" << QStringList{} << "";
}

void TestCatPort::frames()
{
    QFETCH(QString, written);
    QFETCH(QStringList, atRadio);
    QFETCH(QString, answer);
    const int fd = openPort();
    QVERIFY(fd >= 0);
    const qsizetype before = m_sim.named("frame").size();
    for (const QString &piece : written.split('|')) {
        const QByteArray bytes = QByteArray::fromHex(piece.toLatin1());
        QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        QTest::qWait(20);
    }
    const QByteArray got = read(fd, int(answer.size() / 2)).toHex();
    QVERIFY(m_sim.waitFor([&](const auto &) { return framesSince(before).size() >= atRadio.size(); }));
    QTest::qWait(300); // nothing more comes: the radio takes a frame within 60 ms
    QCOMPARE(framesSince(before), atRadio);
    QCOMPARE(got.size(), answer.size());
    QVERIFY2(QRegularExpression('^' + answer + '$').match(QString::fromLatin1(got)).hasMatch(),
             got.constData());
    QCOMPARE(m_sim.named("lines").size(), 2); // the open's only
    ::close(fd);
}

// The program's PTT frame keys by the lines, the radio's TX status then says transmitting, and
// the key ends with its release or with the program closing its port.
void TestCatPort::keyBelongsToTheProgram_data()
{
    QTest::addColumn<bool>("closeInstead");
    QTest::newRow("released by Hamlib's PTT off") << false;
    QTest::newRow("released by closing the port") << true;
}

void TestCatPort::keyBelongsToTheProgram()
{
    QFETCH(bool, closeInstead);
    const int fd = openPort();
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "\0\0\0\0\x08", 5), ssize_t(5));
    QVERIFY(lines(true));
    QCOMPARE(::write(fd, "\0\0\0\0\xf7", 5), ssize_t(5));
    QCOMPARE(static_cast<std::uint8_t>(read(fd, 1).at(0)) & 0x80, 0);
    if (closeInstead)
        ::close(fd);
    else
        QCOMPARE(::write(fd, "\0\0\0\x01\x88", 5), ssize_t(5));
    QVERIFY(lines(false));
    if (!closeInstead)
        ::close(fd);
}

// Hamlib's own FT-847 backend drives the radio through the port as it drives a radio directly:
// the same frames, CAT off on leaving aside.
void TestCatPort::hamlibBackendSendsTheSameFrames()
{
    const QStringList commands{"F", "145100000", "M", "FM", "0", "f", "S", "1", "VFOB",
                               "I", "435300000", "i", "T", "1", "T", "0"};
    const auto run = [&](const QString &port, QStringList *said) {
        QProcess rigctl;
        rigctl.start("rigctl", QStringList{"-m", "1001", "-r", port, "-s", "4800"} + commands);
        const QDeadlineTimer deadline(30000);
        while (rigctl.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(5);
        *said = QString::fromLatin1(rigctl.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        return rigctl.exitCode() == 0;
    };
    qsizetype before = m_sim.named("frame").size();
    QStringList throughUs;
    QVERIFY(run(m_link, &throughUs));
    QCOMPARE(m_sim.named("lines").size(), 4); // keyed and released once
    const QStringList ours = framesSince(before);

    // The same program on a second virtual radio of its own, through socat's pseudo-terminal.
    SimProcess direct;
    QVERIFY(direct.start(QStringLiteral("127.0.0.1:0"), {"--frequency", "7074000", "--raw"}));
    const QString pty = m_dir.filePath("direct");
    QProcess socat;
    socat.start("socat", {"pty,raw,echo=0,link=" + pty, "tcp:" + direct.address()});
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(pty); }, 10000));
    QStringList directly;
    QVERIFY(run(pty, &directly));
    socat.kill();
    socat.waitForFinished(5000);
    // Here the PTT frames key by the lines, and CAT off is not passed on.
    QStringList theirs;
    for (const QJsonObject &frame : direct.named("frame"))
        if (!QStringList{"80", "08", "88"}.contains(frame.value("hex").toString().right(2)))
            theirs << frame.value("hex").toString();
    QCOMPARE(ours, theirs);
    QCOMPARE(throughUs, directly);
    QCOMPARE(throughUs, (QStringList{"145100000", "435300000"}));
}

// One end of a socat pair (a link to a live pseudo-terminal) is a device of the operator's: opened
// as it is, not replaced, and the program on the other end reaches the radio.
void TestCatPort::serialDeviceOpenedAsItIs()
{
    const QString ours = m_dir.filePath("pair-a"), theirs = m_dir.filePath("pair-b");
    QProcess socat;
    socat.start("socat", {"pty,raw,echo=0,link=" + ours, "pty,raw,echo=0,link=" + theirs});
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(ours) && QFile::exists(theirs); }, 10000));
    const QString target = QFileInfo(ours).symLinkTarget();
    QCOMPARE(m_form->startCatPort(ours), ours);
    QCOMPARE(QFileInfo(ours).symLinkTarget(), target);
    const int fd = ::open(QFile::encodeName(theirs).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "\0\0\0\0\x03", 5), ssize_t(5));
    QCOMPARE(read(fd, 5).toHex().left(8), QByteArray("00707400"));
    ::close(fd);
    socat.kill();
    socat.waitForFinished(5000);
}

// The program names the satellite transmit VFO in its own frames: while the window transmits, its
// retune is refused all the same, and its read still answered.
void TestCatPort::noRetuneWhileTheWindowTransmits()
{
    const int fd = openPort();
    QVERIFY(fd >= 0);
    qsizetype before = m_sim.named("frame").size();
    m_form->ptt(0, 1);
    QVERIFY(lines(true));
    QVERIFY(m_sim.waitFor([&](const auto &) { return framesSince(before).size() == 1; })); // its mode
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("refused a change of frequency"));
    before = m_sim.named("frame").size();
    QCOMPARE(::write(fd, "\x43\x53\0\0\x21\0\0\0\0\xe7", 10), ssize_t(10));
    QCOMPARE(read(fd, 1).size(), 1);
    QCOMPARE(framesSince(before), QStringList{"00000000e7"});
    ::close(fd);
    m_form->ptt(0, 0);
}

ZOLVEK_TEST_MAIN(TestCatPort, true)

#include "test_catport.moc"
