// Winsock first: it must precede anything that brings in windows.h, and mstcpip.h needs it.
#include <winsock2.h>

#include <mstcpip.h>
#include <ws2tcpip.h>

#include "net/socketio.h"

// Windows' own value (ws2ipdef.h); MinGW's headers lack the name.
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif

namespace {

SOCKET handle(qintptr socket)
{
    return SOCKET(socket);
}

qint64 failure()
{
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR ? SocketIo::WouldBlock : SocketIo::Failed;
}

int chunk(qint64 size)
{
    return int(qMin<qint64>(size, 1 << 30));
}

} // namespace

void SocketIo::prepare(qintptr socket)
{
    u_long nonBlocking = 1;
    // MinGW spells FIONBIO as an unsigned value that the call takes as a long.
    ::ioctlsocket(handle(socket), static_cast<long>(FIONBIO), &nonBlocking);
    const BOOL noDelay = TRUE;
    ::setsockopt(handle(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay),
                 sizeof noDelay);
    // Windows sends ten probes a second apart after the first: 5 s + 10 s.
    tcp_keepalive probes{1, 5000, 1000};
    DWORD returned = 0;
    ::WSAIoctl(handle(socket), SIO_KEEPALIVE_VALS, &probes, sizeof probes, nullptr, 0, &returned,
               nullptr, nullptr);
    // Keepalive probes are not sent while answers wait to be acknowledged; this bounds that too.
    const DWORD seconds = DeadLinkSeconds;
    ::setsockopt(handle(socket), IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char *>(&seconds),
                 sizeof seconds);
}

qint64 SocketIo::receive(qintptr socket, char *buffer, qint64 size)
{
    const int got = ::recv(handle(socket), buffer, chunk(size), 0);
    return got == SOCKET_ERROR ? failure() : got;
}

qint64 SocketIo::send(qintptr socket, const char *data, qint64 size)
{
    const int sent = ::send(handle(socket), data, chunk(size), 0);
    return sent == SOCKET_ERROR ? failure() : sent;
}

void SocketIo::shutdownSend(qintptr socket)
{
    ::shutdown(handle(socket), SD_SEND);
}

void SocketIo::close(qintptr socket)
{
    ::closesocket(handle(socket));
}

QHostAddress SocketIo::peer(qintptr socket)
{
    sockaddr_storage address{};
    int length = sizeof address;
    if (::getpeername(handle(socket), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return QHostAddress();
    return QHostAddress(reinterpret_cast<const sockaddr *>(&address));
}
