#include "settings/storelocation.h"

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
