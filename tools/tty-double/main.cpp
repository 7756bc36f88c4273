// tty-double: runs a program with a pseudo-terminal that answers like a serial device with
// modem lines, and logs what the program does to it.
//   tty-double [--link PATH] [--json] [--left-by-another] -- COMMAND [ARGUMENTS...]
// SIGUSR1 unplugs the device; SIGUSR2 stalls its output, and the next SIGUSR2 lets it flow. Exit:
// the program's own status; 126 where seccomp user notification is refused; 2 for a usage error.
#include "tools/tty-double/ttydouble.h"

#include <QByteArray>
#include <QFile>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

void usage(std::FILE *to)
{
    std::fputs(
        "usage: tty-double [--link PATH] [--json] [--left-by-another] -- COMMAND [ARGUMENTS...]\n"
        "Runs COMMAND with a pseudo-terminal that answers DTR, RTS and line settings like a\n"
        "serial device and logs them, with every 5-byte frame, on standard output\n"
        "(COMMAND's own output goes to standard error). --link names the device with a\n"
        "symbolic link. --left-by-another starts the device as another program may have left\n"
        "it: HUPCL cleared, both lines up, 1200 baud 7E1 with hardware flow control. SIGUSR1\n"
        "unplugs the device. SIGUSR2 stalls its output (its buffer full, writes refused with\n"
        "EAGAIN); the next SIGUSR2 lets it flow again.\n",
        to);
}

} // namespace

int main(int argc, char **argv)
{
    bool json = false;
    bool leftByAnother = false;
    QByteArray link;
    int at = 1;
    for (; at < argc; ++at) {
        if (!std::strcmp(argv[at], "--json")) {
            json = true;
        } else if (!std::strcmp(argv[at], "--left-by-another")) {
            leftByAnother = true;
        } else if (!std::strcmp(argv[at], "--link") && at + 1 < argc) {
            link = argv[++at];
        } else if (!std::strcmp(argv[at], "--help")) {
            usage(stdout);
            return 0;
        } else if (!std::strcmp(argv[at], "--version")) {
            std::printf("tty-double %s\n", ZOLVEK_VERSION);
            return 0;
        } else if (!std::strcmp(argv[at], "--")) {
            ++at;
            break;
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (at >= argc) {
        usage(stderr);
        return 2;
    }
    SimLog log(json);
    TtyDouble device(log);
    if (leftByAnother)
        device.leaveAsAnotherProgramDid();
    if (device.devicePath().isEmpty()) {
        std::fprintf(stderr, "tty-double: no pseudo-terminal\n");
        return 1;
    }
    if (!link.isEmpty()) {
        QFile::remove(QString::fromLocal8Bit(link));
        if (symlink(device.devicePath().toLocal8Bit().constData(), link.constData()) != 0) {
            std::perror("tty-double: --link");
            return 1;
        }
    }
    log.listening(device.devicePath());
    const int status = device.run(argv + at);
    if (!link.isEmpty())
        unlink(link.constData());
    return status;
}
