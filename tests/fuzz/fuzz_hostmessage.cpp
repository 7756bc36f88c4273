// X events as the host link sees them: any 32 bytes decode to a request or to nothing.
#include "hostlink/hostmessage_x11.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    alignas(xcb_client_message_event_t) std::uint8_t event[32] = {};
    std::memcpy(event, data, std::min(size, sizeof event));
    xcb_atom_t type = 0;
    xcb_window_t window = 0;
    if (size >= 40) {
        std::memcpy(&type, data + 32, 4);
        std::memcpy(&window, data + 36, 4);
    }
    const auto request =
        decodeHostMessage(reinterpret_cast<const xcb_generic_event_t *>(event), type, window);
    if (request) {
        const auto *message = reinterpret_cast<const xcb_client_message_event_t *>(event);
        if (message->type != type || message->window != window || type == XCB_ATOM_NONE)
            __builtin_trap();
    }
    return 0;
}
