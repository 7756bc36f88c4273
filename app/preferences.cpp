#include "app/form1.h"
#include "app/topmost.h"
#include "app/valuecheckbox.h"
#include "settings/options.h"
#include "settings/settingsstore.h"
#include "settings/storelocation.h"

#include <QGuiApplication>
#include <QScreen>

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
    if (!SaveSetting(setting, value))
        reportSaveFailure();
}

void Form1::reportSaveFailure()
{
    if (m_saveFailureReported)
        return;
    m_saveFailureReported = true;
    const QString why = storeWriteRefusal(Options::App);
    showNotice(QStringLiteral("SaveFailedBox"),
               QStringLiteral("The options cannot be saved to %1.\nChanges apply until the "
                              "utility closes, but will be lost at the next start.")
                   .arg(settingsLocation(Options::App)),
               why.isEmpty() ? QString() : why + QLatin1Char('.'));
}

// The window comes back where it was left, if that place is still on a screen: the top of the
// window must be there to be grabbed. The place is the window's inside, not its frame: the frame
// is not known before the window is shown, and placing by it put the window one frame lower at
// each start.
void Form1::restorePosition()
{
    const QStringList place = GetSetting(Options::Position, QString()).split(QLatin1Char(','));
    if (place.size() != 2)
        return;
    bool xRead = false;
    bool yRead = false;
    const QPoint corner(place[0].trimmed().toInt(&xRead), place[1].trimmed().toInt(&yRead));
    // No desktop is this large: such a place is a damaged value, and would overflow below.
    constexpr int Farthest = 1 << 20;
    if (!xRead || !yRead || qAbs(qint64(corner.x())) > Farthest
        || qAbs(qint64(corner.y())) > Farthest)
        return;
    const QPoint top = corner + QPoint(toPixels(300), toPixels(60));
    for (const QScreen *screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().contains(top)) {
            setGeometry(QRect(corner, size()));
            return;
        }
    }
}

// Stored when the window closes, if it moved; a minimized or hidden window has no place to keep.
void Form1::savePosition()
{
    if (!isVisible() || isMinimized())
        return;
    const QPoint corner = geometry().topLeft();
    const QString place = QStringLiteral("%1,%2").arg(corner.x()).arg(corner.y());
    if (GetSetting(Options::Position, QString()) != place)
        saveOption(Options::Position, place);
}
