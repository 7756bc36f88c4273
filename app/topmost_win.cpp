#include "app/topmost.h"

#include <QWidget>
#include <windows.h>

void setAlwaysOnTop(QWidget *window, bool onTop)
{
    // Only the place in the stacking order changes: position and size stay as they are.
    SetWindowPos(reinterpret_cast<HWND>(window->winId()), onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0,
                 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}
