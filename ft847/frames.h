#pragma once

#include "ft847/ft847cat.h"

#include <QByteArray>

// The radio's 5-byte command frames, sent first byte first as one write.
//
// The transmit and receive frames are the FT-847's set-mode commands (opcode 07): 01 sets USB,
// 03 sets CW-R. They are not its PTT commands: the radio is keyed by the DTR and RTS lines, and
// these frames only choose the mode that goes with each state. Do not "fix" them into PTT codes.
namespace Frames {
// Sent once at start-up to wake the radio's CAT interface.
inline const QByteArray Opening = Ft847::frame(Ft847::Opcode::CatOn);
inline const QByteArray Receive = Ft847::setMode(Ft847::Mode::Cwr);
inline const QByteArray Transmit = Ft847::setMode(Ft847::Mode::Usb);
} // namespace Frames
