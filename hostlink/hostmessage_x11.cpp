#include "hostlink/hostmessage_x11.h"

std::optional<HostRequest> decodeHostMessage(const xcb_generic_event_t *event,
                                             xcb_atom_t messageType, xcb_window_t window)
{
    // The top bit marks an event that came through SendEvent, as the host's always do.
    if (!event || (event->response_type & 0x7f) != XCB_CLIENT_MESSAGE
        || messageType == XCB_ATOM_NONE)
        return std::nullopt;
    const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event);
    if (message->type != messageType || message->window != window || message->format != 32)
        return std::nullopt;
    return HostRequest{std::int32_t(message->data.data32[0]),
                       std::int32_t(message->data.data32[1])};
}
