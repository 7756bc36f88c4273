#pragma once

#include <QColor>
#include <QString>
#include <cstdint>

// Looks at the real utility's window on the X server the test runs under.

class QProcess;

// Starts openbox and waits until it manages the display; false if it did not come up.
bool startWindowManager(QProcess &windowManager);
void stopWindowManager(QProcess &windowManager);

// The utility's main window, when exactly one is up; 0 otherwise.
std::uint32_t utilityWindow();
// Windows whose title is exactly `title` (the utility's message boxes: "zolvek-ptt").
int windowsTitled(const QString &title);
// The colour on screen at (x, y) of `window`.
QColor pixelAt(std::uint32_t window, int x, int y);
// Answers the one message box titled `title` with Return; false when there was none.
bool answerMessageBox(const QString &title);
// Moves the pointer to (x, y) in `window` and clicks.
void clickAt(std::uint32_t window, int x, int y);
void pressKeys(const QString &keys);
void typeText(const QString &text);
