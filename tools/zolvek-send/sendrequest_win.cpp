#include "tools/zolvek-send/sendrequest.h"

#include "settings/hostcontract.h"

#include <vector>
#include <windows.h>

int sendToUtilities(std::int32_t command, std::int32_t state, std::string *why)
{
    const UINT message = RegisterWindowMessageA(HostContract::MessageName);
    if (message == 0) {
        *why = "the message name could not be registered (error " + std::to_string(GetLastError())
               + ")";
        return -1;
    }
    // Every top-level window with the exact title, found before any is sent to: a request to
    // exit closes a window while the list is walked.
    std::vector<HWND> windows;
    for (HWND window = FindWindowExA(nullptr, nullptr, nullptr, HostContract::WindowTitle);
         window != nullptr;
         window = FindWindowExA(nullptr, window, nullptr, HostContract::WindowTitle))
        windows.push_back(window);
    int reached = 0;
    for (const HWND window : windows) {
        // Returns once the utility has carried the request out, as a host program's call does.
        SetLastError(ERROR_SUCCESS);
        SendMessageA(window, message, static_cast<WPARAM>(static_cast<std::uint32_t>(command)),
                     static_cast<LPARAM>(state));
        reached += GetLastError() == ERROR_SUCCESS || IsWindow(window) ? 1 : 0;
    }
    return reached;
}
