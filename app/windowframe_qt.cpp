#include "app/windowframe.h"

#include <QWidget>

int windowFrameWidth(const QWidget *window)
{
    // A window manager frames the window only once it is shown; until then this is 0.
    return window->frameGeometry().width() - window->width();
}
