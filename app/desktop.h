#pragma once

// Before the application starts: the windowing back end that carries the host link (on Linux,
// X11 through XWayland on a Wayland desktop), unless the user chose one.
void chooseDesktopBackEnd();
