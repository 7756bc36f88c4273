#include "net/listenrules.h"

#include "serial/hostport.h"

#include <QRegularExpression>

bool ListenRules::parseAddress(const QString &text, QHostAddress *host, quint16 *port)
{
    const QString trimmed = text.trimmed();
    // A bare PORT is this computer only.
    static const QRegularExpression bare(QStringLiteral("^[0-9]{1,5}$"));
    const auto parsed = bare.match(trimmed).hasMatch()
                            ? parseHostPort(QStringLiteral("127.0.0.1:") + trimmed, true)
                            : parseHostPort(trimmed, true);
    if (!parsed)
        return false;
    // Loopback unless an address is written out.
    const QString name =
        parsed->host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : parsed->host;
    if (!host->setAddress(name))
        return false;
    *port = parsed->port; // 0: any free port
    return true;
}

bool ListenRules::parseAllowList(const QString &text, QList<Subnet> *subnets, QString *why)
{
    subnets->clear();
    for (const QString &entry : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString item = entry.trimmed();
        if (item.isEmpty())
            continue;
        Subnet subnet = QHostAddress::parseSubnet(item);
        if (!item.contains(QLatin1Char('/'))) {
            // A lone address is that one computer.
            const QHostAddress host(item);
            subnet = {host, host.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
        }
        if (subnet.first.isNull()) {
            *why = QStringLiteral("%1 is not an address or ADDR/BITS").arg(item.left(60));
            return false;
        }
        subnets->append(subnet);
    }
    return true;
}

bool ListenRules::set(const QString &address, const QString &allow, QString *why)
{
    if (!parseAddress(address, &m_host, &m_port)) {
        *why = QStringLiteral("%1 is not PORT, HOST:PORT or [IPV6]:PORT").arg(address);
        return false;
    }
    if (!parseAllowList(allow, &m_allowed, why)) {
        *why = QStringLiteral("the allow list (--listen-allow, [Host] ListenAllow): ") + *why;
        return false;
    }
    if (!m_host.isLoopback() && m_allowed.isEmpty()) {
        *why = QStringLiteral("%1 is reachable from other computers, and anyone who reaches it "
                              "could key the transmitter; name who may connect with "
                              "--listen-allow ADDR[/BITS],... (or [Host] ListenAllow), or listen "
                              "on this computer only (a bare PORT)")
                   .arg(address);
        return false;
    }
    return true;
}

bool ListenRules::allows(const QHostAddress &peer) const
{
    if (peer.isLoopback())
        return true;
    for (const auto &subnet : m_allowed)
        if (peer.isInSubnet(subnet))
            return true;
    return false;
}
