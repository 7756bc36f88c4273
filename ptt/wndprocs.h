#pragma once

// The window-procedure hook that carries the host's registered message on Windows. Plain Win32:
// the window system calls a window procedure as a function with no object.

#include "ptt/hostlink.h"

#include <windows.h>

// The main window's procedure as it was before the hook; set once at start-up.
extern LONG_PTR PreviousWindowProc;

// Reads the window's current procedure, installs `newProc` in its place and returns the old one.
LONG_PTR HookWindow(const HWND &window, const WNDPROC &newProc);

// The replacement procedure: hands the host message to the switching routine, then passes every
// message, that one included, to the previous procedure and returns its result.
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The switching routine HostWindowProc calls for the host message.
void SetHostPttRoutine(HostRequestHandler routine);
