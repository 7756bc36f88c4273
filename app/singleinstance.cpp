#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QSysInfo>

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
    if (!m_lock.tryLock(0) && !takeOverOwnLock())
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

// A lock naming this very process was left by a killed utility whose process id has come round
// again (Windows hands out ids again soon, Wine after each restart the same ones): nobody holds
// it.
bool SingleInstance::takeOverOwnLock()
{
    qint64 pid = 0;
    QString host, application;
    if (m_lock.error() != QLockFile::LockFailedError
        || !m_lock.getLockInfo(&pid, &host, &application)
        || pid != QCoreApplication::applicationPid() || host != QSysInfo::machineHostName())
        return false;
    return m_lock.removeStaleLockFile() && m_lock.tryLock(0);
}

bool SingleInstance::wakeRunning()
{
    QLocalSocket running;
    running.connectToServer(m_socketPath);
    return running.waitForConnected(2000) && running.waitForReadyRead(2000)
           && running.readAll().startsWith("shown");
}
