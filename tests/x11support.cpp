#include "tests/x11support.h"

#include "tests/jsonprocess.h"
#include "tools/zolvek-send/hostsender.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <thread>
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

bool isShown(std::uint32_t window)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    auto *attributes = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, window), nullptr);
    const bool shown = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(attributes);
    xcb_disconnect(connection);
    return shown;
}

// Shown windows only: Qt also gives its hidden group leader window the program's name.
std::vector<std::uint32_t> shownWindowsTitled(const QString &title)
{
    HostSender sender;
    std::vector<std::uint32_t> shown;
    for (const std::uint32_t window : sender.findWindows(title.toStdString()))
        if (isShown(window))
            shown.push_back(window);
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

namespace {

xcb_atom_t atomNamed(xcb_connection_t *connection, const char *name)
{
    auto *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

// One _NET_WM_PING to `window` and its answer, which the utility sends to the root window from
// its own event loop.
bool ping(xcb_connection_t *connection, xcb_window_t window, std::uint32_t token, int timeoutMs)
{
    const xcb_atom_t protocols = atomNamed(connection, "WM_PROTOCOLS");
    const xcb_atom_t pingAtom = atomNamed(connection, "_NET_WM_PING");
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = window;
    request.type = protocols;
    request.data.data32[0] = pingAtom;
    request.data.data32[1] = token;
    request.data.data32[2] = window;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char *>(&request));
    xcb_flush(connection);
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && !xcb_connection_has_error(connection)) {
        xcb_generic_event_t *event = xcb_poll_for_event(connection);
        if (!event) {
            pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
            ::poll(&fd, 1, int(qMax<qint64>(1, deadline.remainingTime())));
            continue;
        }
        bool answered = false;
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            const auto *reply = reinterpret_cast<const xcb_client_message_event_t *>(event);
            answered = reply->type == protocols && reply->data.data32[0] == pingAtom
                       && reply->data.data32[1] == token;
        }
        std::free(event);
        if (answered)
            return true;
    }
    return false;
}

} // namespace

bool syncWithUtility(std::uint32_t window, int timeoutMs)
{
    if (window == 0)
        return false;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    // Qt sends the answer to the root window for StructureNotify (and the window manager's
    // SubstructureRedirect).
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    // The first answer can leave while input read in the same turn of the utility's loop is
    // still queued; the second comes from a later turn, after that input was handled.
    static std::uint32_t tokens = 0;
    const bool synced = ping(connection, window, ++tokens, timeoutMs)
                        && ping(connection, window, ++tokens, timeoutMs);
    xcb_disconnect(connection);
    return synced;
}

bool answerMessageBox(const QString &title)
{
    const auto boxes = shownWindowsTitled(title);
    if (boxes.size() != 1)
        return false;
    runCommand("xdotool", {"windowactivate", "--sync", QString::number(boxes.front())});
    runCommand("xdotool", {"key", "Return"});
    return syncWithUtility(utilityWindow());
}

void clickAt(std::uint32_t window, int x, int y)
{
    // The window carries its title before the window manager maps it; a click sent then is lost.
    if (!QTest::qWaitFor([window] { return isShown(window); }, 10000))
        qWarning("the utility's window was not shown before a click");
    runCommand("xdotool", {"mousemove", "--window", QString::number(window), QString::number(x),
                           QString::number(y), "click", "1"});
    if (!syncWithUtility(window))
        qWarning("the utility did not answer after a click");
}

void pressKeys(const QString &keys)
{
    runCommand("xdotool", {"key", keys});
    if (!syncWithUtility(utilityWindow()))
        qWarning("the utility did not answer after keys");
}

void typeText(const QString &text)
{
    runCommand("xdotool", {"type", "--delay", "20", text});
    if (!syncWithUtility(utilityWindow()))
        qWarning("the utility did not answer after typing");
}

double longestStallDuring(std::uint32_t window, const std::function<void()> &action)
{
    constexpr int LimitMs = 3000;
    std::atomic<bool> stopping{false};
    double longest = -1;
    std::thread watch([&] {
        xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
        for (std::uint32_t token = 1u << 24; !stopping && !xcb_connection_has_error(connection);
             ++token) {
            const auto sent = std::chrono::steady_clock::now();
            const bool answered = ping(connection, window, token, LimitMs);
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - sent;
            longest = qMax(longest, answered ? took.count() : double(LimitMs));
            std::this_thread::sleep_for(std::chrono::milliseconds(2)); // pacing, not a wait
        }
        xcb_disconnect(connection);
    });
    action();
    stopping = true;
    watch.join();
    return longest;
}
