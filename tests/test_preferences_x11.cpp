// Editing the options and the window preferences in the real utility, under a real window
// manager, with the virtual radio.
#include "settings/options.h"
#include "tests/jsonprocess.h"
#include "tests/screenpoints.h"
#include "tests/testsupport.h"
#include "tests/x11support.h"
#include "tools/zolvek-send/hostsender.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTest>

namespace {

using namespace ScreenPoints;

QString windowId()
{
    const std::uint32_t window = utilityWindow();
    return window ? QString::number(window) : QString();
}

void click(const QString &window, QPoint at)
{
    clickAt(window.toUInt(), at.x(), at.y());
}

bool waitForProperty(const QString &window, const QString &property, const QString &text,
                     bool present)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000) {
        if (runCommand("xprop", {"-id", window, property}).contains(text) == present)
            return true;
        QTest::qWait(50);
    }
    return false;
}

// The utility started on its virtual radio, its window shown: its id, or empty.
QString shownWindow(Station &station)
{
    QString window;
    if (!station.start(true))
        return window;
    QElapsedTimer clock;
    clock.start();
    while ((window = windowId()).isEmpty() && clock.elapsed() < 5000)
        QTest::qWait(50);
    return !window.isEmpty() && waitForProperty(window, "WM_STATE", "Normal", true) ? window
                                                                                    : QString();
}

QString stored(const QString &configHome, const QString &key)
{
    QSettings store(configHome + "/KELD/settings.ini", QSettings::IniFormat);
    return store.value(key).toString();
}

} // namespace

class TestPreferencesX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void optionsTakeEffectAndSurviveRestart();
    void startsMinimized();
    void wheelOverPortListChangesNothing();

private:
    QProcess m_windowManager;
};

void TestPreferencesX11::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("DISPLAY").isEmpty(), "needs an X display (run under Xvfb)");
    QVERIFY2(startWindowManager(m_windowManager), "openbox did not start");
}

void TestPreferencesX11::cleanupTestCase()
{
    stopWindowManager(m_windowManager);
}

void TestPreferencesX11::optionsTakeEffectAndSurviveRestart()
{
    Station station;
    QString window = shownWindow(station);
    QVERIFY(!window.isEmpty());
    QVERIFY(!runCommand("xprop", {"-id", window, "_NET_WM_STATE"}).contains("ABOVE"));

    click(window, MoreButton);
    click(window, OnTopBox);
    QVERIFY(waitForProperty(window, "_NET_WM_STATE", "_NET_WM_STATE_ABOVE", true));
    QCOMPARE(stored(station.configHome(), "Win/Top"), "1");
    click(window, OnTopBox);
    QVERIFY(waitForProperty(window, "_NET_WM_STATE", "_NET_WM_STATE_ABOVE", false));
    QCOMPARE(stored(station.configHome(), "Win/Top"), "0");
    QCOMPARE(windowId(), window); // the same window all along
    click(window, OnTopBox);
    QVERIFY(waitForProperty(window, "_NET_WM_STATE", "_NET_WM_STATE_ABOVE", true));

    // New line settings, typed into the running utility, reach the radio.
    click(window, SettingsBox);
    runCommand("xdotool", {"key", "ctrl+a"});
    runCommand("xdotool", {"type", "--delay", "30", "9600,e,7,1"});
    QVERIFY(station.sim.waitFor([](const JsonProcess::Events &events) {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->value("event") == "settings")
                return it->value("baud") == 9600 && it->value("parity") == "e"
                       && it->value("data") == 7 && it->value("stop") == "1";
        return false;
    }));
    QCOMPARE(stored(station.configHome(), "Com/Settings"), "9600,e,7,1");
    QCOMPARE(station.utility.state(), QProcess::Running);

    // All of it is there at the next start.
    QVERIFY(station.stopUtility());
    const qsizetype before = station.sim.events().size();
    QVERIFY(station.startUtility());
    const auto events = station.sim.events().mid(before);
    bool sawSettings = false;
    for (const QJsonObject &event : events)
        sawSettings = sawSettings
                      || (event.value("event") == "settings" && event.value("baud") == 9600
                          && event.value("parity") == "e");
    QVERIFY(sawSettings);
    QTRY_VERIFY(!(window = windowId()).isEmpty());
    QVERIFY(waitForProperty(window, "_NET_WM_STATE", "_NET_WM_STATE_ABOVE", true));
    QVERIFY(station.stopUtility());
}

void TestPreferencesX11::startsMinimized()
{
    Station station;
    QString window = shownWindow(station);
    QVERIFY(!window.isEmpty());
    click(window, MoreButton);
    click(window, MinimizedBox);
    QCOMPARE(stored(station.configHome(), "Win/Min"), "1");
    QVERIFY(waitForProperty(window, "WM_STATE", "Normal", true)); // not minimized now
    QVERIFY(station.stopUtility());

    QVERIFY(station.startUtility());
    QTRY_VERIFY(!(window = windowId()).isEmpty());
    QVERIFY(waitForProperty(window, "WM_STATE", "Iconic", true));
    // Restored, it shows the narrow strip, as after any start.
    runCommand("xdotool", {"windowactivate", "--sync", window});
    QVERIFY(waitForProperty(window, "WM_STATE", "Normal", true));
    const QString info = runCommand("xwininfo", {"-id", window});
    QVERIFY2(info.contains("Width: 79"), qPrintable(info));
    QVERIFY(station.stopUtility());
}

// A wheel notch over the closed port list while the settings box has the focus: on a real desktop
// the wheel would give the list the focus first, and then switch the port.
void TestPreferencesX11::wheelOverPortListChangesNothing()
{
    Station station;
    QString window = shownWindow(station);
    QVERIFY(!window.isEmpty());
    click(window, MoreButton);
    click(window, SettingsBox);
    const qsizetype connections = station.sim.named("connected").size();
    runCommand("xdotool", {"mousemove", "--window", window, QString::number(PortList.x()),
                           QString::number(PortList.y()), "click", "5"});
    QVERIFY(syncWithUtility(window.toUInt()));
    QCOMPARE(stored(station.configHome(), "Com/ComPort"), QString());
    QCOMPARE(station.sim.named("connected").size(), connections);
    QCOMPARE(windowsTitled("zolvek-ptt"), 0); // no "Com port error"
    QVERIFY(station.stopUtility());
}

ZOLVEK_TEST_MAIN(TestPreferencesX11, false)
#include "test_preferences_x11.moc"
