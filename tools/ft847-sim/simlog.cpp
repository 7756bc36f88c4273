#include "tools/ft847-sim/simlog.h"

namespace {

QString jsonString(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + c;
        else if (c.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

QString jsonBool(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// "sat rx " before a satellite VFO's value in the readable log; nothing for the main one.
QString textVfo(const QString &vfo)
{
    return vfo == QLatin1String("main") ? QString() : vfo + QLatin1Char(' ');
}

} // namespace

SimLog::SimLog(bool json, std::FILE *out)
    : m_json(json)
    , m_out(out)
{
}

QString SimLog::stamp(double at)
{
    return QString::number(at, 'f', 6);
}

void SimLog::write(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}

void SimLog::listening(const QString &address)
{
    if (m_json)
        write(QStringLiteral("{\"event\":\"listening\",\"address\":%1}").arg(jsonString(address)));
    else
        write(QStringLiteral("ft847-sim: virtual FT-847 listening on rfc2217://%1").arg(address));
}

void SimLog::connected(const QString &peer)
{
    if (m_json)
        write(QStringLiteral("{\"event\":\"connected\",\"t\":%1,\"peer\":%2}")
                  .arg(stamp(), jsonString(peer)));
    else
        write(QStringLiteral("[%1] connected: %2").arg(stamp(), peer));
}

void SimLog::refused(const QString &peer)
{
    if (!m_json)
        write(QStringLiteral("[%1] refused %2: one client at a time").arg(stamp(), peer));
}

void SimLog::disconnected()
{
    if (m_json)
        write(QStringLiteral("{\"event\":\"disconnected\",\"t\":%1}").arg(stamp()));
    else
        write(QStringLiteral("[%1] disconnected").arg(stamp()));
}

void SimLog::settings(const SimPortState &state, double at)
{
    if (m_json)
        write(QStringLiteral("{\"event\":\"settings\",\"t\":%1,\"baud\":%2,\"data\":%3,"
                             "\"parity\":\"%4\",\"stop\":\"%5\"}")
                  .arg(stamp(at))
                  .arg(state.baud)
                  .arg(state.data)
                  .arg(QLatin1Char(state.parity))
                  .arg(state.stop));
    else
        write(QStringLiteral("[%1] settings: %2,%3,%4,%5")
                  .arg(stamp(at))
                  .arg(state.baud)
                  .arg(QLatin1Char(state.parity))
                  .arg(state.data)
                  .arg(state.stop));
}

void SimLog::lines(const SimPortState &state, double at)
{
    if (m_json) {
        write(QStringLiteral("{\"event\":\"lines\",\"t\":%1,\"dtr\":%2,\"rts\":%3}")
                  .arg(stamp(at), jsonBool(state.dtr), jsonBool(state.rts)));
        return;
    }
    const auto level = [](bool high) {
        return high ? QStringLiteral("high") : QStringLiteral("low");
    };
    write(QStringLiteral("[%1] lines: DTR %2, RTS %3  -> %4")
              .arg(stamp(at), level(state.dtr), level(state.rts),
                   state.dtr || state.rts ? QStringLiteral("TRANSMITTING (keyed)")
                                          : QStringLiteral("receiving")));
}

void SimLog::frame(const QByteArray &frame, const QString &name, double at)
{
    if (m_json)
        write(QStringLiteral("{\"event\":\"frame\",\"t\":%1,\"hex\":\"%2\",\"name\":%3}")
                  .arg(stamp(at), QString::fromLatin1(frame.toHex()), jsonString(name)));
    else
        write(QStringLiteral("[%1] frame: %2  %3")
                  .arg(stamp(at), QString::fromLatin1(frame.toHex(' ')), name));
}

void SimLog::dropped(const QByteArray &frame, double gapMs, double at)
{
    if (m_json)
        write(QStringLiteral("{\"event\":\"dropped\",\"t\":%1,\"hex\":\"%2\",\"gap_ms\":%3}")
                  .arg(stamp(at), QString::fromLatin1(frame.toHex()))
                  .arg(gapMs, 0, 'f', 3));
    else
        write(QStringLiteral("[%1] DROPPED: %2  %3 ms after the frame before, too soon")
                  .arg(stamp(at), QString::fromLatin1(frame.toHex(' ')))
                  .arg(gapMs, 0, 'f', 3));
}

// The main VFO's lines read as they always have; a satellite VFO is named.
void SimLog::frequency(std::uint64_t hz, const QString &vfo, double at)
{
    if (m_json)
        write(QStringLiteral("{\"event\":\"frequency\",\"t\":%1,\"hz\":%2,\"vfo\":%3}")
                  .arg(stamp(at))
                  .arg(quint64(hz))
                  .arg(jsonString(vfo)));
    else
        write(QStringLiteral("[%1] radio: %2%3 MHz")
                  .arg(stamp(at), textVfo(vfo))
                  .arg(double(hz) / 1e6, 0, 'f', 5));
}

void SimLog::mode(const QString &name, const QString &vfo, double at)
{
    if (m_json)
        write(QStringLiteral("{\"event\":\"mode\",\"t\":%1,\"mode\":%2,\"vfo\":%3}")
                  .arg(stamp(at), jsonString(name), jsonString(vfo)));
    else
        write(QStringLiteral("[%1] radio: %2mode %3").arg(stamp(at), textVfo(vfo), name));
}

void SimLog::satellite(bool on, double at)
{
    if (m_json)
        write(QStringLiteral("{\"event\":\"satellite\",\"t\":%1,\"on\":%2}")
                  .arg(stamp(at), jsonBool(on)));
    else
        write(QStringLiteral("[%1] radio: satellite mode %2")
                  .arg(stamp(at), on ? QStringLiteral("on") : QStringLiteral("off")));
}

void SimLog::device(const QString &event, const QString &cause, double at)
{
    if (m_json)
        write(QStringLiteral("{\"event\":%1,\"t\":%2,\"cause\":%3}")
                  .arg(jsonString(event), stamp(at), jsonString(cause)));
    else
        write(QStringLiteral("[%1] %2: %3").arg(stamp(at), event, cause));
}
