#include "app/topmost.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <windows.h>

void setAlwaysOnTop(QWidget *window, bool onTop)
{
    if (QGuiApplication::platformName() != QLatin1String("windows")) {
        // No Win32 window behind it (offscreen): the toolkit's own flag on the platform window.
        window->winId();
        window->windowHandle()->setFlag(Qt::WindowStaysOnTopHint, onTop);
        return;
    }
    // Only the place in the stacking order changes: position and size stay as they are.
    SetWindowPos(reinterpret_cast<HWND>(window->winId()), onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0,
                 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}
