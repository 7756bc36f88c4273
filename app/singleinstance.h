#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

// One utility per user (per options store): two would fight over the port and answer every
// host message twice. The first start holds a lock in the user's private folder and listens
// there; a later start asks it to show its window and goes away.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString &folder, QObject *parent = nullptr);

    // True when no other utility of this user runs; this one then answers later starts.
    bool claim();
    // Asks the running utility to show its window; true when it answered.
    bool wakeRunning();

Q_SIGNALS:
    void wakeRequested();

private:
    bool takeOverOwnLock();

    QLockFile m_lock;
    QString m_socketPath;
    QLocalServer m_server;
};
