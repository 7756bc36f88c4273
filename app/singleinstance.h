#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalSocket;

// One utility per user (per options store): two would fight over the port and answer every
// host message twice. The first start holds a lock in the user's private folder and listens
// there; a later start asks it to show its window, hands it the options it was given (which the
// running one does not apply, but says so) and goes away.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString &folder, QObject *parent = nullptr);

    // True when no other utility of this user runs; this one then answers later starts.
    bool claim();
    // Asks the running utility to show its window, telling it the options this start was given;
    // true when it answered.
    bool wakeRunning(const QStringList &options = {});

Q_SIGNALS:
    void wakeRequested();
    // A later start was given these options, which only a new start could apply.
    void optionsNotApplied(const QStringList &options);

private:
    bool takeOverOwnLock();
    void hearCaller(QLocalSocket *caller);

    QLockFile m_lock;
    QString m_socketPath;
    QLocalServer m_server;
};
