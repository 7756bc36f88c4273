#include "hostlink/wndprocs.h"

#include <map>
#include <utility>

namespace {

struct HookedWindow
{
    // The window's procedure as it was before the hook.
    LONG_PTR PreviousWindowProc = 0;
    UINT PttMessageId = 0;
    HostRequestHandler hostPtt;
};

// Every hooked window of this program, by handle. Window procedures run on the user-interface
// thread only, so no lock is needed.
std::map<HWND, HookedWindow> &hookedWindows()
{
    static std::map<HWND, HookedWindow> windows;
    return windows;
}

} // namespace

LONG_PTR HookWindow(const HWND &window, const WNDPROC &newProc)
{
    const LONG_PTR previous = GetWindowLongPtrW(window, GWLP_WNDPROC);
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(newProc));
    return previous;
}

bool HookHostWindow(HWND window, UINT messageId, HostRequestHandler routine)
{
    auto &windows = hookedWindows();
    if (const auto found = windows.find(window); found != windows.end()) {
        found->second.hostPtt = std::move(routine); // hooked already: only the routine changes
        found->second.PttMessageId = messageId;
        return true;
    }
    HookedWindow &hooked = windows[window];
    hooked.PttMessageId = messageId;
    hooked.hostPtt = std::move(routine);
    hooked.PreviousWindowProc = HookWindow(window, HostWindowProc);
    if (hooked.PreviousWindowProc == 0) {
        windows.erase(window);
        return false;
    }
    return true;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto &windows = hookedWindows();
    const auto found = windows.find(window);
    if (found == windows.end())
        return DefWindowProcW(window, message, wParam, lParam);
    const auto previous = reinterpret_cast<WNDPROC>(found->second.PreviousWindowProc);
    if (message == found->second.PttMessageId && found->second.hostPtt) {
        // A copy: the routine may run the message loop, in which the window can be destroyed.
        const HostRequestHandler hostPtt = found->second.hostPtt;
        // The parameters are taken as signed 32-bit values, whatever the pointer size.
        hostPtt(static_cast<std::int32_t>(wParam), static_cast<std::int32_t>(lParam));
    } else if (message == WM_NCDESTROY) {
        // The last message the window gets: its handle may be given to another window later.
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        windows.erase(found);
    }
    return CallWindowProcW(previous, window, message, wParam, lParam);
}
