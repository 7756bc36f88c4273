#include "tests/ptypair_unix.h"

#include <QElapsedTimer>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(ptsname(m_master));
    termios raw{};
    tcgetattr(m_master, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_master, TCSANOW, &raw);
}

PtyPair::~PtyPair()
{
    if (m_master >= 0)
        ::close(m_master);
}

QByteArray PtyPair::read(int count, int timeoutMs)
{
    QByteArray result;
    QElapsedTimer timer;
    timer.start();
    while (result.size() < count && timer.elapsed() < timeoutMs) {
        pollfd fd{m_master, POLLIN, 0};
        if (::poll(&fd, 1, int(qMax<qint64>(1, timeoutMs - timer.elapsed()))) <= 0)
            continue;
        char buffer[256];
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got > 0)
            result.append(buffer, got);
        else if (got < 0 && errno != EAGAIN && errno != EINTR)
            break;
    }
    return result;
}
