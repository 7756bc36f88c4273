#include "app/windowframe.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtMath>
#include <windows.h>

int windowFrameWidth(const QWidget *window)
{
    if (QGuiApplication::platformName() != QLatin1String("windows"))
        return window->frameGeometry().width() - window->width();
    // Qt's frame of a window that was never shown can be narrower than its client area; the
    // system's own rectangles of the window are right from the moment it exists.
    const auto handle = reinterpret_cast<HWND>(window->winId());
    RECT outer{};
    RECT inner{};
    if (!GetWindowRect(handle, &outer) || !GetClientRect(handle, &inner))
        return 0;
    const int devicePixels = (outer.right - outer.left) - (inner.right - inner.left);
    return qMax(0, qRound(devicePixels / window->devicePixelRatioF()));
}
