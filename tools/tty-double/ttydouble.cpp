#include "tools/tty-double/ttydouble.h"

#include "tools/ft847-sim/ft847frames.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The kernel's own termios layouts (not the C library's).
struct KernelTermios
{
    std::uint32_t iflag, oflag, cflag, lflag;
    std::uint8_t line;
    std::uint8_t cc[19];
};
struct KernelTermios2
{
    KernelTermios base;
    std::uint32_t ispeed, ospeed;
};
static_assert(sizeof(KernelTermios) == 36 && sizeof(KernelTermios2) == 44);

constexpr unsigned long TermiosGet2 = 0x802c542a;
constexpr unsigned long TermiosSet2 = 0x402c542b;
constexpr unsigned long TermiosSetW2 = 0x402c542c;
constexpr unsigned long TermiosSetF2 = 0x402c542d;
constexpr std::uint32_t Bother = 0010000;
constexpr std::uint32_t SpeedBits = CBAUD | CBAUDEX;
// The bits a pseudo-terminal forces and a serial driver keeps as set.
constexpr std::uint32_t LineBits = SpeedBits | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | HUPCL;

const std::uint32_t WatchedIoctls[] = {TCGETS,      TCSETS,      TCSETSW,      TCSETSF,
                                       TermiosGet2, TermiosSet2, TermiosSetW2, TermiosSetF2,
                                       TIOCMGET,    TIOCMBIS,    TIOCMBIC,     TIOCMSET};

int baudOf(std::uint32_t code, std::uint32_t otherSpeed)
{
    static const struct
    {
        std::uint32_t code;
        int baud;
    } table[] = {{B0, 0},           {B50, 50},         {B75, 75},         {B110, 110},
                 {B134, 134},       {B150, 150},       {B200, 200},       {B300, 300},
                 {B600, 600},       {B1200, 1200},     {B1800, 1800},     {B2400, 2400},
                 {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
                 {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
                 {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}};
    if (code == Bother)
        return int(otherSpeed);
    for (const auto &entry : table)
        if (entry.code == code)
            return entry.baud;
    return -1;
}

// Sends `fd` over the socket, or a refusal when fd is negative.
void sendListener(int socket, int fd)
{
    char byte = fd < 0 ? 'n' : 'y';
    iovec io{&byte, 1};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
    }
    while (sendmsg(socket, &message, 0) < 0 && errno == EINTR) {
    }
}

int receiveListener(int socket)
{
    char byte = 0;
    iovec io{&byte, 1};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (recvmsg(socket, &message, 0) <= 0 || byte != 'y')
        return -1;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    if (!header || header->cmsg_type != SCM_RIGHTS)
        return -1;
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(header), sizeof(int));
    return fd;
}

// In the child: send write, close, open and the tty ioctls to the supervisor; let all else by.
int installFilter()
{
    std::vector<sock_filter> code;
    const auto add = [&](sock_filter f) {
        code.push_back(f);
    };
    add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0));
    add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    const std::uint32_t always[] = {__NR_write, __NR_close, __NR_openat, __NR_open};
    for (const std::uint32_t nr : always)
        add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nr, 0, 1)),
            add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
    add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_ioctl, 1, 0));
    add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[1])));
    for (const std::uint32_t request : WatchedIoctls)
        add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, request, 0, 1)),
            add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
    add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return -1;
    return int(
        syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
}

} // namespace

TtyDouble::TtyDouble(SimLog &log)
    : m_log(log)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return;
    m_slavePath = QString::fromLocal8Bit(ptsname(m_master));
    m_slave = open(ptsname(m_master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct stat device
    {
    };
    if (m_slave < 0 || fstat(m_slave, &device) != 0) {
        m_slavePath.clear();
        return;
    }
    m_rdev = device.st_rdev;
    termios raw{};
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slave, TCSANOW, &raw);
    // A serial port as the kernel first sets it up.
    m_line.cflag = B9600 | CS8 | CREAD | HUPCL | CLOCAL;
    m_logged.baud = -1; // so the first settings are always logged
}

void TtyDouble::leaveAsAnotherProgramDid()
{
    m_line.cflag = B1200 | CS7 | PARENB | CREAD | CRTSCTS;
    m_line.dtr = m_line.rts = true;
}

TtyDouble::~TtyDouble()
{
    for (const int fd : {m_master, m_slave, m_listener})
        if (fd >= 0)
            close(fd);
}

int TtyDouble::run(char **argv)
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGCHLD, SIGUSR1, SIGUSR2, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, signal);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &signals, &previous);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    int sockets[2];
    if (signalFd < 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return 127;
    std::fflush(nullptr);
    m_child = fork();
    if (m_child == 0) {
        // The program's own output goes to standard error: standard output is the log.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        const int listener = installFilter();
        sendListener(sockets[1], listener);
        if (listener < 0)
            _exit(126);
        close(listener);
        execvp(argv[0], argv);
        std::fprintf(stderr, "tty-double: cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    close(sockets[1]);
    m_listener = receiveListener(sockets[0]);
    close(sockets[0]);
    if (m_listener < 0)
        std::fprintf(stderr, "tty-double: seccomp user notification refused here\n");

    seccomp_notif_sizes sizes{};
    syscall(SYS_seccomp, SECCOMP_GET_NOTIF_SIZES, 0, &sizes);
    std::vector<char> requestBuffer(qMax<size_t>(sizes.seccomp_notif, sizeof(seccomp_notif)));
    int status = 0;
    bool childRunning = true;
    while (childRunning) {
        pollfd fds[3] = {{signalFd, POLLIN, 0},
                         {m_listener, POLLIN, 0},
                         {m_hungUp || m_stalled ? -1 : m_master, POLLIN, 0}};
        if (poll(fds, 3, -1) < 0 && errno != EINTR)
            break;
        if (fds[2].revents)
            drainMaster();
        if (fds[1].revents & POLLIN) {
            auto *request = reinterpret_cast<seccomp_notif *>(requestBuffer.data());
            std::memset(request, 0, requestBuffer.size());
            if (ioctl(m_listener, SECCOMP_IOCTL_NOTIF_RECV, request) == 0)
                handle(*request);
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            close(m_listener);
            m_listener = -1; // every task of the program has gone
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) != sizeof info)
                continue;
            if (info.ssi_signo == SIGUSR1)
                hangUp();
            else if (info.ssi_signo == SIGUSR2)
                toggleStall();
            else if (info.ssi_signo != SIGCHLD)
                kill(m_child, int(info.ssi_signo));
            while (true) {
                const pid_t done = waitpid(m_child, &status, WNOHANG);
                if (done != m_child)
                    break;
                childRunning = false;
            }
        }
    }
    close(signalFd);
    // The kernel closes what an ended program left open: the last close of the device.
    if (m_open)
        lastClose(QStringLiteral("program ended"));
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void TtyDouble::drainMaster()
{
    char buffer[4096];
    while (read(m_master, buffer, sizeof buffer) > 0) {
    }
}

// A device that stops taking output (flow control held off, a wedged adapter): its buffer is
// filled here and no longer emptied, so the program's poll finds it not writable and its writes
// fail with EAGAIN, which is all a non-blocking writer gets from such a device. The second signal
// lets the output flow again; what filled the buffer is thrown away with what follows it.
void TtyDouble::toggleStall()
{
    if (m_hungUp)
        return;
    m_stalled = !m_stalled;
    if (!m_stalled) {
        m_log.device(QStringLiteral("output"), QStringLiteral("flowing again"));
        drainMaster();
        return;
    }
    drainMaster();
    fcntl(m_slave, F_SETFL, fcntl(m_slave, F_GETFL) | O_NONBLOCK);
    // The kernel moves what was written on to the other end's line discipline a moment later,
    // which makes room again: filled until a pause makes none.
    const QByteArray filler(4096, '\0');
    for (int round = 0; round < 100; ++round) {
        ssize_t took = 0;
        for (ssize_t wrote;
             (wrote = write(m_slave, filler.constData(), size_t(filler.size()))) > 0;)
            took += wrote;
        if (took == 0 && round > 0)
            break;
        usleep(10000);
    }
    m_log.device(QStringLiteral("output"), QStringLiteral("stalled"));
}

// Unplugged: the device's other end goes away, so the program's writes fail with EIO and poll
// reports POLLHUP, as a USB adapter pulled out does.
void TtyDouble::hangUp()
{
    if (m_hungUp)
        return;
    m_hungUp = true;
    m_log.device(QStringLiteral("hangup"), QStringLiteral("unplugged"));
    close(m_master);
    m_master = -1;
    setLines(false, false, monotonicSeconds());
}

bool TtyDouble::stillValid(std::uint64_t id) const
{
    return ioctl(m_listener, SECCOMP_IOCTL_NOTIF_ID_VALID, &id) == 0;
}

void TtyDouble::reply(std::uint64_t id, int error, std::int64_t value)
{
    seccomp_notif_resp response{};
    response.id = id;
    response.error = error ? -error : 0;
    response.val = error ? 0 : value;
    ioctl(m_listener, SECCOMP_IOCTL_NOTIF_SEND, &response);
}

void TtyDouble::carryOn(std::uint64_t id)
{
    seccomp_notif_resp response{};
    response.id = id;
    response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    ioctl(m_listener, SECCOMP_IOCTL_NOTIF_SEND, &response);
}

bool TtyDouble::readMemory(pid_t tid, std::uint64_t address, void *into, size_t size) const
{
    iovec local{into, size};
    iovec remote{reinterpret_cast<void *>(address), size};
    return process_vm_readv(tid, &local, 1, &remote, 1, 0) == ssize_t(size);
}

bool TtyDouble::writeMemory(pid_t tid, std::uint64_t address, const void *from, size_t size) const
{
    iovec local{const_cast<void *>(from), size};
    iovec remote{reinterpret_cast<void *>(address), size};
    return process_vm_writev(tid, &local, 1, &remote, 1, 0) == ssize_t(size);
}

bool TtyDouble::isDevice(pid_t tid, int fd) const
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/fd/%d", int(tid), fd);
    struct stat target
    {
    };
    return stat(path, &target) == 0 && S_ISCHR(target.st_mode) && target.st_rdev == m_rdev;
}

bool TtyDouble::isDevicePath(pid_t tid, int dirfd, std::uint64_t pathAddress) const
{
    char path[4096];
    size_t got = 0;
    // Read page by page: the name may end just before memory the program cannot read.
    while (got < sizeof path - 1) {
        const size_t toPageEnd = 4096 - ((pathAddress + got) % 4096);
        const size_t chunk = qMin(toPageEnd, sizeof path - 1 - got);
        if (!readMemory(tid, pathAddress + got, path + got, chunk))
            return false;
        if (std::memchr(path + got, 0, chunk))
            break;
        got += chunk;
    }
    path[sizeof path - 1] = 0;
    QString full = QString::fromLocal8Bit(path);
    if (!full.startsWith(QLatin1Char('/'))) {
        const QString base = dirfd == AT_FDCWD
                                 ? QStringLiteral("/proc/%1/cwd").arg(tid)
                                 : QStringLiteral("/proc/%1/fd/%2").arg(tid).arg(dirfd);
        full = base + QLatin1Char('/') + full;
    }
    struct stat target
    {
    };
    return stat(full.toLocal8Bit().constData(), &target) == 0 && S_ISCHR(target.st_mode)
           && target.st_rdev == m_rdev;
}

void TtyDouble::handle(const seccomp_notif &request)
{
    const auto &args = request.data.args;
    const pid_t tid = pid_t(request.pid);
    switch (request.data.nr) {
    case __NR_openat:
        if (!m_hungUp && isDevicePath(tid, int(args[0]), args[1]) && stillValid(request.id))
            return handleOpen(request, int(args[2]));
        break;
    case __NR_open:
        if (!m_hungUp && isDevicePath(tid, AT_FDCWD, args[0]) && stillValid(request.id))
            return handleOpen(request, int(args[1]));
        break;
    case __NR_ioctl:
        if (isDevice(tid, int(args[0])))
            return handleIoctl(request);
        break;
    case __NR_write:
        if (isDevice(tid, int(args[0])))
            return handleWrite(request);
        break;
    case __NR_close:
        if (isDevice(tid, int(args[0])))
            return handleClose(request);
        break;
    }
    carryOn(request.id);
}

// Opened here and handed over, so the open is exact: the lines rise as the program gets the
// descriptor, as a serial driver raises them at open unless the saved speed is 0. The time is
// taken when the program has the descriptor, so the log shows how long the program then leaves
// the lines high.
void TtyDouble::handleOpen(const seccomp_notif &request, int flags)
{
    const int fd =
        open(m_slavePath.toLocal8Bit().constData(), (flags & ~O_CLOEXEC) | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return reply(request.id, errno);
    seccomp_notif_addfd handover{};
    handover.id = request.id;
    handover.flags = SECCOMP_ADDFD_FLAG_SEND;
    handover.srcfd = std::uint32_t(fd);
    handover.newfd_flags = std::uint32_t(flags & O_CLOEXEC);
    const bool handed = ioctl(m_listener, SECCOMP_IOCTL_NOTIF_ADDFD, &handover) >= 0;
    const double at = monotonicSeconds();
    close(fd);
    if (!handed)
        return reply(request.id, EIO);
    // The program cannot act on the descriptor before this returns to the loop.
    m_open = true;
    m_log.device(QStringLiteral("open"), QStringLiteral("opened by the program"), at);
    if ((m_line.cflag & SpeedBits) != B0)
        setLines(true, true, at);
}

void TtyDouble::handleIoctl(const seccomp_notif &request)
{
    const pid_t tid = pid_t(request.pid);
    const auto command = std::uint32_t(request.data.args[1]);
    const std::uint64_t argument = request.data.args[2];
    if (m_hungUp)
        return reply(request.id, EIO);
    switch (command) {
    case TIOCMGET: {
        const int bits = (m_line.dtr ? TIOCM_DTR : 0) | (m_line.rts ? TIOCM_RTS : 0) | TIOCM_CTS
                         | TIOCM_DSR | TIOCM_CAR;
        return reply(request.id, writeMemory(tid, argument, &bits, sizeof bits) ? 0 : EFAULT);
    }
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMSET: {
        int bits = 0;
        if (!readMemory(tid, argument, &bits, sizeof bits) || !stillValid(request.id))
            return reply(request.id, EFAULT);
        bool dtr = m_line.dtr;
        bool rts = m_line.rts;
        if (command == TIOCMSET) {
            dtr = bits & TIOCM_DTR;
            rts = bits & TIOCM_RTS;
        } else {
            const bool raise = command == TIOCMBIS;
            if (bits & TIOCM_DTR)
                dtr = raise;
            if (bits & TIOCM_RTS)
                rts = raise;
        }
        setLines(dtr, rts, monotonicSeconds());
        return reply(request.id, 0);
    }
    case TCGETS:
    case TermiosGet2: {
        KernelTermios2 settings{};
        if (ioctl(m_slave, TCGETS, &settings.base) != 0)
            return reply(request.id, errno);
        settings.base.cflag = (settings.base.cflag & ~LineBits) | (m_line.cflag & LineBits);
        settings.ispeed = m_line.ispeed;
        settings.ospeed = m_line.ospeed;
        const size_t size = command == TCGETS ? sizeof(KernelTermios) : sizeof(KernelTermios2);
        return reply(request.id, writeMemory(tid, argument, &settings, size) ? 0 : EFAULT);
    }
    default: { // the four ways of setting
        const bool two = command != TCSETS && command != TCSETSW && command != TCSETSF;
        QByteArray raw(two ? sizeof(KernelTermios2) : sizeof(KernelTermios), '\0');
        if (!readMemory(tid, argument, raw.data(), size_t(raw.size())) || !stillValid(request.id))
            return reply(request.id, EFAULT);
        setTermios(raw, two);
        // The pseudo-terminal takes what it can of it (it keeps 8 bits, no parity).
        return carryOn(request.id);
    }
    }
}

void TtyDouble::setTermios(const QByteArray &raw, bool two)
{
    KernelTermios2 settings{};
    std::memcpy(&settings, raw.constData(), size_t(raw.size()));
    const double at = monotonicSeconds();
    const bool wasZero = (m_line.cflag & SpeedBits) == B0;
    m_line.cflag = settings.base.cflag;
    m_line.ispeed = two ? settings.ispeed : 0;
    m_line.ospeed = two ? settings.ospeed : 0;
    const std::uint32_t speed = m_line.cflag & SpeedBits;
    SimPortState state = m_logged;
    state.baud = baudOf(speed, m_line.ospeed);
    static const int sizes[] = {5, 6, 7, 8};
    state.data = sizes[(m_line.cflag & CSIZE) >> 4];
    state.parity = !(m_line.cflag & PARENB)  ? 'n'
                   : (m_line.cflag & CMSPAR) ? ((m_line.cflag & PARODD) ? 'm' : 's')
                                             : ((m_line.cflag & PARODD) ? 'o' : 'e');
    state.stop = (m_line.cflag & CSTOPB) ? QStringLiteral("2") : QStringLiteral("1");
    if (speed != B0 && !state.sameSettings(m_logged)) {
        m_logged.baud = state.baud;
        m_logged.data = state.data;
        m_logged.parity = state.parity;
        m_logged.stop = state.stop;
        m_log.settings(m_logged, at);
    }
    // Speed 0 means hang up the lines; leaving it raises them again.
    if (speed == B0)
        setLines(false, false, at);
    else if (wasZero)
        setLines(true, true, at);
}

void TtyDouble::setLines(bool dtr, bool rts, double at)
{
    if (dtr == m_line.dtr && rts == m_line.rts)
        return;
    m_line.dtr = m_logged.dtr = dtr;
    m_line.rts = m_logged.rts = rts;
    m_log.lines(m_logged, at);
}

// Logged at the call, so bytes and line changes keep their order; the write itself is the
// kernel's.
void TtyDouble::handleWrite(const seccomp_notif &request)
{
    if (m_hungUp)
        return reply(request.id, EIO);
    if (m_stalled && request.data.args[2] > 0)
        return reply(request.id, EAGAIN);
    const size_t count = qMin<std::uint64_t>(request.data.args[2], 4096);
    QByteArray bytes(qsizetype(count), '\0');
    if (count > 0
        && (!readMemory(pid_t(request.pid), request.data.args[1], bytes.data(), count)
            || !stillValid(request.id)))
        return reply(request.id, EFAULT);
    const double at = monotonicSeconds();
    m_pending += bytes;
    while (m_pending.size() >= 5) {
        const QByteArray frame = m_pending.left(5);
        m_pending.remove(0, 5);
        m_log.frame(frame, ft847FrameName(frame), at);
    }
    carryOn(request.id);
}

// The last close of the device drops the lines when HUPCL is set, as a serial driver does.
void TtyDouble::handleClose(const seccomp_notif &request)
{
    const pid_t tid = pid_t(request.pid);
    const int closing = int(request.data.args[0]);
    int others = 0;
    char folder[64];
    std::snprintf(folder, sizeof folder, "/proc/%d/fd", int(tid));
    if (DIR *fds = opendir(folder)) {
        while (const dirent *entry = readdir(fds)) {
            const int fd = std::atoi(entry->d_name);
            if (entry->d_name[0] != '.' && fd != closing && isDevice(tid, fd))
                ++others;
        }
        closedir(fds);
    }
    if (others == 0)
        lastClose(QStringLiteral("last close"));
    carryOn(request.id);
}

void TtyDouble::lastClose(const QString &cause)
{
    const double at = monotonicSeconds();
    m_open = false;
    m_log.device(QStringLiteral("close"), cause, at);
    m_pending.clear();
    if (m_line.cflag & HUPCL)
        setLines(false, false, at);
}
