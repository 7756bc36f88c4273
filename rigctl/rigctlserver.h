#pragma once

#include <QTcpServer>

// Accepts rigctl clients and hands each over as its bare socket, for the listener to keep
// (see RigctlConnection) or to close before reading a byte of it.
class RigctlServer : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;

Q_SIGNALS:
    void arrived(qintptr socket);

protected:
    void incomingConnection(qintptr socket) override { Q_EMIT arrived(socket); }
};
