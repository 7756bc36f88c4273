#include "settings/storelocation.h"

#include <QDir>
#include <QFileInfo>

// On Windows the user's store is the registry. Tests never touch it: they keep their options in
// an INI file under their own temporary folder, laid out as on Linux, so the same test store
// serves both. A test process without that folder stops at once rather than use another store.

namespace {

QString testConfigHome()
{
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        qFatal("the tests' options store needs XDG_CONFIG_HOME: a temporary folder of the test's");
    return home;
}

} // namespace

QString settingsLocation(const QString &app)
{
    return testConfigHome() + QLatin1Char('/') + app + QStringLiteral("/settings.ini");
}

std::unique_ptr<QSettings> openSettingsStore(const QString &app)
{
    return std::make_unique<QSettings>(settingsLocation(app), QSettings::IniFormat);
}

void prepareSettingsStoreForWrite(const QString &app)
{
    QDir().mkpath(QFileInfo(settingsLocation(app)).absolutePath());
}

QString privateFolder(const QString &app)
{
    const QString folder = QFileInfo(settingsLocation(app)).absolutePath();
    QDir().mkpath(folder);
    return folder;
}

QString storeWriteRefusal(const QString &)
{
    return QString();
}
