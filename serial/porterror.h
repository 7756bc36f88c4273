#pragma once

#include <QString>
#include <stdexcept>

// The one error the port object and the window's controls raise (a control given a value it
// cannot hold raises InvalidPropertyValue). Callers only ask whether one occurred; the number
// and message are for people.
class PortError : public std::runtime_error
{
public:
    static constexpr int InvalidPropertyValue = 380;
    static constexpr int InvalidPortNumber = 8002;
    static constexpr int PortAlreadyOpen = 8005;
    static constexpr int PortUnavailable = 8010;
    static constexpr int PortNotOpen = 8012;
    static constexpr int CommStateFailed = 8015;
    static constexpr int WriteFailed = 8020;

    PortError(int number, const QString &message)
        : std::runtime_error(message.toStdString())
        , m_number(number)
    {
    }
    int number() const { return m_number; }
    QString message() const { return QString::fromStdString(what()); }

private:
    int m_number = 0;
};
