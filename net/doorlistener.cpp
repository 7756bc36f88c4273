#include "net/doorlistener.h"

bool DoorListener::listen(const QString &address, const QString &allow, QString *why)
{
    if (!m_rules.set(address, allow, why))
        return false;
    connect(&m_server, &DoorServer::arrived, this, &DoorListener::arrived, Qt::UniqueConnection);
    if (!m_server.listen(m_rules.host(), m_rules.port())) {
        *why = QStringLiteral("cannot listen on %1: %2").arg(address, m_server.errorString());
        return false;
    }
    return true;
}

// As programs take it: an IPv6 address in brackets, so it can be pasted into WSJT-X.
QString DoorListener::address() const
{
    const QHostAddress host = m_server.serverAddress();
    const QString name = host == QHostAddress::Any ? QStringLiteral("[::]") // IPv4 and IPv6
                         : host.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + host.toString() + QLatin1Char(']')
                             : host.toString();
    return name + QLatin1Char(':') + QString::number(m_server.serverPort());
}
