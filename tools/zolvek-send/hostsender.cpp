#include "tools/zolvek-send/hostsender.h"

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace {
// Deep enough for a window manager's frames around a client window.
constexpr int MaxDepth = 6;
} // namespace

HostSender::HostSender(const char *display)
{
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(display, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    m_root = screens.data->root;
    m_netWmName = atom("_NET_WM_NAME");
    m_utf8String = atom("UTF8_STRING");
}

HostSender::~HostSender()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

std::uint32_t HostSender::atom(const std::string &name)
{
    if (const auto known = m_atoms.find(name); known != m_atoms.end())
        return known->second;
    const auto cookie = xcb_intern_atom(m_connection, 0, std::uint16_t(name.size()), name.data());
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(m_connection, cookie, nullptr);
    const std::uint32_t result = reply ? reply->atom : std::uint32_t(XCB_ATOM_NONE);
    std::free(reply);
    if (result != XCB_ATOM_NONE)
        m_atoms.emplace(name, result);
    return result;
}

std::string HostSender::title(std::uint32_t window)
{
    // _NET_WM_NAME (UTF-8) where the window has one, else the older WM_NAME.
    for (const auto &[property, type] :
         {std::pair{m_netWmName, m_utf8String},
          std::pair{std::uint32_t(XCB_ATOM_WM_NAME), std::uint32_t(XCB_GET_PROPERTY_TYPE_ANY)}}) {
        const auto cookie = xcb_get_property(m_connection, 0, window, property, type, 0, 256);
        xcb_get_property_reply_t *reply = xcb_get_property_reply(m_connection, cookie, nullptr);
        if (!reply)
            continue;
        const int length = xcb_get_property_value_length(reply);
        std::string text;
        if (reply->format == 8 && length > 0)
            text.assign(static_cast<const char *>(xcb_get_property_value(reply)),
                        std::size_t(length));
        std::free(reply);
        if (!text.empty())
            return text;
    }
    return {};
}

std::vector<std::uint32_t> HostSender::findWindows(const std::string &wanted)
{
    std::vector<std::uint32_t> found;
    if (!m_connection)
        return found;
    std::vector<std::uint32_t> level{m_root};
    for (int depth = 0; depth < MaxDepth && !level.empty(); ++depth) {
        std::vector<std::uint32_t> next;
        for (const std::uint32_t parent : level) {
            xcb_query_tree_reply_t *tree =
                xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, parent), nullptr);
            if (!tree)
                continue;
            const xcb_window_t *children = xcb_query_tree_children(tree);
            next.insert(next.end(), children, children + xcb_query_tree_children_length(tree));
            std::free(tree);
        }
        for (const std::uint32_t window : next) {
            if (title(window) == wanted)
                found.push_back(window);
        }
        level.swap(next);
    }
    return found;
}

namespace {

void fillMessage(char *buffer, std::uint32_t window, std::uint32_t type, std::int32_t command,
                 std::int32_t state)
{
    auto *event = reinterpret_cast<xcb_client_message_event_t *>(buffer);
    event->response_type = XCB_CLIENT_MESSAGE;
    event->format = 32;
    event->window = window;
    event->type = type;
    event->data.data32[0] = std::uint32_t(command);
    event->data.data32[1] = std::uint32_t(state);
}

} // namespace

void HostSender::post(std::uint32_t window, std::int32_t command, std::int32_t state)
{
    if (!m_connection)
        return;
    char buffer[32] = {};
    fillMessage(buffer, window, atom(MessageName), command, state);
    xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, buffer);
}

bool HostSender::send(std::uint32_t window, std::int32_t command, std::int32_t state,
                      const std::string &messageName)
{
    if (!m_connection)
        return false;
    // The server copies 32 bytes whatever the event's size.
    char buffer[32] = {};
    fillMessage(buffer, window, atom(messageName), command, state);
    const auto cookie =
        xcb_send_event_checked(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, buffer);
    xcb_generic_error_t *error = xcb_request_check(m_connection, cookie);
    std::free(error);
    return error == nullptr;
}

void HostSender::sync()
{
    if (!m_connection)
        return;
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}
