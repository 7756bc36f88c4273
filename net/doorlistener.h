#pragma once

#include "net/doorserver.h"
#include "net/listenrules.h"

#include <QObject>

// Where a network door listens, under its rules: the address, and who may come in.
class DoorListener : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // ADDR is PORT (loopback), HOST:PORT or [IPV6]:PORT; `allow` names who besides this computer
    // may connect, ADDR[/BITS],...; an address that is not loopback is listened on only with
    // one. False, with the reason, when it is not listened on.
    bool listen(const QString &address, const QString &allow, QString *why);
    QString address() const;
    QHostAddress host() const { return m_server.serverAddress(); }
    bool allows(const QHostAddress &peer) const { return m_rules.allows(peer); }
    void close() { m_server.close(); }

Q_SIGNALS:
    // A connection, as its bare socket, for the door to keep or close.
    void arrived(qintptr socket);

private:
    DoorServer m_server;
    ListenRules m_rules;
};
