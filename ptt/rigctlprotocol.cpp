#include "ptt/rigctlprotocol.h"

#include <QHash>

namespace {

// Long command names and the one-letter ones they stand for.
const QHash<QByteArray, QByteArray> &longNames()
{
    static const QHash<QByteArray, QByteArray> names{
        {"set_freq", "F"},      {"get_freq", "f"}, {"set_mode", "M"}, {"get_mode", "m"},
        {"set_vfo", "V"},       {"get_vfo", "v"},  {"set_ptt", "T"},  {"get_ptt", "t"},
        {"get_split_vfo", "s"}, {"quit", "q"}};
    return names;
}

QByteArray longNameOf(const QByteArray &letter)
{
    for (auto it = longNames().cbegin(); it != longNames().cend(); ++it)
        if (it.value() == letter)
            return it.key();
    return letter;
}

RigctlSession::Reply say(const QByteArray &text)
{
    RigctlSession::Reply reply;
    reply.text = text;
    return reply;
}

bool printable(const QByteArray &line)
{
    for (const char c : line)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
            return false;
    return true;
}

} // namespace

QList<QByteArray> RigctlSession::feed(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    for (const char c : bytes) {
        if (c == '\n') {
            if (m_discarding)
                lines << QByteArray();
            else
                lines << (m_partial.endsWith('\r') ? m_partial.chopped(1) : m_partial);
            m_partial.clear();
            m_discarding = false;
        } else if (!m_discarding) {
            m_partial += c;
            if (m_partial.size() > MaxLine) {
                m_partial.clear();
                m_discarding = true;
            }
        }
    }
    return lines;
}

QByteArray RigctlSession::report(int code) const
{
    return QByteArrayLiteral("RPRT ") + QByteArray::number(code) + '\n';
}

// The plain form gives the values a line each; the extended form (a leading '+') names the
// command and each value, and ends with the report.
QByteArray RigctlSession::answer(const QByteArray &name, const QList<QByteArray> &values) const
{
    QByteArray text;
    if (m_extended)
        text += m_longName + ":\n";
    for (const QByteArray &value : values)
        text += (m_extended ? name + ": " : QByteArray()) + value + '\n';
    if (m_extended)
        text += report(0);
    return text;
}

RigctlSession::Reply RigctlSession::handle(const QByteArray &line, bool transmitting)
{
    QByteArray text = line.trimmed();
    m_extended = text.startsWith('+');
    if (m_extended)
        text = text.mid(1).trimmed();
    if (text.isEmpty() || !printable(text))
        return say(report(InvalidArgument));
    QList<QByteArray> words = text.split(' ');
    words.removeAll(QByteArray());
    QByteArray command = words.takeFirst();
    if (command.startsWith('\\')) {
        command = command.mid(1);
        command = longNames().value(command, "\\" + command);
    }
    m_longName = longNameOf(command);

    if (command == "\\chk_vfo")
        return say(m_extended ? answer("ChkVFO", {"0"}) : QByteArray("0\n"));
    if (command == "\\dump_state")
        return say(dumpState());
    if (command == "q" || command == "Q") {
        Reply goodbye;
        goodbye.close = true;
        return goodbye;
    }
    if (command == "v")
        return say(answer("VFO", {"VFOA"}));
    if (command == "s")
        return say(answer("Split", {"0"}) + (m_extended ? QByteArray() : "VFOA\n"));
    if (command == "f")
        return say(answer("Frequency", {QByteArray::number(m_frequency)}));
    if (command == "m")
        return say(answer("Mode", {m_mode})
                   + (m_extended ? QByteArray() : QByteArray::number(m_passband) + '\n'));
    if (command == "t")
        return say(answer("PTT", {transmitting ? "1" : "0"}));
    if (command == "F" && words.size() == 1) {
        bool ok = false;
        const double hz = words.first().toDouble(&ok);
        if (!ok || hz <= 0 || hz > 1e12)
            return say(report(InvalidArgument));
        m_frequency = std::uint64_t(hz + 0.5);
        return say(report(0));
    }
    if (command == "M" && !words.isEmpty() && words.size() <= 2) {
        bool ok = true;
        const int passband = words.size() == 2 ? words.last().toInt(&ok) : m_passband;
        if (!ok || words.first().size() > 16)
            return say(report(InvalidArgument));
        m_mode = words.first();
        // 0 and -1 ask for the mode's normal passband.
        m_passband = passband > 0 ? passband : 3000;
        return say(report(0));
    }
    if (command == "T" && words.size() == 1) {
        bool ok = false;
        const int state = words.first().toInt(&ok);
        if (!ok)
            return say(report(InvalidArgument));
        // Any non-zero value keys (WSJT-X asks with 3 for data).
        Reply change;
        change.ptt = state != 0;
        return change;
    }
    return say(report(NotAvailable));
}

QByteArray RigctlSession::pttAnswer(bool carriedOut) const
{
    return (m_extended ? m_longName + ":\n" : QByteArray()) + report(carriedOut ? 0 : IoError);
}

// Protocol version 1, as rigctld gives it: the ranges, steps and filters of an FT-847, PTT by
// CAT, and a time-out that covers the 1200 ms settling delay before "receive" is answered.
QByteArray RigctlSession::dumpState()
{
    return QByteArrayLiteral("1\n"    // protocol version
                             "1001\n" // rig model: FT-847
                             "0\n"    // ITU region
                             "100000.000000 512000000.000000 0x1ff -1 -1 0x3 0x1\n"
                             "0 0 0 0 0 0 0\n"
                             "1800000.000000 440000000.000000 0x1ff 5000 100000 0x3 0x1\n"
                             "0 0 0 0 0 0 0\n"
                             "0x1ff 10\n"
                             "0 0\n"
                             "0x1ff 2400\n"
                             "0 0\n"
                             "0\n0\n0\n0\n" // max RIT, XIT, IF shift, announces
                             "\n\n"         // preamps, attenuators
                             "0x0\n0x0\n0x0\n0x0\n0x0\n0x0\n"
                             "vfo_ops=0x0\n"
                             "ptt_type=0x1\n"
                             "targetable_vfo=0x0\n"
                             "has_set_vfo=0\n"
                             "has_get_vfo=1\n"
                             "has_set_freq=1\n"
                             "has_get_freq=1\n"
                             "has_set_conf=0\n"
                             "has_get_conf=0\n"
                             "has_power2mW=0\n"
                             "has_mW2power=0\n"
                             "timeout=3000\n"
                             "rig_model=1001\n"
                             "done\n");
}
