#include "settings/storelocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
void makePrivate(const QString &folder, const QString &file, bool createFile)
{
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

// Made private at every start, so a store made by others is the user's own from then on.
QString privateFolder(const QString &app)
{
    const QString file = settingsLocation(app);
    const QString folder = QFileInfo(file).absolutePath();
    makePrivate(folder, file, false);
    return folder;
}
