#pragma once

class QWidget;

// Keeps a top-level window above ordinary windows, or releases it again, in place: the window
// is neither hidden nor recreated.
void setAlwaysOnTop(QWidget *window, bool onTop);
