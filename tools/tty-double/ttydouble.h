#pragma once

#include "tools/ft847-sim/simlog.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <sys/types.h>

struct seccomp_notif;

// Runs a program with a pseudo-terminal that behaves like a Linux serial device: the program's
// modem-line and termios calls on it are answered here (seccomp user notification), as a serial
// driver would, and every line change, setting and command frame is logged in the virtual
// radio's shape, in the order the program made the calls.
class TtyDouble
{
public:
    explicit TtyDouble(SimLog &log);
    ~TtyDouble();
    TtyDouble(const TtyDouble &) = delete;
    TtyDouble &operator=(const TtyDouble &) = delete;

    // The device's own path (/dev/pts/N); empty when no pseudo-terminal could be had.
    QString devicePath() const { return m_slavePath; }
    // The device as another program may have left it (Hamlib leaves HUPCL cleared): HUPCL
    // cleared, both lines up, 1200 baud 7E1 with hardware flow control. Before run().
    void leaveAsAnotherProgramDid();
    // Runs `argv` to its end; returns its exit status (126: seccomp refused, 127: not started).
    int run(char **argv);

private:
    // A Linux serial driver's view of the line settings and the modem lines.
    struct Line
    {
        std::uint32_t cflag = 0;
        std::uint32_t ispeed = 0; // with BOTHER
        std::uint32_t ospeed = 0;
        bool dtr = false;
        bool rts = false;
    };

    void handle(const seccomp_notif &request);
    bool isDevice(pid_t tid, int fd) const;
    bool isDevicePath(pid_t tid, int dirfd, std::uint64_t pathAddress) const;
    void handleOpen(const seccomp_notif &request, int flags);
    void handleIoctl(const seccomp_notif &request);
    void handleWrite(const seccomp_notif &request);
    void handleClose(const seccomp_notif &request);
    void lastClose(const QString &cause);
    void setTermios(const QByteArray &raw, bool two);
    void setLines(bool dtr, bool rts, double at);
    void hangUp();
    void toggleStall();
    bool stillValid(std::uint64_t id) const;
    void reply(std::uint64_t id, int error, std::int64_t value = 0);
    void carryOn(std::uint64_t id);
    bool readMemory(pid_t tid, std::uint64_t address, void *into, size_t size) const;
    bool writeMemory(pid_t tid, std::uint64_t address, const void *from, size_t size) const;
    void drainMaster();

    SimLog &m_log;
    int m_master = -1;
    int m_slave = -1; // held open so the device lives on between the program's opens
    QString m_slavePath;
    dev_t m_rdev = 0;
    int m_listener = -1;
    pid_t m_child = -1;
    bool m_hungUp = false;
    bool m_stalled = false; // the device takes no output
    bool m_open = false;    // the program holds the device
    Line m_line;
    SimPortState m_logged; // what the log last said
    QByteArray m_pending;  // bytes of a frame not yet complete
};
