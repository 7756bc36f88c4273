#pragma once

#include <QByteArray>

// The radio's 5-byte command frames, sent first byte first as one write.
namespace Frames {
// Sent once at start-up to wake the radio's CAT interface.
inline const QByteArray Opening = QByteArray::fromHex("0000000000");
inline const QByteArray Receive = QByteArray::fromHex("0300000007");
inline const QByteArray Transmit = QByteArray::fromHex("0100000007");
} // namespace Frames
