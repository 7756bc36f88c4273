#include "ptt/hostlink.h"

#include "ptt/wndprocs.h"

#include <QGuiApplication>
#include <QWidget>

std::uint32_t PttMessageId = 0;

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
    return HookHostWindow(reinterpret_cast<HWND>(window->winId()), std::move(handler));
}
