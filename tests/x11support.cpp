#include "tests/x11support.h"

#include "tests/jsonprocess.h"
#include "tools/zolvek-send/hostsender.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <cstdlib>
#include <xcb/xcb.h>

bool startWindowManager(QProcess &windowManager)
{
    windowManager.setProcessChannelMode(QProcess::ForwardedChannels);
    windowManager.start(QStringLiteral("openbox"), {});
    if (!windowManager.waitForStarted(10000))
        return false;
    // Generous: on a loaded machine (the sanitizer run) openbox can take seconds to settle.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000) {
        if (runCommand("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"))
            return true;
        if (windowManager.state() == QProcess::NotRunning) {
            qWarning("openbox ended with status %d", windowManager.exitCode());
            return false;
        }
        QTest::qWait(100);
    }
    return false;
}

void stopWindowManager(QProcess &windowManager)
{
    windowManager.terminate();
    windowManager.waitForFinished(3000);
}

std::uint32_t utilityWindow()
{
    HostSender sender;
    const auto windows = sender.findWindows();
    return windows.size() == 1 ? windows.front() : 0;
}

namespace {

// Shown windows only: Qt also gives its hidden group leader window the program's name.
std::vector<std::uint32_t> shownWindowsTitled(const QString &title)
{
    HostSender sender;
    std::vector<std::uint32_t> shown;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    for (const std::uint32_t window : sender.findWindows(title.toStdString())) {
        auto *attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, window), nullptr);
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
            shown.push_back(window);
        std::free(attributes);
    }
    xcb_disconnect(connection);
    return shown;
}

} // namespace

int windowsTitled(const QString &title)
{
    return int(shownWindowsTitled(title).size());
}

QColor pixelAt(std::uint32_t window, int x, int y)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    QColor color;
    auto *image = xcb_get_image_reply(connection,
                                      xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window,
                                                    std::int16_t(x), std::int16_t(y), 1, 1, ~0u),
                                      nullptr);
    if (image && xcb_get_image_data_length(image) >= 4) {
        const std::uint8_t *data = xcb_get_image_data(image); // 24-bit depth: B G R x
        color = QColor(data[2], data[1], data[0]);
    }
    std::free(image);
    xcb_disconnect(connection);
    return color;
}

bool answerMessageBox(const QString &title)
{
    const auto boxes = shownWindowsTitled(title);
    if (boxes.size() != 1)
        return false;
    runCommand("xdotool", {"windowactivate", "--sync", QString::number(boxes.front())});
    runCommand("xdotool", {"key", "Return"});
    QTest::qWait(200);
    return true;
}

void clickAt(std::uint32_t window, int x, int y)
{
    runCommand("xdotool", {"mousemove", "--window", QString::number(window), QString::number(x),
                           QString::number(y), "click", "1"});
    QTest::qWait(150);
}

void pressKeys(const QString &keys)
{
    runCommand("xdotool", {"key", keys});
    QTest::qWait(100);
}

void typeText(const QString &text)
{
    runCommand("xdotool", {"type", "--delay", "20", text});
    QTest::qWait(100);
}
