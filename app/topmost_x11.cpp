#include "app/topmost.h"

#include "hostlink/xconnection_x11.h"

#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <vector>

// On X11 "above" is the window manager's _NET_WM_STATE_ABOVE state (EWMH): asked of the window
// manager for a mapped window, written into the window's own _NET_WM_STATE before it is mapped.

namespace {

xcb_window_t rootOf(xcb_connection_t *connection, xcb_window_t window)
{
    auto *geometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    const xcb_window_t root = geometry ? geometry->root : 0;
    std::free(geometry);
    return root;
}

bool isMapped(xcb_connection_t *connection, xcb_window_t window)
{
    auto *attributes = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, window), nullptr);
    const bool mapped = attributes && attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    std::free(attributes);
    return mapped;
}

void askWindowManager(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t state,
                      xcb_atom_t above, bool onTop)
{
    char buffer[32] = {};
    auto *event = reinterpret_cast<xcb_client_message_event_t *>(buffer);
    event->response_type = XCB_CLIENT_MESSAGE;
    event->format = 32;
    event->window = window;
    event->type = state;
    event->data.data32[0] = onTop ? 1 : 0; // _NET_WM_STATE_ADD or _NET_WM_STATE_REMOVE
    event->data.data32[1] = above;
    event->data.data32[3] = 1; // from a normal application
    xcb_send_event(connection, 0, rootOf(connection, window),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   buffer);
}

void writeOwnState(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t state,
                   xcb_atom_t above, bool onTop)
{
    std::vector<xcb_atom_t> atoms;
    auto *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, state, XCB_ATOM_ATOM, 0, 1024),
        nullptr);
    if (reply && reply->format == 32) {
        const auto *values = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
        atoms.assign(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    std::erase(atoms, above);
    if (onTop)
        atoms.push_back(above);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32,
                        std::uint32_t(atoms.size()), atoms.data());
}

} // namespace

void setAlwaysOnTop(QWidget *window, bool onTop)
{
    xcb_connection_t *connection = qtXConnection();
    if (!connection) {
        // No X server (offscreen, Wayland): the toolkit's own flag on the platform window.
        window->winId();
        window->windowHandle()->setFlag(Qt::WindowStaysOnTopHint, onTop);
        return;
    }
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t above = internAtom(connection, "_NET_WM_STATE_ABOVE");
    if (isMapped(connection, id))
        askWindowManager(connection, id, state, above, onTop);
    else
        writeOwnState(connection, id, state, above, onTop);
    xcb_flush(connection);
}
