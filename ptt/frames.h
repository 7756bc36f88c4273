#pragma once

#include <QByteArray>

// The radio's 5-byte command frames, sent first byte first as one write.
//
// The transmit and receive frames are the FT-847's set-mode commands (opcode 07): 01 sets USB,
// 03 sets CW-R. They are not its PTT commands: the radio is keyed by the DTR and RTS lines, and
// these frames only choose the mode that goes with each state. Do not "fix" them into PTT codes.
namespace Frames {
// Sent once at start-up to wake the radio's CAT interface.
inline const QByteArray Opening = QByteArray::fromHex("0000000000");
inline const QByteArray Receive = QByteArray::fromHex("0300000007");
inline const QByteArray Transmit = QByteArray::fromHex("0100000007");
} // namespace Frames
