#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <utility>

// Where a network door to the radio (the Hamlib listener, flrig's XML-RPC) listens and who may
// come in: a bare PORT is this computer only; an address other computers can reach is listened
// on only with an allow list, since anyone who reaches the door could key the transmitter.
class ListenRules
{
public:
    using Subnet = std::pair<QHostAddress, int>;

    // ADDR is PORT (loopback), HOST:PORT or [IPV6]:PORT; `allow` names who besides this computer
    // may connect, ADDR[/BITS],... False, with the reason, for rules that cannot be kept.
    bool set(const QString &address, const QString &allow, QString *why);
    QHostAddress host() const { return m_host; }
    quint16 port() const { return m_port; } // 0: any free port
    bool allows(const QHostAddress &peer) const;

    static bool parseAddress(const QString &text, QHostAddress *host, quint16 *port);
    // False, with the reason, for an entry that is not ADDR or ADDR/BITS.
    static bool parseAllowList(const QString &text, QList<Subnet> *subnets, QString *why);

private:
    QHostAddress m_host;
    quint16 m_port = 0;
    QList<Subnet> m_allowed;
};
