#pragma once

class QWidget;

// How much wider a top-level window is than its inner (client) area, in the widget's pixels:
// both side borders of the frame. 0 where the frame is not known yet.
int windowFrameWidth(const QWidget *window);
