#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <functional>

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
// Returns once the utility owning `window` has handled every event sent to it before (two
// _NET_WM_PING round trips); false when it did not answer in time.
bool syncWithUtility(std::uint32_t window, int timeoutMs = 5000);
// The input helpers below return once the utility has handled what they sent.
// Moves the pointer to (x, y) in `window` and clicks.
void clickAt(std::uint32_t window, int x, int y);
void pressKeys(const QString &keys);
void typeText(const QString &text);

// Runs `action` while another thread pings `window` (_NET_WM_PING), one ping after another; the
// longest round trip in milliseconds is the longest the utility's event loop stood still, seen
// from outside (an unanswered ping counts as 3 s; -1: no ping could be sent).
double longestStallDuring(std::uint32_t window, const std::function<void()> &action);
