#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

// What the switching needs of the main window: its indicator, closing it, and telling the user
// that the port failed.
class PttWindow
{
public:
    virtual ~PttWindow() = default;

    virtual QColor indicatorColor() const = 0;
    virtual void setIndicatorColor(const QColor &color) = 0;
    // Closes the window, which ends the program.
    virtual void unload() = 0;
    // Shown without blocking, so a host request is never held up by it; `why` are the port's
    // own messages.
    virtual void reportPortError(const QStringList &why) = 0;
};
