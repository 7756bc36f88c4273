#include "app/singleinstance.h"

#include <QLocalSocket>

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_lock(folder + QStringLiteral("/zolvek-ptt.lock"))
    , m_socketPath(folder + QStringLiteral("/zolvek-ptt.socket"))
{
    // Held for the whole run, so never stale by age; one left by a killed utility is found
    // stale by its process id and taken over.
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::claim()
{
    if (!m_lock.tryLock(0))
        return false;
    QLocalServer::removeServer(m_socketPath);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *caller = m_server.nextPendingConnection()) {
            caller->write("shown\n");
            caller->flush();
            caller->disconnectFromServer();
            caller->deleteLater();
            Q_EMIT wakeRequested();
        }
    });
    m_server.listen(m_socketPath);
    return true;
}

bool SingleInstance::wakeRunning()
{
    QLocalSocket running;
    running.connectToServer(m_socketPath);
    return running.waitForConnected(2000) && running.waitForReadyRead(2000)
           && running.readAll().startsWith("shown");
}
