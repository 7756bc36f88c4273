#pragma once

#include <cstdint>
#include <optional>
#include <xcb/xcb.h>

struct HostRequest
{
    std::int32_t command = 0;
    std::int32_t state = 0;
};

// The request an X event carries: a ClientMessage of type `messageType`, format 32, addressed to
// `window`, with the command in data32[0] and the state in data32[1], both signed.
std::optional<HostRequest> decodeHostMessage(const xcb_generic_event_t *event,
                                             xcb_atom_t messageType, xcb_window_t window);
