#include "settings/settingsstore.h"

#include "settings/storelocation.h"

#include <QSet>
#include <QStringList>
#include <QVariant>

namespace {

QString entryKey(const SettingKey &setting)
{
    return setting.section + QLatin1Char('/') + setting.key;
}

} // namespace

QString GetSetting(const SettingKey &setting, const QString &defaultValue)
{
    const auto store = openSettingsStore(setting.app);
    const QVariant value = store->value(entryKey(setting));
    if (!value.isValid())
        return defaultValue;
    // A value edited by hand without quotes, such as 4800,n,8,2, is read by the INI parser as a
    // list; it still means the text the user typed.
    QString text = value.typeId() == QMetaType::QStringList
                       ? value.toStringList().join(QLatin1Char(','))
                       : value.toString();
    if (text.size() > MaxValueLength) {
        static QSet<QString> said; // once a run for each entry
        if (!said.contains(entryKey(setting))) {
            said.insert(entryKey(setting));
            qWarning("zolvek-ptt: [%s] %s in %s is %lld characters long; only the first %d "
                     "are read",
                     qUtf8Printable(setting.section), qUtf8Printable(setting.key),
                     qUtf8Printable(settingsLocation(setting.app)), qlonglong(text.size()),
                     MaxValueLength);
        }
        text.truncate(MaxValueLength);
    }
    return text;
}

namespace {

template <typename Change> bool changeStore(const SettingKey &setting, Change &&change)
{
    if (!storeWriteRefusal(setting.app).isEmpty())
        return false;
    prepareSettingsStoreForWrite(setting.app);
    const auto store = openSettingsStore(setting.app);
    change(*store);
    store->sync();
    return store->status() == QSettings::NoError && store->isWritable();
}

} // namespace

bool SaveSetting(const SettingKey &setting, const QString &value)
{
    return changeStore(setting,
                       [&](QSettings &store) { store.setValue(entryKey(setting), value); });
}

bool DeleteSetting(const SettingKey &setting)
{
    return changeStore(setting, [&](QSettings &store) { store.remove(entryKey(setting)); });
}
