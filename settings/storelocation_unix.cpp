#include "settings/storelocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString configHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

// The options are the user's own (they say which radio is where): folder 0700, file 0600, also
// when someone else made them (a script, an unpacked backup). The store rewrites the file through
// a temporary one that copies its mode, so the mode set here stays.
// Never through a link: the permissions changed would be those of whatever it points at.
void makePrivate(const QString &folder, const QString &file, bool createFile)
{
    if (QFileInfo(folder).isSymLink() || QFileInfo(file).isSymLink())
        return;
    if (!QFileInfo::exists(folder))
        QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!QFileInfo::exists(file)) {
        QFile created(file);
        if (!createFile)
            return;
        if (!created.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return;
    }
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace

QString settingsLocation(const QString &app)
{
    return configHome() + QLatin1Char('/') + app + QStringLiteral("/settings.ini");
}

std::unique_ptr<QSettings> openSettingsStore(const QString &app)
{
    return std::make_unique<QSettings>(settingsLocation(app), QSettings::IniFormat);
}

void prepareSettingsStoreForWrite(const QString &app)
{
    const QString file = settingsLocation(app);
    makePrivate(QFileInfo(file).absolutePath(), file, true);
}

QString storeWriteRefusal(const QString &app)
{
    const QString file = settingsLocation(app);
    const QString folder = QFileInfo(file).absolutePath();
    for (const QString &path : {folder, file}) {
        if (const QFileInfo link(path); link.isSymLink())
            return QStringLiteral("%1 is a symbolic link (to %2): the options are read through "
                                  "it, but never written through it")
                .arg(path, link.symLinkTarget());
    }
    // The nearest folder that is there must take what is missing below it.
    QString there = folder;
    while (!QFileInfo(there).exists() && QFileInfo(there).absolutePath() != there)
        there = QFileInfo(there).absolutePath();
    if (!QFileInfo(there).isDir() || !QFileInfo(there).isWritable())
        return QStringLiteral("%1 cannot be written").arg(there);
    if (QFileInfo::exists(file) && !QFileInfo(file).isWritable())
        return QStringLiteral("%1 cannot be written").arg(file);
    return QString();
}

// Made private at every start, so a store made by others is the user's own from then on.
QString privateFolder(const QString &app)
{
    const QString file = settingsLocation(app);
    const QString folder = QFileInfo(file).absolutePath();
    makePrivate(folder, file, false);
    if (storeWriteRefusal(app).isEmpty())
        return folder;
    // The user's runtime folder (private to the user, as Qt makes sure) keeps the lock instead.
    const QString runtime =
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QLatin1Char('/') + app;
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return runtime;
}
