#include "tools/ft847-sim/ft847frames.h"

#include "ft847/ft847cat.h"

namespace {

// Frequency frames carry eight BCD digits in units of 10 Hz.
QString frequency(const QByteArray &frame)
{
    const auto hz = Ft847::frequencyFromBcd(frame.left(4));
    if (!hz)
        return QString();
    return QString::number(double(*hz) / 1e6, 'f', 5) + QStringLiteral(" MHz");
}

QString toneSwitch(std::uint8_t how)
{
    switch (how) {
    case Ft847::Tones::DcsOn:
        return QStringLiteral("dcs on");
    case Ft847::Tones::CtcssEncodeDecode:
        return QStringLiteral("ctcss encode and decode on");
    case Ft847::Tones::CtcssEncode:
        return QStringLiteral("ctcss encode on");
    case Ft847::Tones::Off:
        return QStringLiteral("ctcss and dcs off");
    default:
        return QString();
    }
}

} // namespace

// The names the log and --mode use: Hamlib's, in lower case, "narrow" after a narrow filter's.
QString ft847ModeName(std::uint8_t mode)
{
    const auto known = Ft847::modeFromCode(mode);
    if (!known)
        return QString();
    const Ft847::ModeInfo &info = Ft847::modeInfo(*known);
    return QString::fromLatin1(info.name).toLower()
           + (info.narrow ? QStringLiteral(" narrow") : QString());
}

std::optional<std::uint8_t> ft847ModeFromName(const QString &name)
{
    QString wanted = name.trimmed().toLower();
    wanted.replace(QStringLiteral(" narrow"), QStringLiteral("n"));
    for (int code = 0; code < 256; ++code) {
        QString known = ft847ModeName(std::uint8_t(code));
        known.replace(QStringLiteral(" narrow"), QStringLiteral("n"));
        if (!known.isEmpty() && known == wanted)
            return std::uint8_t(code);
    }
    return std::nullopt;
}

QString ft847FrameName(const QByteArray &frame)
{
    using namespace Ft847;
    if (frame.size() != FrameSize)
        return QStringLiteral("unknown");
    const auto opcode = std::uint8_t(frame[4]);
    switch (opcode) {
    case Opcode::CatOn:
        return QStringLiteral("cat on");
    case Opcode::CatOff:
        return QStringLiteral("cat off");
    case Opcode::PttOn:
        return QStringLiteral("ptt on");
    case Opcode::PttOff:
        return QStringLiteral("ptt off");
    case Opcode::SatelliteOn:
        return QStringLiteral("sat mode on");
    case Opcode::SatelliteOff:
        return QStringLiteral("sat mode off");
    case Opcode::ReadRxStatus:
        return QStringLiteral("read rx status");
    case Opcode::ReadTxStatus:
        return QStringLiteral("read tx status");
    case Opcode::ShiftMinus:
        return QStringLiteral("repeater shift minus");
    case Opcode::ShiftPlus:
        return QStringLiteral("repeater shift plus");
    case Opcode::Simplex:
        return QStringLiteral("repeater simplex");
    case Opcode::RepeaterOffset: {
        const QString hz = frequency(frame);
        return hz.isEmpty() ? QStringLiteral("unknown") : QStringLiteral("repeater offset ") + hz;
    }
    default:
        break;
    }
    // The rest are for one VFO, named first when it is a satellite one.
    const QString vfo = ft847VfoName(opcode);
    if (vfo.isEmpty())
        return QStringLiteral("unknown");
    const QString prefix = (opcode >> 4) == 0 ? QString() : vfo + QLatin1Char(' ');
    QString what;
    switch (opcode & 0x0f) {
    case Opcode::SetFrequency:
        what = frequency(frame);
        if (!what.isEmpty())
            what.prepend(QStringLiteral("set frequency "));
        break;
    case Opcode::ReadFrequencyMode:
        what = QStringLiteral("read frequency and mode");
        break;
    case Opcode::SetMode:
        what = ft847ModeName(std::uint8_t(frame[0]));
        if (!what.isEmpty())
            what.prepend(QStringLiteral("mode "));
        break;
    case Opcode::ToneSwitch:
        what = toneSwitch(std::uint8_t(frame[0]));
        break;
    case Opcode::CtcssTone:
        for (const CtcssTone &tone : CtcssTones)
            if (tone.code == std::uint8_t(frame[0]))
                what = QStringLiteral("ctcss tone %1 Hz").arg(tone.decihertz / 10.0, 0, 'f', 1);
        break;
    case Opcode::DcsCode: {
        bool decimal = false;
        const int code = frame.left(2).toHex().toInt(&decimal, 10); // four BCD digits
        if (decimal)
            what = QStringLiteral("dcs code %1").arg(code, 3, 10, QLatin1Char('0'));
        break;
    }
    default:
        break;
    }
    return what.isEmpty() ? QStringLiteral("unknown") : prefix + what;
}

QString ft847VfoName(std::uint8_t opcode)
{
    switch (opcode >> 4) {
    case 0:
        return QStringLiteral("main");
    case 1:
        return QStringLiteral("sat rx");
    case 2:
        return QStringLiteral("sat tx");
    default:
        return QString();
    }
}
