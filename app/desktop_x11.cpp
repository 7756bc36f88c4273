#include "app/desktop.h"

#include <QByteArray>
#include <QtGlobal>

// The host message is an X11 client message: on a Wayland desktop Qt would choose its Wayland
// back end and the link would silently be gone, so XWayland is asked for.
void chooseDesktopBackEnd()
{
    if (qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb"));
}
