#include "settings/settingsstore.h"

#include "settings/storelocation.h"

#include <QStringList>
#include <QVariant>

namespace {

QString entryKey(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}

} // namespace

QString GetSetting(const QString &app, const QString &section, const QString &key,
                   const QString &defaultValue)
{
    const auto store = openSettingsStore(app);
    const QVariant value = store->value(entryKey(section, key));
    if (!value.isValid())
        return defaultValue;
    // A value edited by hand without quotes, such as 4800,n,8,2, is read by the INI parser as a
    // list; it still means the text the user typed.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

bool SaveSetting(const QString &app, const QString &section, const QString &key,
                 const QString &value)
{
    prepareSettingsStoreForWrite(app);
    const auto store = openSettingsStore(app);
    store->setValue(entryKey(section, key), value);
    store->sync();
    return store->status() == QSettings::NoError && store->isWritable();
}
