// The real utility on a local serial device with modem lines (the tty double), switched by a host
// and edited in its window, on an X display.
#include "tests/jsonprocess.h"
#include "tests/localstation.h"
#include "tests/screenpoints.h"
#include "tests/testsupport.h"
#include "tests/x11support.h"
#include "tools/monotonic.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>

namespace {

const QString BoxTitle = QStringLiteral("zolvek-ptt");

int send(const QStringList &arguments)
{
    return QProcess::execute(binaryPath("zolvek-send"), arguments);
}

} // namespace

class TestLocalPortX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void startUpLowersTheLinesFirst();
    void transmitAndReceive();
    void editsReopenUnkeyed();
    void keyedUtilityEnds_data();
    void keyedUtilityEnds();
    void unpluggedWhileKeyed();

private:
    bool startKeyed(LocalStation &station, bool leftByAnother = false);

    QProcess m_windowManager;
};

void TestLocalPortX11::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("DISPLAY").isEmpty(), "needs an X display (run under Xvfb)");
    int status = -1;
    runCommand(binaryPath("tty-double"), {"--", "/bin/true"}, 10000, &status);
    if (status == 126)
        QSKIP("seccomp user notification is refused here: the tty double cannot run");
    QCOMPARE(status, 0);
    QVERIFY2(startWindowManager(m_windowManager), "openbox did not start");
}

void TestLocalPortX11::cleanupTestCase()
{
    stopWindowManager(m_windowManager);
}

bool TestLocalPortX11::startKeyed(LocalStation &station, bool leftByAnother)
{
    return station.start(leftByAnother) && send({"tx"}) == 0 && station.waitForFrames(3);
}

void TestLocalPortX11::startUpLowersTheLinesFirst()
{
    LocalStation station;
    QVERIFY(station.start());
    // The driver raised both lines at open; the utility lowers them before anything else.
    QCOMPARE(station.log.radioActions(),
             (SimProcess::Opened + QStringList{"frame 0000000000", "frame 0300000007"}));
    const int opened = station.indexOf("open");
    const int lowered = station.indexOf("lines", station.indexOf("lines", opened) + 1);
    const int settings = station.indexOf("settings");
    QVERIFY(opened >= 0 && lowered > opened && settings > lowered);
    QVERIFY(settings < station.indexOf("frame"));
    const QJsonObject applied = station.log.events().at(settings);
    QCOMPARE(applied.value("baud").toInt(), 4800);
    QCOMPARE(applied.value("data").toInt(), 8);
    QCOMPARE(applied.value("parity").toString(), "n");
    QCOMPARE(applied.value("stop").toString(), "2");
    qInfo("lines high after open: %.3f ms", (station.time(lowered) - station.time(opened)) * 1e3);
}

void TestLocalPortX11::transmitAndReceive()
{
    LocalStation station;
    QVERIFY(station.start());
    const double sent = monotonicSeconds();
    QCOMPARE(send({"tx"}), 0);
    QVERIFY(station.waitForFrames(3));
    qInfo("zolvek-send tx to transmit frame: %.2f ms (process start included)",
          (station.log.named("frame").last().value("t").toDouble() - sent) * 1e3);
    QCOMPARE(send({"rx"}), 0);
    QVERIFY(station.waitForFrames(4));
    QCOMPARE(station.log.radioActions().mid(4),
             (QStringList{"lines dtr=1 rts=1", "frame 0100000007", "lines dtr=0 rts=0",
                          "frame 0300000007"}));
    const double gap = station.log.named("frame").last().value("t").toDouble()
                       - station.log.named("lines").last().value("t").toDouble();
    QVERIFY2(gap >= 1.2 && gap < 1.6, qPrintable(QString::number(gap)));
}

// Every reopen of an edit leaves the radio in receive, the indicator green, and sends only the
// CAT-on frame;
// 7 data bits and parity reach the device, which a bare pseudo-terminal could not show, and so
// does a rate the kernel has no name for.
void TestLocalPortX11::editsReopenUnkeyed()
{
    LocalStation station;
    QVERIFY(startKeyed(station));
    const std::uint32_t window = utilityWindow();
    QVERIFY(window);
    using namespace ScreenPoints;
    clickAt(window, MoreButton.x(), MoreButton.y());
    clickAt(window, SettingsBox.x(), SettingsBox.y());
    pressKeys("ctrl+a");
    typeText("14400,e,7,1");
    QVERIFY(station.log.waitFor([](const JsonProcess::Events &events) {
        return std::any_of(events.cbegin(), events.cend(), [](const QJsonObject &event) {
            return event.value("event") == "settings" && event.value("baud") == 14400
                   && event.value("parity") == "e" && event.value("data") == 7;
        });
    }));
    QVERIFY(station.log.named("open").size() > 5); // one reopen a keystroke
    QCOMPARE(station.log.radioActions().filter("lines").last(), "lines dtr=0 rts=0");
    const auto frames = station.log.named("frame");
    for (qsizetype i = 3; i < frames.size(); ++i)
        QCOMPARE(frames[i].value("hex").toString(), "0000000000");
    QTRY_COMPARE(pixelAt(window, Indicator.x(), Indicator.y()), QColor(0, 255, 0));
}

void TestLocalPortX11::keyedUtilityEnds_data()
{
    QTest::addColumn<bool>("killed");
    QTest::addColumn<QString>("cause");
    QTest::addColumn<bool>("leftByAnother");
    QTest::newRow("host says exit") << false << "last close" << false;
    QTest::newRow("SIGKILL") << true << "program ended" << false;
    // Only the HUPCL the utility set drops the lines of a killed utility here.
    QTest::newRow("SIGKILL, device left with HUPCL cleared") << true << "program ended" << true;
}

// Closed by the host, the utility lowers the lines itself; killed, the close drops them.
void TestLocalPortX11::keyedUtilityEnds()
{
    QFETCH(bool, killed);
    QFETCH(QString, cause);
    QFETCH(bool, leftByAnother);
    LocalStation station;
    QVERIFY(startKeyed(station, leftByAnother));
    const QJsonObject applied = station.log.named("settings").last();
    QCOMPARE(applied.value("baud").toInt(), 4800);
    QCOMPARE(applied.value("parity").toString(), "n");
    if (killed)
        QCOMPARE(::kill(pid_t(station.utilityPid()), SIGKILL), 0);
    else
        QCOMPARE(send({"exit"}), 0);
    QVERIFY(station.log.process().waitForFinished(5000));
    const int closed = station.indexOf("close");
    QVERIFY(closed > 0);
    QCOMPARE(station.log.events().at(closed).value("cause").toString(), cause);
    QCOMPARE(station.log.radioActions().last(), "lines dtr=0 rts=0");
}

// An adapter pulled out while keyed: the utility notices at once, says so and shows no port.
void TestLocalPortX11::unpluggedWhileKeyed()
{
    LocalStation station;
    QVERIFY(startKeyed(station));
    const std::uint32_t window = utilityWindow();
    QTRY_COMPARE(pixelAt(window, ScreenPoints::Indicator.x(), ScreenPoints::Indicator.y()),
                 QColor(255, 0, 0));
    QCOMPARE(::kill(pid_t(station.log.process().processId()), SIGUSR1), 0);
    QTRY_COMPARE_WITH_TIMEOUT(windowsTitled(BoxTitle), 1, 5000);
    QCOMPARE(send({"tx"}), 0); // refused quietly: the loss was reported once
    QVERIFY(answerMessageBox(BoxTitle));
    QCOMPARE(windowsTitled(BoxTitle), 0);
    // Neither transmit nor receive: struck through, the port gone.
    QTRY_COMPARE(pixelAt(window, ScreenPoints::Indicator.x(), ScreenPoints::Indicator.y()),
                 QColor(128, 128, 128));
    QCOMPARE(station.log.named("frame").size(), 3);
}

ZOLVEK_TEST_MAIN(TestLocalPortX11, false)
#include "test_localport_x11.moc"
