// The real utility on an X display, clicked like a user would, keying the virtual radio.
#include "settings/hostcontract.h"
#include "tests/jsonprocess.h"
#include "tests/screenpoints.h"
#include "tests/testsupport.h"

#include <QRegularExpression>
#include <QTest>

namespace {

int framesSeen(const JsonProcess::Events &events)
{
    int frames = 0;
    for (const QJsonObject &event : events)
        frames += event.value("event") == "frame";
    return frames;
}

} // namespace

class TestPttX11 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void clicksKeyAndUnkeyTheRadio();
};

void TestPttX11::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("DISPLAY").isEmpty(), "needs an X display (run under Xvfb)");
    testStore().reset();
}

void TestPttX11::clicksKeyAndUnkeyTheRadio()
{
    SimProcess sim;
    QVERIFY(sim.start());
    testStore().mapPort(1, sim.url());
    QProcess utility;
    utility.setProcessEnvironment(utilityEnvironment(testStore().configHome(), true));
    utility.start(binaryPath("zolvek-ptt"), {});
    QVERIFY(sim.waitFor([](const auto &events) { return framesSeen(events) >= 2; }));
    const QString window =
        runCommand("xdotool", {"search", "--sync", "--onlyvisible", "--name",
                               QStringLiteral("^%1$").arg(QRegularExpression::escape(
                                   QLatin1String(HostContract::WindowTitle)))})
            .split('\n')
            .first();
    QVERIFY(!window.isEmpty());
    const QStringList click{"mousemove",
                            "--window",
                            window,
                            QString::number(ScreenPoints::Indicator.x()),
                            QString::number(ScreenPoints::Indicator.y()),
                            "click",
                            "1"};

    runCommand("xdotool", click);
    QVERIFY(sim.waitFor([](const auto &events) { return framesSeen(events) >= 3; }));
    runCommand("xdotool", click);
    QVERIFY(sim.waitFor([](const auto &events) { return framesSeen(events) >= 4; }, 5000));
    utility.terminate();
    utility.waitForFinished(5000);

    // Lines up before the transmit frame; the receive frame a settling delay after they drop.
    QCOMPARE(sim.radioActions(),
             (SimProcess::Opened
              + QStringList{"frame 0000000000", "frame 0300000007", "lines dtr=1 rts=1",
                            "frame 0100000007", "lines dtr=0 rts=0", "frame 0300000007"}));
    const auto lines = sim.named("lines");
    const auto frames = sim.named("frame");
    const double gapMs =
        (frames.last().value("t").toDouble() - lines.last().value("t").toDouble()) * 1000;
    qInfo("lines dropped to receive frame at the radio: %.3f ms", gapMs);
    QVERIFY2(gapMs >= 1190 && gapMs < 1600, qPrintable(QString::number(gapMs)));
}

ZOLVEK_TEST_MAIN(TestPttX11, false)
#include "test_ptt_x11.moc"
