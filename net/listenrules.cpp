#include "net/listenrules.h"

#include "serial/hostport.h"

#include <QRegularExpression>
#include <optional>

namespace {

// IPv4 written out in full (four numbers), or IPv6: never the short forms inet_aton reads, where
// 10.9.9 is 10.9.0.9.
std::optional<QHostAddress> plainAddress(const QString &text)
{
    static const QRegularExpression dotted(QStringLiteral("^[0-9]{1,3}(\\.[0-9]{1,3}){3}$"));
    const bool v6 = text.contains(QLatin1Char(':'));
    if (!v6 && !dotted.match(text).hasMatch())
        return std::nullopt;
    QHostAddress address;
    if (!address.setAddress(text))
        return std::nullopt;
    return address;
}

// An IPv4 client of a dual-stack door, or an IPv4 address written as IPv6 (::ffff:a.b.c.d), is
// the IPv4 address it stands for.
QHostAddress plainIpv4(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4)
                                                                          : address;
}

} // namespace

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
    // Loopback unless an address is written out; every address ([::]) is both IPv4 and IPv6.
    const QString name =
        parsed->host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : parsed->host;
    if (name == QLatin1String("::")) {
        *host = QHostAddress(QHostAddress::Any);
    } else if (const auto address = plainAddress(name)) {
        *host = *address;
    } else {
        return false;
    }
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
        const QString addressPart = item.section(QLatin1Char('/'), 0, 0);
        const auto address = plainAddress(addressPart);
        if (!address) {
            *why = QStringLiteral("%1 is not an address or ADDR/BITS (IPv4 in full, as "
                                  "192.168.1.0/24)")
                       .arg(item.left(60));
            return false;
        }
        const bool v4 = plainIpv4(*address).protocol() == QAbstractSocket::IPv4Protocol;
        const bool written4 = address->protocol() == QAbstractSocket::IPv4Protocol;
        int bits = written4 ? 32 : 128;
        if (item.contains(QLatin1Char('/'))) {
            bool ok = false;
            bits = item.section(QLatin1Char('/'), 1).toInt(&ok);
            if (!ok || bits < 0 || bits > (written4 ? 32 : 128)) {
                *why = QStringLiteral("%1: the prefix is a number of bits, 1 to %2")
                           .arg(item.left(60))
                           .arg(written4 ? 32 : 128);
                return false;
            }
        }
        // An IPv4 network written as IPv6 is that IPv4 network.
        if (v4 && !written4)
            bits -= 96;
        if (bits <= 0) {
            *why = QStringLiteral("%1 lets every computer in, and anyone who reaches the door "
                                  "could key the transmitter; name your own network, as "
                                  "192.168.1.0/24")
                       .arg(item.left(60));
            return false;
        }
        subnets->append({plainIpv4(*address), bits});
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
    const QHostAddress plain = plainIpv4(peer);
    if (plain.isLoopback())
        return true;
    for (const auto &subnet : m_allowed)
        if (plain.isInSubnet(subnet))
            return true;
    return false;
}
