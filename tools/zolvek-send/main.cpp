// zolvek-send: the host side of the utility's message link, for scripts and tests.
//   zolvek-send tx | rx | exit | COMMAND STATE
#include "tools/zolvek-send/hostsender.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: zolvek-send tx | rx | exit | COMMAND STATE\n"
                         "  tx    switch the radio to transmit (0 1)\n"
                         "  rx    switch the radio to receive (0 0)\n"
                         "  exit  close the utility (1 0)\n");
    return 2;
}

bool parseInt32(const char *text, std::int32_t *value)
{
    errno = 0;
    char *end = nullptr;
    const long long number = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || number < INT32_MIN || number > INT32_MAX)
        return false;
    *value = std::int32_t(number);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    std::int32_t command = 0;
    std::int32_t state = 0;
    if (argc == 2 && std::strcmp(argv[1], "tx") == 0) {
        state = 1;
    } else if (argc == 2 && std::strcmp(argv[1], "rx") == 0) {
        state = 0;
    } else if (argc == 2 && std::strcmp(argv[1], "exit") == 0) {
        command = 1;
    } else if (argc == 3) {
        if (!parseInt32(argv[1], &command) || !parseInt32(argv[2], &state))
            return usage();
    } else {
        return usage();
    }

    HostSender sender;
    if (!sender.isOpen()) {
        const char *display = std::getenv("DISPLAY");
        std::fprintf(stderr, "zolvek-send: cannot open display \"%s\"\n", display ? display : "");
        return 1;
    }
    int reached = 0;
    for (const std::uint32_t window : sender.findWindows())
        reached += sender.send(window, command, state) ? 1 : 0;
    if (reached == 0) {
        std::fprintf(stderr, "zolvek-send: no window titled \"%s\" found\n",
                     HostSender::WindowTitle);
        return 1;
    }
    return 0;
}
