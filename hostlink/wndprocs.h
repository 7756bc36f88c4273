#pragma once

// The window-procedure hook that carries the host's registered message on Windows. Plain Win32:
// the window system calls a window procedure as a function with no object, so each hooked window
// is looked up by its handle.

#include "hostlink/hostlink.h"

#include <windows.h>

// Reads the window's current procedure, installs `newProc` in its place and returns the old one.
// The wide (Unicode) calls keep Qt's Unicode window Unicode: the ANSI pair would turn it into an
// ANSI window and typed characters outside the code page would arrive as "?".
LONG_PTR HookWindow(const HWND &window, const WNDPROC &newProc);

// Hooks `window`: from now on the host message (`messageId`, as registered) addressed to it goes
// to `routine`, and the window's own procedure still sees every message. Returns false when the
// window could not be hooked.
bool HookHostWindow(HWND window, UINT messageId, HostRequestHandler routine);

// The replacement procedure: hands the host message to the window's switching routine, then
// passes every message, that one included, to the window's previous procedure and returns its
// result.
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
