#include "ptt/rigctlprotocol.h"

#include <QHash>
#include <QRegularExpression>
#include <cctype>
#include <optional>
#include <utility>

namespace {

// rigctld's commands: the letter each has (none for those named only by their long name) and
// the long name every one of them answers to.
struct Command
{
    char letter;
    const char *name;
};

constexpr Command Commands[] = {
    {'F', "set_freq"},
    {'f', "get_freq"},
    {'M', "set_mode"},
    {'m', "get_mode"},
    {'I', "set_split_freq"},
    {'i', "get_split_freq"},
    {'X', "set_split_mode"},
    {'x', "get_split_mode"},
    {'K', "set_split_freq_mode"},
    {'k', "get_split_freq_mode"},
    {'S', "set_split_vfo"},
    {'s', "get_split_vfo"},
    {'N', "set_ts"},
    {'n', "get_ts"},
    {'L', "set_level"},
    {'l', "get_level"},
    {'U', "set_func"},
    {'u', "get_func"},
    {'P', "set_parm"},
    {'p', "get_parm"},
    {'G', "vfo_op"},
    {'g', "scan"},
    {'A', "set_trn"},
    {'a', "get_trn"},
    {'R', "set_rptr_shift"},
    {'r', "get_rptr_shift"},
    {'O', "set_rptr_offs"},
    {'o', "get_rptr_offs"},
    {'C', "set_ctcss_tone"},
    {'c', "get_ctcss_tone"},
    {'D', "set_dcs_code"},
    {'d', "get_dcs_code"},
    {0, "set_ctcss_sql"},
    {0, "get_ctcss_sql"},
    {0, "set_dcs_sql"},
    {0, "get_dcs_sql"},
    {'V', "set_vfo"},
    {'v', "get_vfo"},
    {'T', "set_ptt"},
    {'t', "get_ptt"},
    {'E', "set_mem"},
    {'e', "get_mem"},
    {'H', "set_channel"},
    {'h', "get_channel"},
    {'B', "set_bank"},
    {'_', "get_info"},
    {'J', "set_rit"},
    {'j', "get_rit"},
    {'Z', "set_xit"},
    {'z', "get_xit"},
    {'Y', "set_ant"},
    {'y', "get_ant"},
    {0, "set_powerstat"},
    {0, "get_powerstat"},
    {0, "send_dtmf"},
    {0, "recv_dtmf"},
    {'*', "reset"},
    {'w', "send_cmd"},
    {'W', "send_cmd_rx"},
    {'b', "send_morse"},
    {0, "stop_morse"},
    {0, "wait_morse"},
    {0, "send_voice_mem"},
    {0, "get_dcd"},
    {0, "set_twiddle"},
    {0, "get_twiddle"},
    {0, "uplink"},
    {0, "set_cache"},
    {0, "get_cache"},
    {'2', "power2mW"},
    {'4', "mW2power"},
    {'1', "dump_caps"},
    {'3', "dump_conf"},
    {0, "dump_state"},
    {0, "chk_vfo"},
    {0, "set_vfo_opt"},
    {0, "get_vfo_info"},
    {0, "get_rig_info"},
    {0, "get_vfo_list"},
    {0, "get_modes"},
    {0, "get_clock"},
    {0, "set_clock"},
    {0, "halt"},
    {0, "pause"},
    {0, "password"},
    {0, "get_mode_bandwidths"},
    {0, "set_separator"},
    {0, "get_separator"},
    {0, "set_lock_mode"},
    {0, "get_lock_mode"},
    {0, "send_raw"},
    {0, "client_version"},
    {'q', "quit"},
    {'Q', "quit"},
};

// The command a word names, by letter or \\long_name; null for none of rigctld's.
const Command *commandOf(const QByteArray &word)
{
    for (const Command &command : Commands) {
        if (word.startsWith('\\') ? word.mid(1) == command.name
                                  : word.size() == 1 && word.front() == command.letter)
            return &command;
    }
    return nullptr;
}

// The command a line starts with, as written: \long_name or its letter, after the
// extended form's mark ('+', or a separator such as ';' '|' ',').
QByteArray firstCommand(const QByteArray &line)
{
    QByteArray text = line.trimmed();
    const bool marked = !text.isEmpty() && text.front() != '\\' && text.front() != '_'
                        && text.front() != '#' && text.front() != '?'
                        && std::ispunct(static_cast<unsigned char>(text.front()));
    if (marked)
        text = text.mid(1).trimmed();
    const qsizetype end = text.indexOf(' ');
    return end < 0 ? text : text.left(end);
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

bool RigctlSession::isRigctlCommand(const QByteArray &line)
{
    return printable(line) && commandOf(firstCommand(line)) != nullptr;
}

// A browser's request line ("POST / HTTP/1.1") or one of its header lines ("Host: ...").
bool RigctlSession::isHttp(const QByteArray &line)
{
    static const QRegularExpression request(QStringLiteral(R"(^[A-Z]+ \S+ HTTP/\d)"));
    static const QRegularExpression header(QStringLiteral(R"(^[-!#$%&'*+.^_`|~0-9A-Za-z]+:)"));
    const QString text = QString::fromLatin1(line);
    return request.match(text).hasMatch() || header.match(text).hasMatch();
}

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
    // A command is matched by its letter, or by its long name where it has no letter.
    if (const Command *known = commandOf(command)) {
        m_longName = known->name;
        command = known->letter ? QByteArray(1, known->letter) : "\\" + m_longName;
    } else {
        m_longName = command;
    }

    if (command == "\\chk_vfo")
        return say(m_extended ? answer("ChkVFO", {"0"}) : QByteArray("0\n"));
    if (command == "\\dump_state")
        return say(dumpState());
    // Hamlib's own clients ask before each mode change and leave the mode alone unless it is
    // unlocked; the radio has no such lock.
    if (command == "\\get_lock_mode")
        return say(answer("Locked", {"0"}));
    // rigctld says goodbye with a report, in either form; Hamlib's own client reads it.
    if (command == "q" || command == "Q") {
        Reply goodbye = say(report(0));
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
        // Hamlib's values: 0 receive; 1 transmit, 2 from the microphone, 3 with data (WSJT-X),
        // all three keyed the same way. Anything else keys nothing.
        if (state < 0 || state > 3)
            return say(report(InvalidArgument));
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
