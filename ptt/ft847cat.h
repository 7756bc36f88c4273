#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>

// The FT-847's CAT command frames and its one answer, without a port: five bytes each, first
// byte first; frequencies are eight BCD digits in units of 10 Hz.
namespace Ft847 {

// Operating modes as the radio codes them in its set-mode frame and its status answer.
enum class Mode : std::uint8_t {
    Lsb = 0x00,
    Usb = 0x01,
    Cw = 0x02,
    Cwr = 0x03,
    Am = 0x04,
    Fm = 0x08,
    CwNarrow = 0x82,
    CwrNarrow = 0x83,
    AmNarrow = 0x84,
    FmNarrow = 0x88,
};
std::optional<Mode> modeFromCode(std::uint8_t code);

// What the radio answers to ReadStatus: its main VFO's frequency and mode.
struct Status
{
    std::uint64_t hz = 0;
    Mode mode = Mode::Usb;
    friend bool operator==(const Status &, const Status &) = default;
};

constexpr int FrameSize = 5;
constexpr int StatusSize = 5;
// Asks for the main VFO's frequency and mode (opcode 03); five bytes come back.
inline const QByteArray ReadStatus = QByteArray::fromHex("0000000003");

// True for a frequency the radio can tune: 100 kHz-30 MHz, 36-76, 108-174 and 420-512 MHz.
bool tunable(double hz);
// Set-frequency (opcode 01) for a tunable frequency: 10 Hz steps, the rest cut off, as the
// radio's own step is.
QByteArray setFrequency(std::uint64_t hz);
// Set-mode (opcode 07).
QByteArray setMode(Mode mode);

// Eight BCD digits in four bytes, in Hz; nothing for a byte that is not two decimal digits.
std::optional<std::uint64_t> frequencyFromBcd(const QByteArray &fourBytes);
// The radio's answer to ReadStatus; nothing for bytes that cannot be one.
std::optional<Status> decodeStatus(const QByteArray &answer);
// The same five bytes, as the radio sends them.
QByteArray encodeStatus(const Status &status);

} // namespace Ft847
