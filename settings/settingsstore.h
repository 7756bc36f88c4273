#pragma once

#include <QString>

// The per-user options store. Every value is text, addressed by application, section and key.
// Each write reaches the disk before SaveSetting returns, so an option changed a moment before a
// crash is there at the next start.

// Returns the stored text, or defaultValue when the entry does not exist.
QString GetSetting(const QString &app, const QString &section, const QString &key,
                   const QString &defaultValue);

// Stores the text, creating section and key as needed. Returns false when the store could not
// be written (the value may then be lost at exit).
bool SaveSetting(const QString &app, const QString &section, const QString &key,
                 const QString &value);

// Where the options of `app` live, for messages and documentation.
QString settingsLocation(const QString &app);
