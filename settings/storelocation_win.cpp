#include "settings/storelocation.h"

#include <QDir>

// The location earlier versions of this utility used, so a user's options carry over.
QString settingsLocation(const QString &app)
{
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\") + app;
}

std::unique_ptr<QSettings> openSettingsStore(const QString &app)
{
    return std::make_unique<QSettings>(settingsLocation(app), QSettings::NativeFormat);
}

void prepareSettingsStoreForWrite(const QString &) {}

// The registry holds the options; the user's own temporary folder holds the rest.
QString privateFolder(const QString &app)
{
    const QString folder = QDir::tempPath() + QStringLiteral("/") + app;
    QDir().mkpath(folder);
    return folder;
}

QString storeWriteRefusal(const QString &)
{
    return QString();
}
