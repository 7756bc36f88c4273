#include "app/form1.h"
#include "app/topmost.h"
#include "app/valuecheckbox.h"
#include "settings/options.h"
#include "settings/settingsstore.h"
#include "settings/storelocation.h"

// The value counts at the next start; the running window is not minimized by the click.
void Form1::Check1_Click()
{
    saveOption(Options::Min, QString::number(m_Check1->Value()));
}

void Form1::Check2_Click()
{
    saveOption(Options::Top, QString::number(m_Check2->Value()));
    ApplyTopmost();
}

// Greyed (2) counts as not on top.
void Form1::ApplyTopmost()
{
    setAlwaysOnTop(this, m_Check2->Value() == 1);
}

// An option is stored the moment it changes. When the store cannot take it (a read-only or full
// disk), the change still applies to the running utility, and the user hears of it once per run,
// without being held up: it would be lost at the next start.
void Form1::saveOption(const SettingKey &setting, const QString &value)
{
    if (SaveSetting(setting, value) || m_saveFailureReported)
        return;
    m_saveFailureReported = true;
    showNotice(QStringLiteral("SaveFailedBox"),
               QStringLiteral("The options could not be saved to %1.\nChanges apply until the "
                              "utility closes, but will be lost at the next start.")
                   .arg(settingsLocation(Options::App)));
}
