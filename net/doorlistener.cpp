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

QString DoorListener::address() const
{
    return m_server.serverAddress().toString() + QLatin1Char(':')
           + QString::number(m_server.serverPort());
}
