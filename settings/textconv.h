#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>

// Conversions of stored text to numbers. A text that is not a decimal number raises "Type
// mismatch"; a number outside the target's range raises "Overflow".
class ConversionError : public std::runtime_error
{
public:
    static constexpr int TypeMismatch = 13;
    static constexpr int Overflow = 6;

    ConversionError(int number, const QString &message)
        : std::runtime_error(message.toStdString())
        , m_number(number)
    {
    }
    int number() const { return m_number; }

private:
    int m_number = 0;
};

// Blanks around the number are allowed; an optional sign, digits with an optional decimal
// point, and an optional exponent ("1.0", " 3 ", "-2.5", "1e2"). No hex, no nan or inf.
double textToDouble(const QString &text);

// As textToDouble, then rounded to the nearest integer, halves to even ("2.5" gives 2, "3.5"
// gives 4); the result must lie in -32768..32767.
std::int16_t textToInt16(const QString &text);

// Rounds halves to even into a 16-bit integer; raises Overflow outside -32768..32767.
std::int16_t roundToInt16(double value);

// A whole number from 0 to `max` written in decimal digits alone, blanks around allowed; nothing
// for anything else (signs, points, exponents, other digits).
std::optional<int> textToWholeNumber(const QString &text, int max);
