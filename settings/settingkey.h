#pragma once

#include <QString>

// Where one option lives in the per-user store: the application's store, a section in it and a
// key. One value, so that a call site cannot swap a section for a key.
struct SettingKey
{
    QString app;
    QString section;
    QString key;
};
