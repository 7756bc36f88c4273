#include "app/desktop.h"

// Elsewhere Qt chooses: Windows has one windowing back end, and the host link is native to it.
void chooseDesktopBackEnd() {}
