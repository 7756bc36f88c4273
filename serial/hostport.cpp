#include "serial/hostport.h"

#include <QRegularExpression>

QString HostPort::text() const
{
    const QString name =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return name + QLatin1Char(':') + QString::number(port);
}

std::optional<QHostAddress> HostPort::address() const
{
    QHostAddress address;
    if (!address.setAddress(host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1")
                                                               : host))
        return std::nullopt;
    return address;
}

std::optional<HostPort> parseHostPort(const QString &text, bool anyPort)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^(?:\[([0-9A-Fa-f:.]+)\]|([A-Za-z0-9.-]+)):([0-9]{1,5})$)"));
    const auto match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const uint number = match.captured(3).toUInt();
    if (number > 65535 || (number == 0 && !anyPort))
        return std::nullopt;
    return HostPort{match.captured(1).isEmpty() ? match.captured(2) : match.captured(1),
                    quint16(number)};
}
