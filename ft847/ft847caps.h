#pragma once

#include "ft847/ft847cat.h"

#include <QByteArray>
#include <array>
#include <cstdint>
#include <optional>

// The FT-847 as Hamlib's clients see it: what Hamlib's own FT-847 backend says of the radio
// (bands it transmits on and with what power, tuning steps, filters, tones, meters), in Hamlib's
// bit masks, made from the radio's own description where that has it.
namespace Ft847Caps {

constexpr int RigModel = 1001; // Hamlib's number for the FT-847

// Hamlib's bit for a mode name (AM, CW, USB, LSB, FM, CWR); 0 for one the radio lacks.
std::uint64_t modeBit(const char *name);

// A band the radio transmits on in ITU region 1 (the list rigctld gives), the modes it
// transmits there and its low and high power in mW.
struct TransmitRange
{
    std::uint64_t low;
    std::uint64_t high;
    bool amOnly; // the AM carrier's own, lower power
    int lowPowerMw;
    int highPowerMw;
};
const std::array<TransmitRange, 26> &transmitRanges();

// The 104 DCS codes Hamlib knows.
const std::array<std::uint16_t, 104> &dcsCodes();

// Hamlib's reading of the S-meter's dots in dB relative to S9, from its FT-847 backend.
int strengthOfDots(int dots);

// Power as a fraction of the most the radio gives at that frequency and mode, in mW; nothing
// where it does not transmit.
std::optional<int> powerToMw(double fraction, std::uint64_t hz, const char *mode);

// rigctld's \dump_state for this radio. `full` adds the key=value lines a client that has
// asked \chk_vfo reads after the numbers.
QByteArray dumpState(bool full);

} // namespace Ft847Caps
