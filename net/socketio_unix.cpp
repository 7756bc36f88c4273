#include "net/socketio.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void setOption(int socket, int level, int name, int value)
{
    ::setsockopt(socket, level, name, &value, sizeof value);
}

bool transient(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

} // namespace

void SocketIo::prepare(qintptr socket)
{
    const int fd = int(socket);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    setOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef TCP_KEEPIDLE
    setOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, 5);
    setOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, 1);
    setOption(fd, IPPROTO_TCP, TCP_KEEPCNT, DeadLinkSeconds - 5);
#endif
#ifdef TCP_USER_TIMEOUT
    // Keepalive probes are not sent while answers wait to be acknowledged; this bounds that too.
    setOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, DeadLinkSeconds * 1000);
#endif
}

qint64 SocketIo::receive(qintptr socket, char *buffer, qint64 size)
{
    const ssize_t got = ::recv(int(socket), buffer, size_t(size), 0);
    if (got >= 0)
        return got;
    return transient(errno) ? WouldBlock : Failed;
}

qint64 SocketIo::send(qintptr socket, const char *data, qint64 size)
{
    // A peer that has gone must not end the utility with SIGPIPE.
    const ssize_t sent = ::send(int(socket), data, size_t(size), MSG_NOSIGNAL);
    if (sent >= 0)
        return sent;
    return transient(errno) ? WouldBlock : Failed;
}

void SocketIo::shutdownSend(qintptr socket)
{
    ::shutdown(int(socket), SHUT_WR);
}

void SocketIo::close(qintptr socket)
{
    ::close(int(socket));
}

QHostAddress SocketIo::peer(qintptr socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(int(socket), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return QHostAddress();
    return QHostAddress(reinterpret_cast<const sockaddr *>(&address));
}
