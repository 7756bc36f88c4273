#pragma once

#include <QSettings>
#include <QString>
#include <memory>

// Platform part of the store: opens the per-user settings of `app`.
std::unique_ptr<QSettings> openSettingsStore(const QString &app);
// Where the options of `app` live, for messages and documentation.
QString settingsLocation(const QString &app);
// A private folder of this user's for `app`'s own files beside the store (the lock that keeps
// one utility per user), created when missing; elsewhere in the user's own files when the
// store's folder cannot be written, so a read-only store never keeps the utility from starting.
QString privateFolder(const QString &app);
// Creates what a first write needs, private to the user, where the platform allows it.
void prepareSettingsStoreForWrite(const QString &app);
// Why the store will not be written, or empty: a folder that cannot be written, or a store
// reached through a symbolic link (read, but never written or made private through it).
QString storeWriteRefusal(const QString &app);
