#include "catport/catframes.h"

#include "ft847/ft847cat.h"

#include <algorithm>

namespace {

bool isBcd(const QByteArray &bytes)
{
    return std::all_of(bytes.cbegin(), bytes.cend(), [](char c) {
        const auto b = static_cast<std::uint8_t>(c);
        return (b >> 4) <= 9 && (b & 0x0f) <= 9;
    });
}

bool payloadEmpty(const QByteArray &five)
{
    return five.left(4) == QByteArray(4, '\0');
}

} // namespace

bool CatFrames::isFrame(const QByteArray &five)
{
    using namespace Ft847::Opcode;
    if (five.size() != Ft847::FrameSize)
        return false;
    const auto opcode = static_cast<std::uint8_t>(five.at(4));
    const auto first = static_cast<std::uint8_t>(five.at(0));
    switch (opcode) {
    case PttOff:
        // Releasing is always safe, and Hamlib's FT-847 backend sends it as 00 00 00 01 88.
        return true;
    case CatOn:
    case CatOff:
    case PttOn:
    case SatelliteOn:
    case SatelliteOff:
    case ShiftMinus:
    case ShiftPlus:
    case Simplex:
    case ReadRxStatus:
    case ReadTxStatus:
        return payloadEmpty(five);
    case RepeaterOffset:
        return isBcd(five.left(4));
    default:
        break;
    }
    // The rest are for one of the three VFOs: the main one, or satellite receive or transmit.
    if ((opcode >> 4) > 2)
        return false;
    switch (opcode & 0x0f) {
    case ReadFrequencyMode:
        return payloadEmpty(five);
    case SetFrequency: {
        const auto hz = Ft847::frequencyFromBcd(five.left(4));
        return hz && Ft847::tunable(double(*hz));
    }
    case SetMode:
        return Ft847::modeFromCode(first).has_value();
    case ToneSwitch:
        return first == Ft847::Tones::DcsOn || first == Ft847::Tones::CtcssEncodeDecode
               || first == Ft847::Tones::CtcssEncode || first == Ft847::Tones::Off;
    case CtcssTone:
        return std::any_of(Ft847::CtcssTones.cbegin(), Ft847::CtcssTones.cend(),
                           [first](const Ft847::CtcssTone &tone) { return tone.code == first; });
    case DcsCode:
        return isBcd(five.left(2));
    default:
        return false;
    }
}

QList<QByteArray> CatFrames::feed(const QByteArray &bytes, qint64 nowMs)
{
    if (!m_held.isEmpty() && nowMs - m_lastByteMs > StaleMs) {
        m_skipped += m_held.size();
        m_held.clear();
    }
    if (!bytes.isEmpty())
        m_lastByteMs = nowMs;
    m_held += bytes;
    QList<QByteArray> frames;
    qsizetype at = 0;
    while (m_held.size() - at >= Ft847::FrameSize) {
        const QByteArray five = m_held.mid(at, Ft847::FrameSize);
        if (isFrame(five)) {
            frames << five;
            at += Ft847::FrameSize;
        } else {
            ++at; // out of step: the next byte may start a frame
            ++m_skipped;
        }
    }
    m_held.remove(0, at);
    return frames;
}
