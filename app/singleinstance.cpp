#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QSysInfo>
#include <QTimer>

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
        while (QLocalSocket *caller = m_server.nextPendingConnection())
            hearCaller(caller);
    });
    m_server.listen(m_socketPath);
    return true;
}

// A later start says "wake", with the options it was given, and hears "shown". A caller that
// says nothing for a while, or more than a command line holds, is let go.
void SingleInstance::hearCaller(QLocalSocket *caller)
{
    constexpr qint64 MaxLine = 8192;
    caller->setReadBufferSize(MaxLine + 1);
    auto *timeout = new QTimer(caller);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, caller, &QLocalSocket::abort);
    timeout->start(5000);
    connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
    connect(caller, &QLocalSocket::readyRead, this, [this, caller] {
        if (!caller->canReadLine()) {
            if (caller->bytesAvailable() > MaxLine)
                caller->abort();
            return;
        }
        const QByteArray line = caller->readLine(MaxLine).trimmed();
        if (!line.startsWith("wake")) {
            caller->abort();
            return;
        }
        caller->write("shown\n");
        caller->flush();
        caller->disconnectFromServer();
        Q_EMIT wakeRequested();
        const QJsonArray given = QJsonDocument::fromJson(line.mid(4).trimmed()).array();
        QStringList options;
        for (const QJsonValue &option : given)
            options << option.toString();
        if (!options.isEmpty())
            Q_EMIT optionsNotApplied(options);
    });
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

bool SingleInstance::wakeRunning(const QStringList &options)
{
    QLocalSocket running;
    running.connectToServer(m_socketPath);
    if (!running.waitForConnected(2000))
        return false;
    running.write(
        "wake " + QJsonDocument(QJsonArray::fromStringList(options)).toJson(QJsonDocument::Compact)
        + '\n');
    return running.waitForBytesWritten(2000) && running.waitForReadyRead(2000)
           && running.readAll().startsWith("shown");
}
