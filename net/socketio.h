#pragma once

#include <QHostAddress>
#include <QtGlobal>

// The few calls a network door makes on a client's own socket, one form per system. Qt's
// socket class closes a connection as soon as the client's input ends, so a client that sends
// its commands and half-closes would lose the answers it is owed; the door keeps the socket
// itself instead.
namespace SocketIo {
// What receive() and send() return when they moved no byte.
constexpr qint64 WouldBlock = -1;
constexpr qint64 Failed = -2;

// Seconds of silence after which a keyed client's link is taken for dead and the connection
// ended by the system, whether it was idle (keepalive probes) or owed acknowledgements.
constexpr int DeadLinkSeconds = 15;

// Non-blocking, small answers sent at once, and keepalive probes (the first after 5 s of
// silence, then one a second) so that a peer that stopped answering ends the connection.
void prepare(qintptr socket);
// Bytes read, 0 at the end of the peer's input.
qint64 receive(qintptr socket, char *buffer, qint64 size);
qint64 send(qintptr socket, const char *data, qint64 size);
// No more will be sent; the peer reads the end of its input after what was sent.
void shutdownSend(qintptr socket);
void close(qintptr socket);
// Where the connection comes from.
QHostAddress peer(qintptr socket);
} // namespace SocketIo
