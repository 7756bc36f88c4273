#pragma once

#include <QString>
#include <stdexcept>

// Raised by a control property given a value it cannot hold (a list index past the end, a check
// box value other than 0, 1 or 2).
class ControlError : public std::runtime_error
{
public:
    static constexpr int InvalidPropertyValue = 380;

    explicit ControlError(const QString &message)
        : std::runtime_error(message.toStdString())
    {
    }
    int number() const { return InvalidPropertyValue; }
};
