#pragma once

#include <QSettings>
#include <QString>
#include <memory>

// Platform part of the store: opens the per-user settings of `app`.
std::unique_ptr<QSettings> openSettingsStore(const QString &app);
QString settingsLocation(const QString &app);
// Creates what a first write needs, private to the user, where the platform allows it.
void prepareSettingsStoreForWrite(const QString &app);
