// zolvek-send: the host side of the utility's message link, for scripts and tests.
//   zolvek-send tx | rx | exit | COMMAND STATE
#include "settings/hostcontract.h"
#include "tools/zolvek-send/sendrequest.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char *const Usage = "usage: zolvek-send tx | rx | exit | COMMAND STATE\n"
                          "Sends the ZOLVEKFUNC message to every zolvek-ptt window.\n"
                          "  tx         switch the radio to transmit (0 1)\n"
                          "  rx         switch the radio to receive (0 0)\n"
                          "  exit       close the utility (1 0)\n"
                          "  --help     show this and exit\n"
                          "  --version  show the version and exit\n"
                          "Exit: 0 when a window was reached, 1 when none was or the desktop\n"
                          "cannot be reached, 2 for a usage error.\n";

int usage()
{
    std::fputs(Usage, stderr);
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
    // No Qt: the sender is what a host script runs, so the two standard
    // options are answered here by hand.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("zolvek-send %s\n", ZOLVEK_VERSION);
        return 0;
    }
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

    std::string why;
    const int reached = sendToUtilities(command, state, &why);
    if (reached < 0) {
        std::fprintf(stderr, "zolvek-send: %s\n", why.c_str());
        return 1;
    }
    if (reached == 0) {
        std::fprintf(stderr, "zolvek-send: no window titled \"%s\" found\n",
                     HostContract::WindowTitle);
        return 1;
    }
    return 0;
}
