#include "tools/zolvek-send/sendrequest.h"

#include "tools/zolvek-send/hostsender.h"

#include <cstdlib>

int sendToUtilities(std::int32_t command, std::int32_t state, std::string *why)
{
    HostSender sender;
    if (!sender.isOpen()) {
        const char *display = std::getenv("DISPLAY");
        *why = std::string("cannot open display \"") + (display ? display : "") + "\"";
        return -1;
    }
    int reached = 0;
    for (const std::uint32_t window : sender.findWindows())
        reached += sender.send(window, command, state) ? 1 : 0;
    return reached;
}
