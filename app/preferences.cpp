#include "app/form1.h"
#include "app/topmost.h"
#include "app/valuecheckbox.h"
#include "settings/options.h"
#include "settings/settingsstore.h"

// The value counts at the next start; the running window is not minimized by the click.
void Form1::Check1_Click()
{
    SaveSetting(Options::App, Options::WinSection, Options::MinKey,
                QString::number(m_Check1->Value()));
}

void Form1::Check2_Click()
{
    SaveSetting(Options::App, Options::WinSection, Options::TopKey,
                QString::number(m_Check2->Value()));
    ApplyTopmost();
}

// Greyed (2) counts as not on top.
void Form1::ApplyTopmost()
{
    setAlwaysOnTop(this, m_Check2->Value() == 1);
}
