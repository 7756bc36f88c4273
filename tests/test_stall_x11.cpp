// The window never stands still for a radio that stopped taking data: a remote radio stopped
// (SIGSTOP) or a local device whose output stalls, while the host keys and releases, the user
// types settings or chooses a port, and a lost port is tried again. Measured from outside, by
// the longest _NET_WM_PING round trip.
#include "tests/localstation.h"
#include "tests/screenpoints.h"
#include "tests/testsupport.h"
#include "tests/x11support.h"

#include <QFile>
#include <QTest>
#include <csignal>

namespace {

const QString BoxTitle = QStringLiteral("zolvek-ptt");
// The window may take 50 ms for one step; this leaves a loaded machine room on top.
constexpr double LimitMs = 250;

int send(const QStringList &arguments)
{
    return QProcess::execute(binaryPath("zolvek-send"), arguments);
}

bool logSays(const QString &file, const char *text)
{
    QFile errors(file);
    return errors.open(QIODevice::ReadOnly) && errors.readAll().contains(text);
}

} // namespace

class TestStallX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void windowNeverStandsStill_data();
    void windowNeverStandsStill();

private:
    QProcess m_windowManager;
};

void TestStallX11::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("DISPLAY").isEmpty(), "needs an X display (run under Xvfb)");
    int status = -1;
    runCommand(binaryPath("tty-double"), {"--", "/bin/true"}, 10000, &status);
    if (status == 126)
        QSKIP("seccomp user notification is refused here: the tty double cannot run");
    QVERIFY2(startWindowManager(m_windowManager), "openbox did not start");
}

void TestStallX11::cleanupTestCase()
{
    stopWindowManager(m_windowManager);
}

void TestStallX11::windowNeverStandsStill_data()
{
    QTest::addColumn<bool>("remote");
    QTest::addColumn<QString>("path");
    for (const bool remote : {true, false})
        for (const char *path :
             {"keying", "releasing", "typing settings", "choosing a port", "lost port tries"})
            QTest::addRow("%s, %s", remote ? "remote radio stopped" : "local output stalled", path)
                << remote << QString::fromLatin1(path);
}

void TestStallX11::windowNeverStandsStill()
{
    QFETCH(bool, remote);
    QFETCH(QString, path);
    Station station;
    LocalStation local;
    QString errors = station.configHome() + QStringLiteral("/errors");
    if (remote) {
        station.errorFile = errors;
        QVERIFY(station.start(true));
    } else {
        errors = local.errorFile();
        QVERIFY(local.start());
    }
    const std::uint32_t window = utilityWindow();
    QVERIFY(window);
    using namespace ScreenPoints;
    if (path == "releasing")
        QCOMPARE(send({"tx"}), 0);
    if (path == "typing settings" || path == "choosing a port") {
        clickAt(window, MoreButton.x(), MoreButton.y());
        clickAt(window, SettingsBox.x(), SettingsBox.y());
        pressKeys(path == "typing settings" ? "ctrl+a" : "shift+Tab"); // the port list's turn
    }
    QVERIFY(syncWithUtility(window));

    SimProcess radio; // a radio on the lost one's address that never answers
    const pid_t sim = pid_t(station.sim.process().processId());
    if (path == "lost port tries") {
        if (remote) {
            const QString address = station.sim.address();
            station.sim.stop();
            QVERIFY(radio.start(address));
            QCOMPARE(::kill(pid_t(radio.process().processId()), SIGSTOP), 0);
        } else {
            QCOMPARE(::kill(pid_t(local.log.process().processId()), SIGUSR1), 0);
        }
    } else if (remote) {
        QCOMPARE(::kill(sim, SIGSTOP), 0);
    } else {
        QCOMPARE(::kill(pid_t(local.log.process().processId()), SIGUSR2), 0);
        QVERIFY(!local.log.waitForEvent("output").isEmpty()); // full before the watch starts
    }

    StallWatch watch(window);
    if (path == "keying") {
        QCOMPARE(send({"tx"}), 0);
        QVERIFY(syncWithUtility(window));
    } else if (path == "releasing") {
        QCOMPARE(send({"rx"}), 0); // the receive frame is written when the delay has passed
        QTRY_COMPARE_WITH_TIMEOUT(pixelAt(window, Indicator.x(), Indicator.y()), QColor(0, 255, 0),
                                  5000);
    } else if (path == "typing settings") {
        typeText("9600,n,8,1");
    } else if (path == "choosing a port") {
        pressKeys("Down"); // COM2 is missing: a box says so
        QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(BoxTitle), 1, 5000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(logSays(errors, "reopening the lost port"), 10000);
    }
    const double longest = watch.stop();
    if (remote)
        ::kill(path == "lost port tries" ? pid_t(radio.process().processId()) : sim, SIGCONT);
    qInfo("longest stall of the window: %.1f ms", longest);
    QVERIFY(longest >= 0);
    QVERIFY2(longest < LimitMs, qPrintable(QString::number(longest)));
}

ZOLVEK_TEST_MAIN(TestStallX11, false)
#include "test_stall_x11.moc"
