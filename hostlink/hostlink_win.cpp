#include "hostlink/hostlink.h"

#include "hostlink/wndprocs.h"

#include <QGuiApplication>
#include <QWidget>

namespace {

// The id Windows gave the message name; 0 until registered.
UINT PttMessageId = 0;

} // namespace

void RegisterHostMessage()
{
    PttMessageId = RegisterWindowMessageA(HostContract::MessageName);
}

bool HookHostMessages(QWidget *window, HostRequestHandler handler)
{
    // Only the windows platform gives a window a Win32 procedure; an offscreen window's handle
    // is no window of the system's.
    if (QGuiApplication::platformName() != QLatin1String("windows"))
        return false;
    if (PttMessageId == 0)
        return false;
    return HookHostWindow(reinterpret_cast<HWND>(window->winId()), PttMessageId,
                          std::move(handler));
}
