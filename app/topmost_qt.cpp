#include "app/topmost.h"

#include <QWidget>
#include <QWindow>

void setAlwaysOnTop(QWidget *window, bool onTop)
{
    window->winId();
    window->windowHandle()->setFlag(Qt::WindowStaysOnTopHint, onTop);
}
