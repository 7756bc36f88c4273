#pragma once

#include <QTcpServer>

// Accepts a network door's clients and hands each over as its bare socket, for the door to keep
// (see ClientConnection) or to close before reading a byte of it.
class DoorServer : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;

Q_SIGNALS:
    void arrived(qintptr socket);

protected:
    void incomingConnection(qintptr socket) override { Q_EMIT arrived(socket); }
};
