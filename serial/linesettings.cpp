#include "serial/linesettings.h"

#include "serial/porterror.h"

#include <QStringList>
#include <array>

namespace {

constexpr std::array StandardRates{110,   300,   600,   1200,  2400,  4800,   9600,   14400,
                                   19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000};

[[noreturn]] void refuse(const QString &why)
{
    throw PortError(PortError::InvalidPropertyValue,
                    QStringLiteral("Invalid line settings: %1").arg(why));
}

QString shown(const QString &field)
{
    return QLatin1Char('"') + field.left(20)
           + (field.size() > 20 ? QStringLiteral("...\"") : QStringLiteral("\""));
}

bool allDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

LineSettings LineSettings::parse(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        refuse(QStringLiteral("expected baud,parity,data,stop such as 4800,n,8,2, got %1")
                   .arg(shown(text)));

    LineSettings result;

    const QString baud = fields[0].trimmed();
    bool rateKnown = false;
    if (allDigits(baud) && baud.size() <= 9) {
        const int rate = baud.toInt();
        for (const int standard : StandardRates)
            rateKnown = rateKnown || standard == rate;
        result.baud = rate;
    }
    if (!rateKnown)
        refuse(
            QStringLiteral("baud rate %1 is not a standard rate (110 to 256000)").arg(shown(baud)));

    const QString parity = fields[1].trimmed().toLower();
    if (parity.size() != 1 || !QStringLiteral("neoms").contains(parity[0]))
        refuse(QStringLiteral("parity %1 must be one of n, e, o, m, s").arg(shown(parity)));
    result.parity = parity[0].toLatin1();

    const QString data = fields[2].trimmed();
    if (data.size() != 1 || data[0] < QLatin1Char('5') || data[0] > QLatin1Char('8'))
        refuse(QStringLiteral("data bits %1 must be 5, 6, 7 or 8").arg(shown(data)));
    result.dataBits = data.toInt();

    const QString stop = fields[3].trimmed();
    if (stop == QStringLiteral("1"))
        result.stopBits = StopBits::One;
    else if (stop == QStringLiteral("1.5"))
        result.stopBits = StopBits::OneAndHalf;
    else if (stop == QStringLiteral("2"))
        result.stopBits = StopBits::Two;
    else
        refuse(QStringLiteral("stop bits %1 must be 1, 1.5 or 2").arg(shown(stop)));

    return result;
}

QString LineSettings::stopBitsText() const
{
    switch (stopBits) {
    case StopBits::One:
        return QStringLiteral("1");
    case StopBits::OneAndHalf:
        return QStringLiteral("1.5");
    case StopBits::Two:
        return QStringLiteral("2");
    }
    return QString();
}

QString LineSettings::toText() const
{
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baud)
        .arg(QLatin1Char(parity))
        .arg(dataBits)
        .arg(stopBitsText());
}
