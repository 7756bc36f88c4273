#pragma once

#include "settings/settingkey.h"

#include <QString>

// The per-user options store. Every value is text, addressed by application, section and key.
// Each write reaches the disk before SaveSetting returns, so an option changed a moment before a
// crash is there at the next start.

// Returns the stored text, or defaultValue when the entry does not exist. No option needs more
// than MaxValueLength characters (a device path at most): a longer value, which only a slip or a
// damaged file makes, is cut there and said, so it cannot stall the window or fill memory.
constexpr int MaxValueLength = 8192;
QString GetSetting(const SettingKey &setting, const QString &defaultValue);

// Stores the text, creating section and key as needed. Returns false when the store could not
// be written (the value may then be lost at exit).
bool SaveSetting(const SettingKey &setting, const QString &value);

// Removes the entry, so that its default applies again. Returns false when the store could not
// be written.
bool DeleteSetting(const SettingKey &setting);
