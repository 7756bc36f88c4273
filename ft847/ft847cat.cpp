#include "ft847/ft847cat.h"

namespace Ft847 {

QByteArray bcd(std::uint64_t tensOfHz)
{
    QByteArray digits(4, '\0');
    for (int i = 3; i >= 0; --i) {
        const auto low = std::uint8_t(tensOfHz % 10);
        tensOfHz /= 10;
        const auto high = std::uint8_t(tensOfHz % 10);
        tensOfHz /= 10;
        digits[i] = char(std::uint8_t(high << 4) | low);
    }
    return digits;
}

std::optional<Mode> modeFromCode(std::uint8_t code)
{
    switch (code) {
    case 0x00:
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x08:
    case 0x82:
    case 0x83:
    case 0x84:
    case 0x88:
        return Mode(code);
    default:
        return std::nullopt;
    }
}

const ModeInfo &modeInfo(Mode mode)
{
    for (const ModeInfo &info : Modes)
        if (info.mode == mode)
            return info;
    return Modes[1];
}

const ModeInfo *modeNamed(const QByteArray &name, bool narrow)
{
    for (const ModeInfo &info : Modes)
        if (name == info.name && info.narrow == narrow)
            return &info;
    return nullptr;
}

bool tunable(double hz)
{
    // Written as ranges that hold: NaN fails every comparison.
    for (const Range &range : ReceiveRanges)
        if (hz >= double(range.low) && hz <= double(range.high))
            return true;
    return false;
}

QByteArray frame(std::uint8_t opcode, const QByteArray &payload, Vfo vfo)
{
    QByteArray bytes = payload.leftJustified(4, '\0', true);
    bytes.append(char((opcode & 0x0f) | std::uint8_t(vfo)));
    if (vfo == Vfo::Main)
        bytes[4] = char(opcode);
    return bytes;
}

QByteArray setFrequency(std::uint64_t hz, Vfo vfo)
{
    return frame(Opcode::SetFrequency, bcd(hz / 10), vfo);
}

QByteArray setMode(Mode mode, Vfo vfo)
{
    return frame(Opcode::SetMode, QByteArray(1, char(mode)), vfo);
}

std::optional<std::uint64_t> frequencyFromBcd(const QByteArray &fourBytes)
{
    if (fourBytes.size() != 4)
        return std::nullopt;
    std::uint64_t tensOfHz = 0;
    for (const char c : fourBytes) {
        const auto byte = std::uint8_t(c);
        if ((byte >> 4) > 9 || (byte & 0x0f) > 9)
            return std::nullopt;
        tensOfHz = tensOfHz * 100 + std::uint64_t((byte >> 4) * 10 + (byte & 0x0f));
    }
    return tensOfHz * 10;
}

std::optional<Status> decodeStatus(const QByteArray &answer)
{
    if (answer.size() != StatusSize)
        return std::nullopt;
    const auto hz = frequencyFromBcd(answer.left(4));
    const auto mode = modeFromCode(std::uint8_t(answer[4]));
    if (!hz || !mode)
        return std::nullopt;
    return Status{*hz, *mode};
}

QByteArray encodeStatus(const Status &status)
{
    QByteArray answer = bcd(status.hz / 10);
    answer.append(char(status.mode));
    return answer;
}

} // namespace Ft847
