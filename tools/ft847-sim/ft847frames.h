#pragma once

#include <QByteArray>
#include <QString>

// What the FT-847 does with one 5-byte CAT command frame: "cat on", "ptt off", "mode usb",
// "set frequency 145.12500 MHz"... or "unknown".
QString ft847FrameName(const QByteArray &frame);
