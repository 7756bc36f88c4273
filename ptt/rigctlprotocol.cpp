#include "ptt/rigctlprotocol.h"

#include <QHash>
#include <optional>
#include <utility>

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

RigctlSession::Reply RigctlSession::handle(const QByteArray &line, bool keyed)
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
    // Hamlib's own clients ask before each mode change and leave the mode alone unless it is
    // unlocked; the radio has no such lock.
    if (command == "\\get_lock_mode")
        return say(answer("Locked", {"0"}));
    if (command == "q" || command == "Q") {
        Reply goodbye;
        goodbye.action = Reply::Action::Close;
        return goodbye;
    }
    if (command == "v")
        return say(answer("VFO", {"VFOA"}));
    if (command == "s")
        return say(answer("Split", {"0"}) + (m_extended ? QByteArray() : "VFOA\n"));
    // Split off is what the radio has; the FT-847's split needs its satellite mode.
    if (command == "S" && !words.isEmpty() && words.size() <= 2)
        return say(report(words.first() == "0" ? 0 : NotAvailable));
    if (command == "f" || command == "m") {
        Reply read;
        read.action = Reply::Action::ReadStatus;
        read.wantsMode = command == "m";
        return read;
    }
    if (command == "t")
        return say(answer("PTT", {keyed ? "1" : "0"}));
    if (command == "F" && words.size() == 1) {
        bool ok = false;
        const double hz = words.first().toDouble(&ok);
        if (!ok || !Ft847::tunable(hz))
            return say(report(InvalidArgument));
        Reply tune;
        tune.action = Reply::Action::SetFrequency;
        tune.hz = std::uint64_t(hz);
        return tune;
    }
    if (command == "M" && !words.isEmpty() && words.size() <= 2)
        return setMode(words);
    if (command == "T" && words.size() == 1) {
        bool ok = false;
        const int state = words.first().toInt(&ok);
        if (!ok)
            return say(report(InvalidArgument));
        // Any non-zero value keys (WSJT-X asks with 3 for data).
        Reply change;
        change.action = state != 0 ? Reply::Action::Key : Reply::Action::Release;
        return change;
    }
    return say(report(NotAvailable));
}

namespace {

// The radio's filters, as Hamlib describes them for the FT-847: the normal passband of each
// mode, and the narrow one where it has one.
int normalPassband(Ft847::Mode mode)
{
    switch (mode) {
    case Ft847::Mode::Am:
        return 9000;
    case Ft847::Mode::Fm:
        return 15000;
    default:
        return 2200;
    }
}

std::optional<Ft847::Mode> narrowOf(Ft847::Mode mode)
{
    switch (mode) {
    case Ft847::Mode::Cw:
        return Ft847::Mode::CwNarrow;
    case Ft847::Mode::Cwr:
        return Ft847::Mode::CwrNarrow;
    case Ft847::Mode::Am:
        return Ft847::Mode::AmNarrow;
    case Ft847::Mode::Fm:
        return Ft847::Mode::FmNarrow;
    default:
        return std::nullopt;
    }
}

// Hamlib's name and passband of what the radio is in.
std::pair<QByteArray, int> hamlibMode(Ft847::Mode mode)
{
    switch (mode) {
    case Ft847::Mode::Lsb:
        return {"LSB", 2200};
    case Ft847::Mode::Usb:
        return {"USB", 2200};
    case Ft847::Mode::Cw:
        return {"CW", 2200};
    case Ft847::Mode::Cwr:
        return {"CWR", 2200};
    case Ft847::Mode::Am:
        return {"AM", 9000};
    case Ft847::Mode::Fm:
        return {"FM", 15000};
    case Ft847::Mode::CwNarrow:
        return {"CW", 500};
    case Ft847::Mode::CwrNarrow:
        return {"CWR", 500};
    case Ft847::Mode::AmNarrow:
        return {"AM", 2200};
    case Ft847::Mode::FmNarrow:
        return {"FM", 9000};
    }
    return {"USB", 2200};
}

} // namespace

// The radio has no data modes of its own: PKTUSB, PKTLSB and PKTFM are USB, LSB and FM with
// the sound card on the data socket. A passband below the mode's normal one picks the narrow
// filter where the mode has one; 0 and -1 ask for the normal one.
RigctlSession::Reply RigctlSession::setMode(const QList<QByteArray> &words)
{
    static const QHash<QByteArray, Ft847::Mode> modes{
        {"LSB", Ft847::Mode::Lsb},    {"USB", Ft847::Mode::Usb},    {"CW", Ft847::Mode::Cw},
        {"CWR", Ft847::Mode::Cwr},    {"AM", Ft847::Mode::Am},      {"FM", Ft847::Mode::Fm},
        {"PKTLSB", Ft847::Mode::Lsb}, {"PKTUSB", Ft847::Mode::Usb}, {"PKTFM", Ft847::Mode::Fm}};
    const QByteArray name = words.first().toUpper();
    const auto found = modes.constFind(name);
    bool ok = true;
    const int passband = words.size() == 2 ? words.last().toInt(&ok) : 0;
    if (found == modes.cend() || !ok)
        return say(report(InvalidArgument));
    Ft847::Mode mode = *found;
    if (passband > 0 && passband < normalPassband(mode))
        mode = narrowOf(mode).value_or(mode);
    m_setName = name;
    m_setMode = mode;
    m_haveSet = true;
    Reply change;
    change.action = Reply::Action::SetMode;
    change.mode = mode;
    return change;
}

QByteArray RigctlSession::doneAnswer(bool carriedOut) const
{
    return (m_extended ? m_longName + ":\n" : QByteArray()) + report(carriedOut ? 0 : IoError);
}

QByteArray RigctlSession::statusAnswer(const Reply &asked, bool ok,
                                       const Ft847::Status &status) const
{
    if (!ok)
        return doneAnswer(false);
    if (!asked.wantsMode)
        return answer("Frequency", {QByteArray::number(quint64(status.hz))});
    auto [name, passband] = hamlibMode(status.mode);
    if (m_haveSet && status.mode == m_setMode)
        name = m_setName;
    if (!m_extended)
        return name + '\n' + QByteArray::number(passband) + '\n';
    return m_longName + ":\nMode: " + name + "\nPassband: " + QByteArray::number(passband) + '\n'
           + report(0);
}

// Protocol version 1, as rigctld gives it: the ranges, modes, steps and filters of an FT-847
// (mode bits AM 0x1, CW 0x2, USB 0x4, LSB 0x8, FM 0x20, CWR 0x80, and PKTLSB 0x400, PKTUSB
// 0x800, PKTFM 0x1000, which it takes as LSB, USB and FM), PTT by CAT.
QByteArray RigctlSession::dumpState()
{
    return QByteArrayLiteral("1\n"    // protocol version
                             "1001\n" // rig model: FT-847
                             "0\n"    // ITU region
                             "100000.000000 30000000.000000 0x1caf -1 -1 0x3 0x1\n"
                             "36000000.000000 76000000.000000 0x1caf -1 -1 0x3 0x1\n"
                             "108000000.000000 174000000.000000 0x1caf -1 -1 0x3 0x1\n"
                             "420000000.000000 512000000.000000 0x1caf -1 -1 0x3 0x1\n"
                             "0 0 0 0 0 0 0\n"
                             "1800000.000000 54000000.000000 0x1caf 5000 100000 0x3 0x1\n"
                             "144000000.000000 148000000.000000 0x1caf 1000 50000 0x3 0x1\n"
                             "430000000.000000 450000000.000000 0x1caf 1000 50000 0x3 0x1\n"
                             "0 0 0 0 0 0 0\n"
                             "0x1caf 10\n"
                             "0 0\n"
                             "0xc8e 2200\n" // SSB, CW, CWR and their data modes
                             "0x82 500\n"
                             "0x1 9000\n"
                             "0x1 2200\n"
                             "0x1020 15000\n"
                             "0x1020 9000\n"
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
                             "timeout=1000\n"
                             "rig_model=1001\n"
                             "done\n");
}
