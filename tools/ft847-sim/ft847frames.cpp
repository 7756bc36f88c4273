#include "tools/ft847-sim/ft847frames.h"

#include "ptt/ft847cat.h"

namespace {

// Frequency frames carry eight BCD digits in units of 10 Hz.
QString frequency(const QByteArray &frame)
{
    const auto hz = Ft847::frequencyFromBcd(frame.left(4));
    if (!hz)
        return QString();
    return QString::number(double(*hz) / 1e6, 'f', 5) + QStringLiteral(" MHz");
}

} // namespace

// The names the log and --mode use.
QString ft847ModeName(std::uint8_t mode)
{
    switch (mode) {
    case 0x00:
        return QStringLiteral("lsb");
    case 0x01:
        return QStringLiteral("usb");
    case 0x02:
        return QStringLiteral("cw");
    case 0x03:
        return QStringLiteral("cwr");
    case 0x04:
        return QStringLiteral("am");
    case 0x08:
        return QStringLiteral("fm");
    case 0x82:
        return QStringLiteral("cw narrow");
    case 0x83:
        return QStringLiteral("cwr narrow");
    case 0x84:
        return QStringLiteral("am narrow");
    case 0x88:
        return QStringLiteral("fm narrow");
    default:
        return QString();
    }
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
    if (frame.size() != 5)
        return QStringLiteral("unknown");
    const auto opcode = std::uint8_t(frame[4]);
    switch (opcode) {
    case 0x00:
        return QStringLiteral("cat on");
    case 0x80:
        return QStringLiteral("cat off");
    case 0x08:
        return QStringLiteral("ptt on");
    case 0x88:
        return QStringLiteral("ptt off");
    case 0x4e:
        return QStringLiteral("sat mode on");
    case 0x8e:
        return QStringLiteral("sat mode off");
    case 0x03:
        return QStringLiteral("read frequency and mode");
    case 0xe7:
        return QStringLiteral("read rx status");
    case 0xf7:
        return QStringLiteral("read tx status");
    case 0x07:
    case 0x17:
    case 0x27: {
        const QString mode = ft847ModeName(std::uint8_t(frame[0]));
        if (mode.isEmpty())
            return QStringLiteral("unknown");
        const QString vfo = opcode == 0x17   ? QStringLiteral("sat rx ")
                            : opcode == 0x27 ? QStringLiteral("sat tx ")
                                             : QString();
        return vfo + QStringLiteral("mode ") + mode;
    }
    case 0x01:
    case 0x11:
    case 0x21: {
        const QString hz = frequency(frame);
        return hz.isEmpty() ? QStringLiteral("unknown") : QStringLiteral("set frequency ") + hz;
    }
    default:
        return QStringLiteral("unknown");
    }
}
