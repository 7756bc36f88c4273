#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

// What the FT-847 does with one 5-byte CAT command frame: "cat on", "ptt off", "mode usb",
// "set frequency 145.12500 MHz"... or "unknown".
QString ft847FrameName(const QByteArray &frame);
// The VFO a frame's opcode is for: "main", "sat rx" or "sat tx"; empty for none.
QString ft847VfoName(std::uint8_t opcode);
// The name of a mode code ("usb", "cw narrow"...), empty for a code the radio does not know.
QString ft847ModeName(std::uint8_t mode);
// The mode code for a name as ft847ModeName gives it, or with "n" for " narrow" ("cwn").
std::optional<std::uint8_t> ft847ModeFromName(const QString &name);
