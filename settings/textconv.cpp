#include "settings/textconv.h"

#include <QRegularExpression>
#include <cfenv>
#include <cmath>

double textToDouble(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(^[ \t]*[+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?[ \t]*$)"));
    if (!number.match(text).hasMatch())
        throw ConversionError(
            ConversionError::TypeMismatch,
            QStringLiteral("Type mismatch: \"%1\" is not a number").arg(text.left(40)));
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    // The text is a well-formed number here, so a failed conversion is either an overflow
    // (infinite) or a number too small to hold, which is zero.
    if (!ok && value == 0.0)
        return 0.0;
    if (!std::isfinite(value))
        throw ConversionError(ConversionError::Overflow,
                              QStringLiteral("Overflow: \"%1\" is too large").arg(text.left(40)));
    return value;
}

std::int16_t roundToInt16(double value)
{
    // Ties go to the even neighbour, as the stored options were always read.
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(previous);
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        throw ConversionError(ConversionError::Overflow,
                              QStringLiteral("Overflow: %1 is outside -32768..32767").arg(value));
    return static_cast<std::int16_t>(rounded);
}

std::int16_t textToInt16(const QString &text)
{
    return roundToInt16(textToDouble(text));
}

std::optional<int> textToWholeNumber(const QString &text, int max)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 9)
        return std::nullopt;
    int value = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    if (value > max)
        return std::nullopt;
    return value;
}
