#pragma once

#include <QString>

// Serial line settings as the user types them: "BAUD,PARITY,DATA,STOP", for example "4800,n,8,2".
//
//   BAUD    a decimal rate from the standard list: 110 300 600 1200 2400 4800 9600 14400 19200
//           28800 38400 56000 57600 115200 128000 256000
//   PARITY  n (none), e (even), o (odd), m (mark) or s (space), either case
//   DATA    5, 6, 7 or 8
//   STOP    1, 1.5 or 2
//
// Blanks around each field are allowed. Anything else, the empty text included, is refused with a
// message that names the field that is wrong.
struct LineSettings
{
    enum class StopBits { One, OneAndHalf, Two };

    int baud = 9600;
    char parity = 'n';
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    // Raises PortError (invalid property value) for a text the grammar refuses.
    static LineSettings parse(const QString &text);
    // The canonical text, for example "4800,n,8,2".
    QString toText() const;
    QString stopBitsText() const;

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};
