#include "ptt/hostlink.h"

#include "ptt/wndprocs.h"

#include <QWidget>

std::uint32_t PttMessageId = 0;

void RegisterHostMessage()
{
    PttMessageId = RegisterWindowMessageA(HostContract::MessageName);
}

bool HookHostMessages(QWidget *window, HostRequestHandler handler)
{
    SetHostPttRoutine(std::move(handler));
    const HWND handle = reinterpret_cast<HWND>(window->winId());
    const WNDPROC procedure = HostWindowProc;
    PreviousWindowProc = HookWindow(handle, procedure);
    return PreviousWindowProc != 0;
}
