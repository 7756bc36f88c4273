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

// The options are the user's own: keep the folder and file private. An existing file keeps the
// mode it has, since the store rewrites it through a temporary file that copies it.
void preparePrivateFile(const QString &path)
{
    const QFileInfo info(path);
    QDir dir = info.absoluteDir();
    if (!dir.exists()) {
        QDir().mkpath(dir.absolutePath());
        QFile::setPermissions(dir.absolutePath(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    if (!info.exists()) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
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
    preparePrivateFile(settingsLocation(app));
}

QString privateFolder(const QString &app)
{
    const QString folder = QFileInfo(settingsLocation(app)).absolutePath();
    if (!QFileInfo::exists(folder)) {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    return folder;
}
