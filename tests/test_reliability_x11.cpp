// The utility under misbehaving hosts, lost ports and killed processes, end to end under a
// window manager with the virtual radio.
#include "tests/cputime.h"
#include "tests/jsonprocess.h"
#include "tests/localstation.h"
#include "tests/screenpoints.h"
#include "tests/testsupport.h"
#include "tests/x11support.h"
#include "tools/monotonic.h"
#include "tools/zolvek-send/hostsender.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

const QColor Red(255, 0, 0);
const QColor Green(0, 255, 0);
const QColor NoPort(128, 128, 128); // the stroke through the lamp while no port is open
using namespace ScreenPoints;
const QString BoxTitle = QStringLiteral("zolvek-ptt");

int send(const QStringList &arguments)
{
    return QProcess::execute(binaryPath("zolvek-send"), arguments);
}

// Waits until the radio has heard nothing new for `quietMs`.
void waitUntilQuiet(SimProcess &sim, int quietMs, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    qsizetype seen = -1;
    while (clock.elapsed() < limitMs) {
        const qsizetype now = sim.events().size();
        if (now == seen)
            return;
        seen = now;
        QTest::qWait(quietMs);
    }
}

// Starts the utility on the virtual radio, finds its window and keys the radio.
bool startKeyed(Station &station, std::uint32_t *window)
{
    if (!station.start(true))
        return false;
    QElapsedTimer clock;
    clock.start();
    while ((*window = utilityWindow()) == 0 && clock.elapsed() < 5000)
        QTest::qWait(50);
    return *window != 0 && send({"tx"}) == 0 && station.waitForFrames(3);
}

// After a reopen (the utility's own, the user's, or both), the radio saw only the server's raise
// at each connect, lowered at once, its CAT interface turned on, and then the host's transmit.
void reopenedThenKeyed(QStringList actions)
{
    QVERIFY2(actions.contains("frame 0000000000"), qPrintable(actions.join(", ")));
    actions.removeAll("frame 0000000000");
    QVERIFY2(actions.size() >= 4 && actions.size() % 2 == 0, qPrintable(actions.join(", ")));
    for (qsizetype i = 0; i + 2 < actions.size(); i += 2)
        QCOMPARE(actions.mid(i, 2), SimProcess::Opened);
    QCOMPARE(actions.mid(actions.size() - 2),
             (QStringList{"lines dtr=1 rts=1", "frame 0100000007"}));
}

// The window may take 50 ms for one step; this leaves a loaded machine room on top.
constexpr double StallLimitMs = 250;

bool logSays(const QString &file, const char *text)
{
    QFile errors(file);
    return errors.open(QIODevice::ReadOnly) && errors.readAll().contains(text);
}

bool ttyDoubleRuns()
{
    int status = -1;
    runCommand(binaryPath("tty-double"), {"--", "/bin/true"}, 10000, &status);
    return status == 0;
}

QColor indicator(std::uint32_t window)
{
    return pixelAt(window, Indicator.x(), Indicator.y());
}

} // namespace

class TestReliabilityX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void floodOfMessages();
    void radioLostWhileTransmitting();
    void radioLostDuringReceiveDelay();
    void lostRadioBackByItself();
    void boxOverASettlingWait();
    void nothingLostWhenKilled();
    void exitWhileTransmitting();
    void windowNeverStandsStill_data();
    void windowNeverStandsStill();

private:
    bool restartRadio(Station &station);
    QProcess m_windowManager;
};

void TestReliabilityX11::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("DISPLAY").isEmpty(), "needs an X display (run under Xvfb)");
    QVERIFY2(startWindowManager(m_windowManager), "openbox did not start");
}

void TestReliabilityX11::cleanupTestCase()
{
    stopWindowManager(m_windowManager);
}

// A radio back on the same address after it was lost.
bool TestReliabilityX11::restartRadio(Station &station)
{
    const QString address = station.sim.address();
    station.sim.stop();
    return station.sim.start(address) && station.sim.address() == address;
}

void TestReliabilityX11::floodOfMessages()
{
    QTemporaryDir logs;
    Station station;
    station.environment << "QT_LOGGING_RULES=zolvek.ptt.debug=true";
    station.errorFile = logs.filePath("utility.log");
    QVERIFY(station.start(true));
    std::uint32_t window = 0;
    QTRY_VERIFY((window = utilityWindow()) != 0);
    QTest::qWait(300);
    const qint64 rssBefore = residentKb(station.utility.processId());

    HostSender sender;
    QRandomGenerator random(10000);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 9999; ++i) {
        switch (random.bounded(5)) {
        case 0:
        case 1:
            sender.post(window, 0, 1);
            break;
        case 2:
        case 3:
            sender.post(window, 0, 0);
            break;
        default:
            sender.post(window, int(random.bounded(3)) + 2, int(random.generate()));
        }
    }
    sender.post(window, 0, 1); // the last word: transmit
    sender.sync();
    qInfo("10000 messages sent in %lld ms", clock.elapsed());
    waitUntilQuiet(station.sim, 1500, 60000);

    QCOMPARE(station.utility.state(), QProcess::Running);
    const QStringList actions = station.sim.radioActions(false);
    QCOMPARE(actions.filter("frame").last(), "frame 0100000007");
    QCOMPARE(actions.filter("lines").last(), "lines dtr=1 rts=1");
    QCOMPARE(indicator(window), Red);
    const qint64 rssAfter = residentKb(station.utility.processId());
    qInfo("resident memory %lld kB before, %lld kB after", rssBefore, rssAfter);
#ifdef ZOLVEK_SANITIZED_BUILD
    // AddressSanitizer holds freed memory back on purpose; the figure means nothing there.
#else
    QVERIFY(rssAfter - rssBefore < 5 * 1024);
#endif

    const int frames = station.frames();
    const double sent = monotonicSeconds();
    QVERIFY(sender.send(window, 0, 1));
    QVERIFY(station.waitForFrames(frames + 1, 2000));
    const double latency = station.sim.named("frame").last().value("t").toDouble() - sent;
    qInfo("transmit after the flood reached the radio in %.2f ms", latency * 1000);
    QVERIFY(latency < 0.5); // the flood took seconds

    QCOMPARE(send({"exit"}), 0);
    QVERIFY(station.utility.waitForFinished(5000));
    QFile log(station.errorFile);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    const qsizetype at = text.indexOf("deepest nesting of requests: ");
    QVERIFY2(at >= 0, text.constData());
    const int deepest = text.mid(at + 29, 3).trimmed().toInt();
    qInfo("deepest nesting of requests: %d", deepest);
    QVERIFY(deepest >= 1 && deepest <= 2);
}

void TestReliabilityX11::radioLostWhileTransmitting()
{
    Station station;
    std::uint32_t window = 0;
    QVERIFY(startKeyed(station, &window));
    QTRY_COMPARE(indicator(window), Red);

    station.sim.process().kill(); // the radio is gone
    QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(BoxTitle), 1, 5000);
    QCOMPARE(send({"tx"}), 0); // does not get through, and is not reported again
    QTest::qWait(300);
    QCOMPARE(windowsTitled(BoxTitle), 1);
    QCOMPARE(station.utility.state(), QProcess::Running);
    QVERIFY(answerMessageBox(BoxTitle));
    QTRY_COMPARE(indicator(window), NoPort);

    // Back again: leaving the settings box reopens the port (with the settings once typed).
    QSettings(station.configHome() + "/KELD/settings.ini", QSettings::IniFormat)
        .setValue("Com/Settings", "4800,n,8,2");
    QVERIFY(restartRadio(station));
    clickAt(window, MoreButton.x(), MoreButton.y());
    clickAt(window, SettingsBox.x(), SettingsBox.y());
    pressKeys("Tab");
    QVERIFY(!station.sim.waitForEvent("connected").isEmpty());
    QCOMPARE(send({"tx"}), 0);
    QVERIFY(station.sim.waitFor([](const JsonProcess::Events &events) {
        return events.last().value("hex") == QLatin1String("0100000007");
    }));
    reopenedThenKeyed(station.sim.radioActions());
    QTRY_COMPARE(indicator(window), Red);
    QCOMPARE(windowsTitled(BoxTitle), 0);
}

void TestReliabilityX11::radioLostDuringReceiveDelay()
{
    Station station;
    std::uint32_t window = 0;
    QVERIFY(startKeyed(station, &window));
    QCOMPARE(send({"rx"}), 0);
    QTest::qWait(300);
    station.sim.process().kill();
    QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(BoxTitle), 1, 5000);
    QTest::qWait(1500); // past the end of the delay: its frame has nowhere to go
    QCOMPARE(windowsTitled(BoxTitle), 1);
    QCOMPARE(send({"0", "2"}), 0); // still answering
    QCOMPARE(station.utility.state(), QProcess::Running);
    QVERIFY(answerMessageBox(BoxTitle));
    QTRY_COMPARE(indicator(window), NoPort);

    // Back again: choosing the port again reopens it.
    QVERIFY(restartRadio(station));
    clickAt(window, MoreButton.x(), MoreButton.y());
    clickAt(window, PortList.x(), PortList.y());
    pressKeys("Return");
    QVERIFY(!station.sim.waitForEvent("connected").isEmpty());
    QCOMPARE(send({"tx"}), 0);
    QVERIFY(station.sim.waitFor([](const JsonProcess::Events &events) {
        return events.last().value("hex") == QLatin1String("0100000007");
    }));
    reopenedThenKeyed(station.sim.radioActions());
}

// The radio back on its address after a loss: the utility reopens it by itself, closes the
// notice, and the host keys it without anyone touching the window.
void TestReliabilityX11::lostRadioBackByItself()
{
    Station station;
    std::uint32_t window = 0;
    QVERIFY(startKeyed(station, &window));
    station.sim.process().kill();
    QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(BoxTitle), 1, 5000);
    QVERIFY(restartRadio(station));
    QVERIFY(!station.sim.waitForEvent("connected", 5000).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(BoxTitle), 0, 5000);
    QCOMPARE(send({"tx"}), 0);
    QVERIFY(station.sim.waitFor([](const JsonProcess::Events &events) {
        return events.last().value("hex") == QLatin1String("0100000007");
    }));
    reopenedThenKeyed(station.sim.radioActions());
}

// "Invalid comport settings" opened while a receive settles: the radio still gets its receive
// frame 1200 ms after the lines dropped, and a transmit while the box shows keys it.
void TestReliabilityX11::boxOverASettlingWait()
{
    Station station;
    std::uint32_t window = 0;
    QVERIFY(startKeyed(station, &window));
    clickAt(window, MoreButton.x(), MoreButton.y());
    clickAt(window, SettingsBox.x(), SettingsBox.y());
    pressKeys("End");
    const int frames = station.frames();
    QCOMPARE(send({"rx"}), 0);
    typeText("x"); // refused: the port keeps its settings
    pressKeys("Tab");
    QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(BoxTitle), 1, 5000);
    // Each reopen turned the radio's CAT on; the receive frame is the one to wait for.
    const auto framesOf = [&station](const char *hex) {
        auto frames = station.sim.named("frame");
        frames.removeIf(
            [hex](const QJsonObject &frame) { return frame.value("hex") != QLatin1String(hex); });
        return frames;
    };
    const qsizetype receives = framesOf("0300000007").size();
    QVERIFY(station.sim.waitFor(
        [&](const auto &) { return framesOf("0300000007").size() > receives; }, 3000));
    QVERIFY(station.frames() > frames);
    QCOMPARE(windowsTitled(BoxTitle), 1); // the frame went out under the box
    // The receive's drop: the first lines down after the transmit frame.
    double dropped = 0;
    bool keyed = false;
    for (const QJsonObject &event : station.sim.events()) {
        keyed = keyed || event.value("hex") == "0100000007";
        if (keyed && event.value("event") == "lines" && event.value("dtr") == false) {
            dropped = event.value("t").toDouble();
            break;
        }
    }
    const QJsonObject frame = framesOf("0300000007").last();
    const double settled = frame.value("t").toDouble() - dropped;
    qInfo("receive frame %.1f ms after the lines dropped, under the box", settled * 1000);
    // The radio stamps what it reads when it wakes, a few ms either way (see the benchmark).
    QVERIFY2(settled >= 1.19 && settled < 1.3, qPrintable(QString::number(settled)));

    const qsizetype transmits = framesOf("0100000007").size();
    QCOMPARE(send({"tx"}), 0);
    QVERIFY(station.sim.waitFor(
        [&](const auto &) { return framesOf("0100000007").size() > transmits; }, 5000));
    QCOMPARE(station.sim.radioActions().last(2),
             (QStringList{"lines dtr=1 rts=1", "frame 0100000007"}));
    QVERIFY(answerMessageBox(BoxTitle));
}

void TestReliabilityX11::nothingLostWhenKilled()
{
    Station station;
    QVERIFY(station.start(true));
    std::uint32_t window = 0;
    QTRY_VERIFY((window = utilityWindow()) != 0);
    clickAt(window, MoreButton.x(), MoreButton.y());
    clickAt(window, SettingsBox.x(), SettingsBox.y());
    pressKeys("ctrl+a");
    typeText("9600,e,7,1");
    clickAt(window, MinimizedBox.x(), MinimizedBox.y());
    clickAt(window, OnTopBox.x(), OnTopBox.y());
    // COM2 has no device here: the port error is answered, the choice stays.
    clickAt(window, PortList.x(), PortList.y());
    pressKeys("Down");
    pressKeys("Return");
    QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(BoxTitle), 1, 3000);
    QVERIFY(answerMessageBox(BoxTitle));
    ::kill(pid_t(station.utility.processId()), SIGKILL);
    QVERIFY(station.utility.waitForFinished(3000));

    QSettings store(station.configHome() + "/KELD/settings.ini", QSettings::IniFormat);
    QCOMPARE(store.value("Com/ComPort").toString(), "2");
    QCOMPARE(store.value("Com/Settings").toString(), "9600,e,7,1");
    QCOMPARE(store.value("Win/Min").toString(), "1");
    QCOMPARE(store.value("Win/Top").toString(), "1");
}

void TestReliabilityX11::exitWhileTransmitting()
{
    Station station;
    QVERIFY(station.start(true));
    QCOMPARE(send({"tx"}), 0);
    QVERIFY(station.waitForFrames(3));
    QCOMPARE(send({"exit"}), 0);
    QVERIFY(station.utility.waitForFinished(3000));
    QCOMPARE(station.utility.exitStatus(), QProcess::NormalExit);
    QCOMPARE(station.utility.exitCode(), 0);
    QVERIFY(!station.sim.waitForEvent("disconnected").isEmpty());
    QCOMPARE(station.sim.radioActions().last(), "lines dtr=0 rts=0");
}

// The window never stands still for a radio that stopped taking data (a remote radio stopped,
// a local device whose output stalls) while the host keys and releases, the user types settings
// or chooses a port, and a lost port is tried again; measured from outside.
void TestReliabilityX11::windowNeverStandsStill_data()
{
    QTest::addColumn<bool>("remote");
    QTest::addColumn<QString>("path");
    for (const bool remote : {true, false})
        for (const char *path :
             {"keying", "releasing", "typing settings", "choosing a port", "lost port tries"})
            QTest::addRow("%s, %s", remote ? "remote radio stopped" : "local output stalled", path)
                << remote << QString::fromLatin1(path);
}

void TestReliabilityX11::windowNeverStandsStill()
{
    QFETCH(bool, remote);
    QFETCH(QString, path);
    if (!remote && !ttyDoubleRuns())
        QSKIP("seccomp user notification is refused here: the tty double cannot run");
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

    const double longest = longestStallDuring(window, [&] {
        if (path == "keying") {
            QCOMPARE(send({"tx"}), 0);
            QVERIFY(syncWithUtility(window));
        } else if (path == "releasing") {
            QCOMPARE(send({"rx"}), 0); // the receive frame is written when the delay has passed
            QTRY_COMPARE_WITH_TIMEOUT(indicator(window), Green, 5000);
        } else if (path == "typing settings") {
            typeText("9600,n,8,1");
        } else if (path == "choosing a port") {
            // COM2 is missing: a box says so. The keys reach the list only once the focus has
            // moved to it, which a loaded desktop can miss: tried again until the box shows.
            const auto boxShown = [] {
                return windowsTitled(BoxTitle) == 1;
            };
            for (int attempt = 0; attempt < 3 && !boxShown(); ++attempt) {
                if (attempt > 0) {
                    clickAt(window, SettingsBox.x(), SettingsBox.y());
                    pressKeys("shift+Tab");
                }
                pressKeys("Down");
                if (QTest::qWaitFor(boxShown, 2000))
                    break;
            }
            QVERIFY(boxShown());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(logSays(errors, "reopening the lost port"), 10000);
        }
    });
    if (remote)
        ::kill(path == "lost port tries" ? pid_t(radio.process().processId()) : sim, SIGCONT);
    qInfo("longest stall of the window: %.1f ms", longest);
    QVERIFY(longest >= 0);
    QVERIFY2(longest < StallLimitMs, qPrintable(QString::number(longest)));
}

ZOLVEK_TEST_MAIN(TestReliabilityX11, false)
#include "test_reliability_x11.moc"
