#pragma once

#include <QByteArray>
#include <array>
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

// Each mode's filter: the name Hamlib gives the mode, its passband in Hz, and whether it is the
// narrow filter of that name. One row a code; the normal filter of a name comes first.
struct ModeInfo
{
    Mode mode;
    const char *name;
    int passband;
    bool narrow;
};
inline constexpr std::array<ModeInfo, 10> Modes{{
    {Mode::Lsb, "LSB", 2200, false},
    {Mode::Usb, "USB", 2200, false},
    {Mode::Cw, "CW", 2200, false},
    {Mode::Cwr, "CWR", 2200, false},
    {Mode::Am, "AM", 9000, false},
    {Mode::Fm, "FM", 15000, false},
    {Mode::CwNarrow, "CW", 500, true},
    {Mode::CwrNarrow, "CWR", 500, true},
    {Mode::AmNarrow, "AM", 2200, true},
    {Mode::FmNarrow, "FM", 9000, true},
}};
const ModeInfo &modeInfo(Mode mode);
// The mode of that name (as Hamlib names it), normal or narrow; nothing for one the radio lacks.
const ModeInfo *modeNamed(const QByteArray &name, bool narrow);

// What the radio receives; it tunes nothing else.
struct Range
{
    std::uint64_t low;
    std::uint64_t high;
};
inline constexpr std::array<Range, 4> ReceiveRanges{{
    {100'000, 30'000'000},
    {36'000'000, 76'000'000},
    {108'000'000, 174'000'000},
    {420'000'000, 512'000'000},
}};

// What the radio answers to ReadStatus: its main VFO's frequency and mode.
struct Status
{
    std::uint64_t hz = 0;
    Mode mode = Mode::Usb;
    friend bool operator==(const Status &, const Status &) = default;
};

// The VFO a frame is for, in the high nibble of its opcode: the main VFO, or in satellite mode
// the satellite receive and transmit VFOs.
enum class Vfo : std::uint8_t { Main = 0x00, SatRx = 0x10, SatTx = 0x20 };

// Opcodes, the fifth byte of a frame. Those that can be for a satellite VFO are given for the
// main VFO; a satellite VFO's adds its Vfo.
namespace Opcode {
constexpr std::uint8_t CatOn = 0x00;
constexpr std::uint8_t CatOff = 0x80;
constexpr std::uint8_t PttOn = 0x08;
constexpr std::uint8_t PttOff = 0x88;
constexpr std::uint8_t SatelliteOn = 0x4e;
constexpr std::uint8_t SatelliteOff = 0x8e;
constexpr std::uint8_t SetFrequency = 0x01;
constexpr std::uint8_t ReadFrequencyMode = 0x03;
constexpr std::uint8_t SetMode = 0x07;
// Byte 0: what it turns on (Tones).
constexpr std::uint8_t ToneSwitch = 0x0a;
constexpr std::uint8_t CtcssTone = 0x0b; // byte 0: the tone's code (CtcssTones)
constexpr std::uint8_t DcsCode = 0x0c;   // bytes 0-1: the code, four BCD digits
constexpr std::uint8_t ShiftMinus = 0x09;
constexpr std::uint8_t ShiftPlus = 0x49;
constexpr std::uint8_t Simplex = 0x89;
constexpr std::uint8_t RepeaterOffset = 0xf9; // bytes 0-3: eight BCD digits of 10 Hz
// One byte comes back: bit 7 set while the squelch is closed; bits 0-4 the S-meter's dots.
constexpr std::uint8_t ReadRxStatus = 0xe7;
// One byte comes back: bit 7 set while not transmitting by CAT (keyed by the rear socket's
// PTT line, the radio still says receive); bits 0-4 the PO/ALC meter.
constexpr std::uint8_t ReadTxStatus = 0xf7;
} // namespace Opcode
// What ToneSwitch's first byte turns on.
namespace Tones {
constexpr std::uint8_t DcsOn = 0x0a;
constexpr std::uint8_t CtcssEncodeDecode = 0x2a;
constexpr std::uint8_t CtcssEncode = 0x4a;
constexpr std::uint8_t Off = 0x8a;
} // namespace Tones
constexpr std::uint8_t StatusFlag = 0x80; // bit 7 of both status bytes
constexpr std::uint8_t MeterMask = 0x1f;

// The radio's 39 CTCSS tones, in tenths of Hz, each with the code its frame carries.
struct CtcssTone
{
    std::uint16_t decihertz;
    std::uint8_t code;
};
inline constexpr std::array<CtcssTone, 39> CtcssTones{{
    {670, 0x3f},  {693, 0x39},  {719, 0x1f},  {744, 0x3e},  {770, 0x0f},  {797, 0x3d},
    {825, 0x1e},  {854, 0x3c},  {885, 0x0e},  {915, 0x3b},  {948, 0x1d},  {974, 0x3a},
    {1000, 0x0d}, {1035, 0x1c}, {1072, 0x0c}, {1109, 0x1b}, {1148, 0x0b}, {1188, 0x1a},
    {1230, 0x0a}, {1273, 0x19}, {1318, 0x09}, {1365, 0x18}, {1413, 0x08}, {1462, 0x17},
    {1514, 0x07}, {1567, 0x16}, {1622, 0x06}, {1679, 0x15}, {1738, 0x05}, {1799, 0x14},
    {1862, 0x04}, {1928, 0x13}, {2035, 0x03}, {2107, 0x12}, {2181, 0x02}, {2257, 0x11},
    {2336, 0x01}, {2418, 0x10}, {2503, 0x00},
}};

constexpr int FrameSize = 5;
constexpr int StatusSize = 5;
// The radio takes one command at a time: Hamlib's FT-847 backend waits 50 ms after each, as
// sequential fast writes confuse it. Frames leave at least this far apart, start to start.
constexpr int PacingMs = 50;
// How long `bytes` take on the wire at `baud` with 8 data bits, no parity and `stopBits`:
// a 5-byte frame at 4800 8N2 takes 11.46 ms.
constexpr double wireMs(int bytes, int baud, double stopBits = 2.0)
{
    return baud > 0 ? bytes * (1.0 + 8.0 + stopBits) * 1000.0 / baud : 0.0;
}
// Asks for the main VFO's frequency and mode (opcode 03); five bytes come back.
inline const QByteArray ReadStatus = QByteArray::fromHex("0000000003");

// True for a frequency the radio can tune: one in ReceiveRanges.
bool tunable(double hz);
// A frame: the opcode (the main VFO's, moved to `vfo`'s where the opcode has one) after four
// bytes of payload.
QByteArray frame(std::uint8_t opcode, const QByteArray &payload = QByteArray(4, '\0'),
                 Vfo vfo = Vfo::Main);
// Set-frequency (opcode 01) for a tunable frequency: 10 Hz steps, the rest cut off, as the
// radio's own step is.
QByteArray setFrequency(std::uint64_t hz, Vfo vfo = Vfo::Main);
// Set-mode (opcode 07).
QByteArray setMode(Mode mode, Vfo vfo = Vfo::Main);
// Eight BCD digits of `value`, in four bytes, as frequency and offset frames carry them.
QByteArray bcd(std::uint64_t value);

// Eight BCD digits in four bytes, in Hz; nothing for a byte that is not two decimal digits.
std::optional<std::uint64_t> frequencyFromBcd(const QByteArray &fourBytes);
// The radio's answer to ReadStatus; nothing for bytes that cannot be one.
std::optional<Status> decodeStatus(const QByteArray &answer);
// The same five bytes, as the radio sends them.
QByteArray encodeStatus(const Status &status);

} // namespace Ft847
