#include "ptt/wndprocs.h"

#include <utility>

LONG_PTR PreviousWindowProc = 0;

namespace {
HostRequestHandler hostPtt;
}

void SetHostPttRoutine(HostRequestHandler routine)
{
    hostPtt = std::move(routine);
}

LONG_PTR HookWindow(const HWND &window, const WNDPROC &newProc)
{
    const LONG_PTR previous = GetWindowLongPtrA(window, GWLP_WNDPROC);
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(newProc));
    return previous;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == PttMessageId && hostPtt) {
        // The parameters are taken as signed 32-bit values, whatever the pointer size.
        const auto command = static_cast<std::int32_t>(wParam);
        const auto state = static_cast<std::int32_t>(lParam);
        hostPtt(command, state);
    }
    return CallWindowProcA(reinterpret_cast<WNDPROC>(PreviousWindowProc), window, message, wParam,
                           lParam);
}
