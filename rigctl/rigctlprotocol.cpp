#include "rigctl/rigctlprotocol.h"

#include "ft847/ft847caps.h"

#include <QRegularExpression>
#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

using Reply = RigctlSession::Reply;
using Step = RigctlSession::Step;
using Answer = RigctlSession::Answer;
using Target = Ft847Radio::Target;
using Request = Ft847Radio::Request;

// What a command reads after its name, as rigctld's own table gives it.
enum Flag : int {
    In1 = 0x01,
    Out1 = 0x02,
    In2 = 0x04,
    Out2 = 0x08,
    In3 = 0x10,
    Out3 = 0x20,
    In4 = 0x40,
    Out4 = 0x80,
    Out5 = 0x100,
    InLine = 0x4000, // the first argument is the rest of the line
    NoVfo = 0x8000,  // no VFO first, even when every command names one
    In = In1 | In2 | In3 | In4,
    Out = Out1 | Out2 | Out3 | Out4 | Out5,
};

// \chk_vfo: answered in a form of its own.
constexpr unsigned char ChkVfo = 0xf0;

struct Call;
using Handler = Reply (*)(Call &call);

struct Command
{
    unsigned char cmd; // the letter, or rigctld's code for a command named only in full
    const char *name;
    Handler handler;
    int flags;
    const char *arg1 = nullptr;
    const char *arg2 = nullptr;
    const char *arg3 = nullptr;
    const char *arg4 = nullptr;
    const char *arg5 = nullptr;
};

struct Call
{
    const Command &command;
    QByteArray arg[3];
    Target target = Target::Current;
    bool targetKnown = true; // a VFO the radio has, where one was named
    const RigctlSession::Radio &radio;
    RigctlSession::State &state;
};

Reply report(int code)
{
    Reply reply;
    reply.output = [code](const QList<QByteArray> &, Answer &) {
        return code;
    };
    return reply;
}

Reply values(QList<std::pair<const char *, QByteArray>> named)
{
    Reply reply;
    reply.output = [named](const QList<QByteArray> &, Answer &answer) {
        for (const auto &[name, text] : named)
            answer.value(name, text);
        return 0;
    };
    return reply;
}

Reply raw(const QByteArray &text, int code = 0)
{
    Reply reply;
    reply.output = [text, code](const QList<QByteArray> &, Answer &answer) {
        answer.raw(text);
        return code;
    };
    return reply;
}

Step radioStep(std::uint8_t opcode, const QByteArray &payload = {}, Target target = Target::None,
               int answerSize = 0)
{
    Step step;
    step.request = {opcode, payload, target, answerSize};
    return step;
}

Step readStatus(Target target)
{
    return radioStep(Ft847::Opcode::ReadFrequencyMode, {}, target, Ft847::StatusSize);
}

// As rigctld reads numbers (scanf's %d and %lf): the number at the start, whatever follows;
// in the C locale, whatever the desktop's.
template <typename Number> std::optional<Number> leading(const QByteArray &text)
{
    const char *begin = text.constData();
    const char *end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    Number value{};
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop == begin)
        return std::nullopt;
    return value;
}

std::optional<long long> integer(const QByteArray &text)
{
    return leading<long long>(text);
}

std::optional<double> real(const QByteArray &text)
{
    return leading<double>(text);
}

// Hamlib's VFO names, and which of the radio's VFOs each stands for: the one in use (in
// satellite mode the satellite receive VFO) or the transmit one (the satellite transmit VFO).
struct VfoName
{
    const char *name;
    std::optional<Target> target;
};
constexpr VfoName VfoNames[] = {
    {"VFOA", Target::Current},    {"VFOB", Target::Transmit}, {"VFOC", std::nullopt},
    {"currVFO", Target::Current}, {"VFO", Target::Current},   {"MEM", std::nullopt},
    {"Main", Target::Current},    {"Sub", Target::Transmit},  {"TX", Target::Transmit},
    {"RX", Target::Current},      {"MainA", Target::Current}, {"MainB", std::nullopt},
    {"SubA", Target::Transmit},   {"SubB", std::nullopt},     {"None", std::nullopt},
};

const VfoName *vfoNamed(const QByteArray &word)
{
    for (const VfoName &vfo : VfoNames)
        if (word.compare(vfo.name, Qt::CaseInsensitive) == 0)
            return &vfo;
    return nullptr;
}

// The name a mode is given: the client's own (PKTUSB for the USB it asked for so) or Hamlib's.
QByteArray modeName(const RigctlSession::State &state, Ft847::Mode mode)
{
    if (state.setMode == mode)
        return state.setName;
    return Ft847::modeInfo(mode).name;
}

// A mode and passband as Hamlib's FT-847 backend takes them: 0 the normal filter, -1 the
// filter as it is, else the normal or narrow passband of that mode exactly. The radio has no
// data modes: PKTUSB, PKTLSB and PKTFM are USB, LSB and FM with the sound card on its data
// socket. Nothing when the radio need not be told.
struct ModeChoice
{
    int code = 0;
    std::optional<Ft847::Mode> mode;
};
ModeChoice chooseMode(Call &call, const QByteArray &nameText, const QByteArray &widthText,
                      std::optional<Ft847::Mode> known)
{
    QByteArray name = nameText.toUpper();
    const QByteArray asked = name;
    if (name.startsWith("PKT"))
        name = name.mid(3);
    const Ft847::ModeInfo *normal = Ft847::modeNamed(name, false);
    const auto width = integer(widthText);
    if (!normal || !width || (asked.startsWith("PKT") && name == "CW"))
        return {RigctlSession::InvalidArgument, std::nullopt};
    const Ft847::ModeInfo *narrow = Ft847::modeNamed(name, true);
    const Ft847::ModeInfo *chosen = nullptr;
    // The filter as it is, in the mode the radio is in: nothing to tell.
    if (*width == -1 && known && Ft847::modeInfo(*known).name == QByteArray(name)) {
        chosen = nullptr;
    } else if (*width == -1 || *width == 0 || *width == normal->passband) {
        chosen = normal;
    } else if (narrow && *width == narrow->passband) {
        chosen = narrow;
    } else {
        return {RigctlSession::InvalidArgument, std::nullopt};
    }
    call.state.setName = asked;
    call.state.setMode = chosen ? chosen->mode : known;
    if (!chosen)
        return {};
    return {0, chosen->mode};
}

// --- the commands ----------------------------------------------------------------------------

Reply notAvailable(Call &)
{
    return report(RigctlSession::NotAvailable);
}

Reply invalid(Call &)
{
    return report(RigctlSession::InvalidArgument);
}

Reply deprecated(Call &)
{
    return report(-18); // RIG_EDEPRECATED
}

Reply notImplemented(Call &)
{
    return report(-4); // RIG_ENIMPL
}

// In satellite mode the radio's VFOs are the satellite ones, and a VFO it lacks is refused.
bool vfoRefused(const Call &call)
{
    return !call.targetKnown && call.radio.satellite;
}

Reply setFrequencyOf(Call &call, Target target, const QByteArray &text)
{
    const auto hz = real(text);
    if (!hz || vfoRefused(call))
        return report(RigctlSession::InvalidArgument);
    // rigctld sends a frequency the radio cannot tune; the radio is never asked to.
    if (!Ft847::tunable(*hz))
        return report(RigctlSession::InvalidArgument);
    Reply reply = report(0);
    reply.steps << radioStep(Ft847::Opcode::SetFrequency, Ft847::bcd(std::uint64_t(*hz) / 10),
                             target);
    return reply;
}

Reply readOf(Target target, std::function<int(const Ft847::Status &, Answer &)> say)
{
    Reply reply;
    reply.steps << readStatus(target);
    reply.output = [say](const QList<QByteArray> &answers, Answer &answer) {
        const auto status = Ft847::decodeStatus(answers.value(0));
        if (!status)
            return -8; // RIG_EPROTO
        return say(*status, answer);
    };
    return reply;
}

Reply setFrequency(Call &call)
{
    return setFrequencyOf(call, call.target, call.arg[0]);
}

Reply getFrequency(Call &call)
{
    if (vfoRefused(call))
        return report(RigctlSession::InvalidArgument);
    return readOf(call.target, [](const Ft847::Status &status, Answer &answer) {
        answer.value("Frequency", QByteArray::number(quint64(status.hz)));
        return 0;
    });
}

// The set-mode step for a mode and passband; nothing, with `code` 0, when the radio need not
// be told.
std::optional<Step> modeStep(Call &call, Target target, const QByteArray &name,
                             const QByteArray &width, int *code)
{
    if (vfoRefused(call)) {
        *code = RigctlSession::InvalidArgument;
        return std::nullopt;
    }
    // Split frequency and mode switch satellite mode on first: the mode is then the satellite
    // transmit VFO's.
    const RigctlSession::Radio &radio = call.radio;
    const Ft847::Vfo vfo = target == Target::Transmit && !radio.satellite && call.command.cmd == 'K'
                               ? Ft847::Vfo::SatTx
                               : Ft847Radio::vfoFor(target, radio.satellite);
    const auto &state = radio.vfos[std::size_t(vfo) >> 4];
    const ModeChoice choice = chooseMode(call, name, width, state.mode);
    *code = choice.code;
    if (!choice.mode)
        return std::nullopt;
    return radioStep(Ft847::Opcode::SetMode, QByteArray(1, char(*choice.mode)), target);
}

Reply setModeOf(Call &call, Target target, const QByteArray &name, const QByteArray &width)
{
    int code = 0;
    const auto step = modeStep(call, target, name, width, &code);
    Reply reply = report(code);
    if (step)
        reply.steps << *step;
    return reply;
}

Reply setMode(Call &call)
{
    return setModeOf(call, call.target, call.arg[0], call.arg[1]);
}

Reply readMode(Call &call, Target target, const char *modeLabel, const char *passbandLabel)
{
    if (vfoRefused(call))
        return report(RigctlSession::InvalidArgument);
    const RigctlSession::State &state = call.state;
    return readOf(
        target, [&state, modeLabel, passbandLabel](const Ft847::Status &status, Answer &answer) {
            answer.value(modeLabel, modeName(state, status.mode));
            answer.value(passbandLabel, QByteArray::number(Ft847::modeInfo(status.mode).passband));
            return 0;
        });
}

Reply getMode(Call &call)
{
    return readMode(call, call.target, "Mode", "Passband");
}

// The FT-847's split is its satellite mode: it is switched on before the transmit VFO is set.
Reply setSplitFrequency(Call &call)
{
    Reply reply = setFrequencyOf(call, Target::Transmit, call.arg[0]);
    if (!reply.steps.isEmpty() && !call.radio.satellite) {
        reply.steps.prepend(radioStep(Ft847::Opcode::SatelliteOn));
        if (call.radio.splitVfo)
            *call.radio.splitVfo = "Sub";
    }
    return reply;
}

Reply getSplitFrequency(Call &)
{
    return readOf(Target::Transmit, [](const Ft847::Status &status, Answer &answer) {
        answer.value("TX Frequency", QByteArray::number(quint64(status.hz)));
        return 0;
    });
}

Reply setSplitMode(Call &call)
{
    return setModeOf(call, Target::Transmit, call.arg[0], call.arg[1]);
}

Reply getSplitMode(Call &call)
{
    return readMode(call, Target::Transmit, "TX Mode", "TX Passband");
}

Reply setSplitFrequencyMode(Call &call)
{
    Reply frequency = setSplitFrequency(call);
    if (frequency.steps.isEmpty())
        return frequency;
    int code = 0;
    const auto mode = modeStep(call, Target::Transmit, call.arg[1], call.arg[2], &code);
    if (code != 0)
        return report(code);
    if (mode)
        frequency.steps << *mode;
    return frequency;
}

Reply getSplitFrequencyMode(Call &call)
{
    const RigctlSession::State &state = call.state;
    return readOf(Target::Transmit, [&state](const Ft847::Status &status, Answer &answer) {
        answer.value("TX Frequency", QByteArray::number(quint64(status.hz)));
        answer.value("TX Mode", modeName(state, status.mode));
        answer.value("TX Passband", QByteArray::number(Ft847::modeInfo(status.mode).passband));
        return 0;
    });
}

Reply setSplitVfo(Call &call)
{
    const auto split = integer(call.arg[0]);
    const VfoName *tx = vfoNamed(call.arg[1]);
    if (!split || (*split != 0 && *split != 1) || !tx || tx->name == QByteArray("None"))
        return report(RigctlSession::InvalidArgument);
    Reply reply = report(0);
    const QByteArray txName = tx->target == Target::Current ? "Main" : "Sub";
    QByteArray *splitVfo = call.radio.splitVfo;
    // As it is already: nothing to tell the radio.
    if ((*split != 0) == call.radio.satellite && splitVfo && *splitVfo == txName)
        return reply;
    reply.steps << radioStep(*split ? Ft847::Opcode::SatelliteOn : Ft847::Opcode::SatelliteOff);
    if (splitVfo)
        *splitVfo = txName;
    return reply;
}

Reply getSplitVfo(Call &call)
{
    const QByteArray vfo = call.radio.splitVfo ? *call.radio.splitVfo : QByteArray("Sub");
    return values({{"Split", call.radio.satellite ? "1" : "0"}, {"TX VFO", vfo}});
}

Reply setPtt(Call &call)
{
    // Hamlib's values: 0 receive; 1 transmit, 2 from the microphone, 3 with data (WSJT-X), all
    // three keyed the same way, by the lines. Keying takes nothing else, a fraction included;
    // a release is whatever rigctld reads as 0 (scanf's %d: "0.0", "0x0", 4294967296), so a
    // client is never left transmitting by the way it wrote its 0.
    bool whole = false;
    const int state = call.arg[0].toInt(&whole);
    Step step;
    if (whole && state >= 1 && state <= 3)
        step.kind = Step::Kind::Key;
    else if (const auto read = integer(call.arg[0]);
             read && std::int32_t(std::uint32_t(*read)) == 0)
        step.kind = Step::Kind::Release;
    else
        return report(RigctlSession::InvalidArgument);
    Reply reply = report(0);
    reply.steps << step;
    return reply;
}

// The radio's own TX status says receive while it is keyed through its rear socket, as this
// utility keys it: the lines are what tell.
Reply getPtt(Call &call)
{
    return values({{"PTT", call.radio.keyed ? "1" : "0"}});
}

Reply statusByte(std::uint8_t opcode, std::function<void(int byte, Answer &)> say)
{
    Reply reply;
    reply.steps << radioStep(opcode, {}, Target::None, 1);
    reply.output = [say](const QList<QByteArray> &answers, Answer &answer) {
        if (answers.value(0).size() != 1)
            return -8; // RIG_EPROTO
        say(std::uint8_t(answers[0][0]), answer);
        return 0;
    };
    return reply;
}

Reply getDcd(Call &)
{
    return statusByte(Ft847::Opcode::ReadRxStatus, [](int byte, Answer &answer) {
        answer.value("DCD", (byte & Ft847::StatusFlag) ? "0" : "1"); // the squelch is open
    });
}

Reply getLevel(Call &call)
{
    const QByteArray level = call.arg[0];
    if (level == "?")
        return raw("RAWSTR ALC STRENGTH ");
    // rigctld writes a level's value without its name, in either form.
    if (level == "RAWSTR" || level == "STRENGTH")
        return statusByte(Ft847::Opcode::ReadRxStatus, [level](int byte, Answer &answer) {
            const int dots = byte & Ft847::MeterMask;
            const int value = level == "RAWSTR" ? dots : Ft847Caps::strengthOfDots(dots);
            answer.raw(QByteArray::number(value) + answer.separator());
        });
    if (level == "ALC")
        return statusByte(Ft847::Opcode::ReadTxStatus, [](int byte, Answer &answer) {
            const double value = double(byte & Ft847::MeterMask) / Ft847::MeterMask;
            answer.raw(QByteArray::number(value, 'f', 6) + answer.separator());
        });
    return report(RigctlSession::InvalidArgument);
}

Reply setLevel(Call &call)
{
    if (call.arg[0] == "?")
        return raw("BAND_SELECT \n");
    return report(RigctlSession::NotAvailable);
}

// TONE: CTCSS encode; TSQL: CTCSS encode and decode; either off: both off.
Reply setFunction(Call &call)
{
    const QByteArray function = call.arg[0];
    if (function == "?")
        return raw("TONE TSQL \n");
    const auto on = integer(call.arg[1]);
    if (function != "TONE" && function != "TSQL")
        return report(RigctlSession::NotAvailable);
    if (!on || vfoRefused(call))
        return report(RigctlSession::InvalidArgument);
    const std::uint8_t how = !*on                 ? Ft847::Tones::Off
                             : function == "TONE" ? Ft847::Tones::CtcssEncode
                                                  : Ft847::Tones::CtcssEncodeDecode;
    Reply reply = report(0);
    reply.steps << radioStep(Ft847::Opcode::ToneSwitch, QByteArray(1, char(how)), call.target);
    return reply;
}

Reply setCtcssTone(Call &call)
{
    const auto tone = integer(call.arg[0]);
    if (!tone || vfoRefused(call))
        return report(RigctlSession::InvalidArgument);
    for (const Ft847::CtcssTone &known : Ft847::CtcssTones) {
        if (known.decihertz != *tone)
            continue;
        Reply reply = report(0);
        reply.steps << radioStep(Ft847::Opcode::CtcssTone, QByteArray(1, char(known.code)),
                                 call.target);
        return reply;
    }
    return report(RigctlSession::InvalidArgument);
}

// The code's digits as the radio takes them: 754 is 07 54.
Reply setDcsSquelch(Call &call)
{
    const auto code = integer(call.arg[0]);
    if (!code || *code < 0 || *code > 9999 || vfoRefused(call))
        return report(RigctlSession::InvalidArgument);
    Reply reply = report(0);
    reply.steps << radioStep(Ft847::Opcode::DcsCode, Ft847::bcd(quint64(*code)).right(2),
                             call.target);
    return reply;
}

// Hamlib's FT-847 backend refuses every shift (it keeps these frames as incomplete ones); the
// radio takes them.
Reply setRepeaterShift(Call &call)
{
    const QByteArray shift = call.arg[0];
    const std::uint8_t opcode = shift == "+"   ? Ft847::Opcode::ShiftPlus
                                : shift == "-" ? Ft847::Opcode::ShiftMinus
                                               : Ft847::Opcode::Simplex;
    Reply reply = report(0);
    reply.steps << radioStep(opcode);
    return reply;
}

Reply setRepeaterOffset(Call &call)
{
    const auto hz = integer(call.arg[0]);
    if (!hz || *hz < 0 || *hz >= 1'000'000'000)
        return report(RigctlSession::InvalidArgument);
    Reply reply = report(0);
    reply.steps << radioStep(Ft847::Opcode::RepeaterOffset, Ft847::bcd(quint64(*hz) / 10));
    return reply;
}

Reply getInfo(Call &)
{
    return values({{"Info", "None"}});
}

Reply getPowerStatus(Call &)
{
    return values({{"Power Status", "1"}});
}

Reply waitMorse(Call &)
{
    return report(0);
}

Reply getTwiddle(Call &call)
{
    return values({{"Timeout (secs)", QByteArray::number(call.state.twiddleS)}});
}

Reply setTwiddle(Call &call)
{
    call.state.twiddleS = int(integer(call.arg[0]).value_or(0));
    return report(0);
}

Reply uplink(Call &)
{
    return report(0);
}

Reply getCache(Call &call)
{
    return values({{"Timeout (msecs)", QByteArray::number(call.state.cacheMs)}});
}

Reply setCache(Call &call)
{
    call.state.cacheMs = int(integer(call.arg[0]).value_or(0));
    return report(0);
}

Reply powerToMw(Call &call)
{
    const auto fraction = real(call.arg[0]);
    const auto hz = real(call.arg[1]);
    const QByteArray mode = call.arg[2].toUpper();
    if (!fraction || !hz || *fraction < 0 || *fraction > 1)
        return report(RigctlSession::InvalidArgument);
    const auto mw = Ft847Caps::powerToMw(*fraction, quint64(*hz), mode.constData());
    if (!mw)
        return report(RigctlSession::InvalidArgument);
    return values({{"Power mW", QByteArray::number(*mw)}});
}

Reply mwToPower(Call &call)
{
    const auto mw = real(call.arg[0]);
    const auto hz = real(call.arg[1]);
    const QByteArray mode = call.arg[2].toUpper();
    const auto full = hz ? Ft847Caps::powerToMw(1.0, quint64(*hz), mode.constData()) : std::nullopt;
    if (!mw || !full || *mw < 0)
        return report(RigctlSession::InvalidArgument);
    return values({{"Power [0.0..1.0]", QByteArray::number(std::min(1.0, *mw / *full), 'f', 6)}});
}

Reply dumpConf(Call &)
{
    return raw("model: FT-847\n");
}

Reply dumpState(Call &call)
{
    return raw(Ft847Caps::dumpState(call.state.checkedVfo));
}

Reply checkVfo(Call &call)
{
    call.state.checkedVfo = true;
    Reply reply;
    const bool option = call.state.vfoOption;
    reply.output = [option](const QList<QByteArray> &, Answer &answer) {
        // Always a line of its own, whatever the separator.
        answer.raw((answer.extended() ? QByteArray("ChkVFO: ") : QByteArray())
                   + (option ? "1" : "0") + '\n');
        return 0;
    };
    return reply;
}

// rigctld takes the switch and says the radio has no such option.
Reply setVfoOption(Call &call)
{
    call.state.vfoOption = integer(call.arg[0]).value_or(0) != 0;
    return report(RigctlSession::NotAvailable);
}

Reply getVfoInfo(Call &call)
{
    const VfoName *vfo = vfoNamed(call.arg[0]);
    if (!vfo || !vfo->target)
        return report(RigctlSession::InvalidArgument);
    const bool split = call.radio.satellite;
    return readOf(*vfo->target, [split](const Ft847::Status &status, Answer &answer) {
        const Ft847::ModeInfo &mode = Ft847::modeInfo(status.mode);
        answer.value("Freq", QByteArray::number(quint64(status.hz)));
        answer.value("Mode", mode.name);
        answer.value("Width", QByteArray::number(mode.passband));
        answer.value("Split", split ? "1" : "0");
        answer.value("SatMode", "0");
        return 0;
    });
}

Reply getVfoList(Call &)
{
    return values({{"VFOs", QByteArray("Sub Main ") + '\0'}});
}

// The radio has no clock: the zero time, and no such function.
Reply getClock(Call &)
{
    return raw("0000-00-00T00:00:00.000+00:00\n", -4);
}

Reply pause(Call &call)
{
    const auto seconds = integer(call.arg[0]);
    if (!seconds || *seconds < 0 || *seconds > 600)
        return report(RigctlSession::InvalidArgument);
    Reply reply = report(0);
    Step wait;
    wait.kind = Step::Kind::Wait;
    wait.waitMs = int(*seconds * 1000);
    reply.steps << wait;
    return reply;
}

Reply getModeBandwidths(Call &call)
{
    const QByteArray name = call.arg[0].toUpper();
    const Ft847::ModeInfo *normal = Ft847::modeNamed(name, false);
    if (!normal)
        return report(RigctlSession::InvalidArgument);
    const Ft847::ModeInfo *narrow = Ft847::modeNamed(name, true);
    return raw("Mode=" + name + "\nNormal=" + QByteArray::number(normal->passband) + "Hz\nNarrow="
               + QByteArray::number(narrow ? narrow->passband : 0) + "Hz\nWide=0Hz");
}

Reply getSeparator(Call &)
{
    return values({{"Separator", "0xa"}});
}

Reply setSeparator(Call &)
{
    return report(0);
}

Reply getLockMode(Call &call)
{
    return values({{"Locked", call.state.locked ? "1" : "0"}});
}

Reply setLockMode(Call &call)
{
    call.state.locked = integer(call.arg[0]).value_or(0) != 0;
    return report(0);
}

Reply clientVersion(Call &call)
{
    return values({{"Version", call.arg[0]}});
}

Reply setChannel(Call &)
{
    return report(-2); // RIG_ECONF: no channel can be described
}

// rigctld's table (its test_list), with what the FT-847 does for each.
const Command Commands[] = {
    {'F', "set_freq", setFrequency, In1, "Frequency"},
    {'f', "get_freq", getFrequency, Out, "Frequency"},
    {'M', "set_mode", setMode, In, "Mode", "Passband"},
    {'m', "get_mode", getMode, Out, "Mode", "Passband"},
    {'I', "set_split_freq", setSplitFrequency, In, "TX Frequency"},
    {'i', "get_split_freq", getSplitFrequency, Out, "TX Frequency"},
    {'X', "set_split_mode", setSplitMode, In, "TX Mode", "TX Passband"},
    {'x', "get_split_mode", getSplitMode, Out, "TX Mode", "TX Passband"},
    {'K', "set_split_freq_mode", setSplitFrequencyMode, In, "TX Frequency", "TX Mode",
     "TX Passband"},
    {'k', "get_split_freq_mode", getSplitFrequencyMode, Out, "TX Frequency", "TX Mode",
     "TX Passband"},
    {'S', "set_split_vfo", setSplitVfo, In, "Split", "TX VFO"},
    {'s', "get_split_vfo", getSplitVfo, Out, "Split", "TX VFO"},
    {'N', "set_ts", notAvailable, In, "Tuning Step"},
    {'n', "get_ts", notAvailable, Out, "Tuning Step"},
    {'L', "set_level", setLevel, In, "Level", "Level Value"},
    {'l', "get_level", getLevel, In1 | Out2, "Level", "Level Value"},
    {'U', "set_func", setFunction, In, "Func", "Func Status"},
    {'u', "get_func", invalid, In1 | Out2, "Func", "Func Status"},
    {'P', "set_parm", invalid, In | NoVfo, "Parm", "Parm Value"},
    {'p', "get_parm", invalid, In1 | Out2 | NoVfo, "Parm", "Parm Value"},
    {'G', "vfo_op", notAvailable, In, "Mem/VFO Op"},
    {'g', "scan", notAvailable, In, "Scan Fct", "Scan Channel"},
    {'A', "set_trn", deprecated, In | NoVfo, "Transceive"},
    {'a', "get_trn", deprecated, Out | NoVfo, "Transceive"},
    {'R', "set_rptr_shift", setRepeaterShift, In, "Rptr Shift"},
    {'r', "get_rptr_shift", notAvailable, Out, "Rptr Shift"},
    {'O', "set_rptr_offs", setRepeaterOffset, In, "Rptr Offset"},
    {'o', "get_rptr_offs", notAvailable, Out, "Rptr Offset"},
    {'C', "set_ctcss_tone", setCtcssTone, In, "CTCSS Tone"},
    {'c', "get_ctcss_tone", notAvailable, Out, "CTCSS Tone"},
    {'D', "set_dcs_code", notAvailable, In, "DCS Code"},
    {'d', "get_dcs_code", notAvailable, Out, "DCS Code"},
    {0x90, "set_ctcss_sql", setCtcssTone, In, "CTCSS Sql"},
    {0x91, "get_ctcss_sql", notAvailable, Out, "CTCSS Sql"},
    {0x92, "set_dcs_sql", setDcsSquelch, In, "DCS Sql"},
    {0x93, "get_dcs_sql", notAvailable, Out, "DCS Sql"},
    {'V', "set_vfo", notAvailable, In | NoVfo, "VFO"},
    {'v', "get_vfo", notAvailable, NoVfo | Out, "VFO"},
    {'T', "set_ptt", setPtt, In, "PTT"},
    {'t', "get_ptt", getPtt, Out, "PTT"},
    {'E', "set_mem", notAvailable, In, "Memory#"},
    {'e', "get_mem", notAvailable, Out, "Memory#"},
    {'H', "set_channel", setChannel, In | NoVfo, "Channel"},
    {'h', "get_channel", notAvailable, In | NoVfo, "Channel", "Read Only"},
    {'B', "set_bank", notAvailable, In, "Bank"},
    {'_', "get_info", getInfo, Out | NoVfo, "Info"},
    {'J', "set_rit", notAvailable, In, "RIT"},
    {'j', "get_rit", notAvailable, Out, "RIT"},
    {'Z', "set_xit", notAvailable, In, "XIT"},
    {'z', "get_xit", notAvailable, Out, "XIT"},
    {'Y', "set_ant", notAvailable, In, "Antenna", "Option"},
    {'y', "get_ant", notAvailable, In1 | Out2 | NoVfo, "AntCurr", "Option", "AntTx", "AntRx"},
    {0x87, "set_powerstat", notAvailable, In | NoVfo, "Power Status"},
    {0x88, "get_powerstat", getPowerStatus, Out | NoVfo, "Power Status"},
    {0x89, "send_dtmf", notAvailable, In, "Digits"},
    {0x8a, "recv_dtmf", notAvailable, Out, "Digits"},
    {'*', "reset", notAvailable, In, "Reset"},
    // Raw bytes would reach the radio behind the listener's back.
    {'w', "send_cmd", notAvailable, In1 | InLine | Out2 | NoVfo, "Cmd", "Reply"},
    {'W', "send_cmd_rx", notAvailable, In | Out2 | NoVfo, "Cmd", "Reply"},
    {'b', "send_morse", notAvailable, In | NoVfo | InLine, "Morse"},
    {0xbb, "stop_morse", notAvailable, 0},
    {0xbc, "wait_morse", waitMorse, 0},
    {0x94, "send_voice_mem", notAvailable, In, "Voice Mem#"},
    {0x8b, "get_dcd", getDcd, Out, "DCD"},
    {0x8d, "set_twiddle", setTwiddle, In | NoVfo, "Timeout (secs)"},
    {0x8e, "get_twiddle", getTwiddle, Out | NoVfo, "Timeout (secs)"},
    {0x97, "uplink", uplink, In | NoVfo, "1=Sub, 2=Main"},
    {0x95, "set_cache", setCache, In | NoVfo, "Timeout (msecs)"},
    {0x96, "get_cache", getCache, Out | NoVfo, "Timeout (msecs)"},
    {'2', "power2mW", powerToMw, In1 | In2 | In3 | Out1 | NoVfo, "Power [0.0..1.0]", "Frequency",
     "Mode", "Power mW"},
    {'4', "mW2power", mwToPower, In1 | In2 | In3 | Out1 | NoVfo, "Pwr mW", "Freq", "Mode",
     "Power [0.0..1.0]"},
    {'1', "dump_caps", notAvailable, NoVfo},
    {'3', "dump_conf", dumpConf, NoVfo},
    {0x8f, "dump_state", dumpState, Out | NoVfo},
    {ChkVfo, "chk_vfo", checkVfo, NoVfo, "ChkVFO"},
    {0xf2, "set_vfo_opt", setVfoOption, NoVfo | In, "Status"},
    {0xf3, "get_vfo_info", getVfoInfo, In1 | NoVfo | Out5, "VFO", "Freq", "Mode", "Width", "Split"},
    {0xf5, "get_rig_info", notAvailable, NoVfo | Out, "RigInfo"},
    {0xf4, "get_vfo_list", getVfoList, Out | NoVfo, "VFOs"},
    {0xf6, "get_modes", notAvailable, Out | NoVfo, "Modes"},
    {0xf9, "get_clock", getClock, NoVfo},
    {0xf8, "set_clock", notImplemented, In | NoVfo, "YYYYMMDDHHMMSS.sss+ZZ"},
    // The utility goes on for its host and its other clients.
    {0xf1, "halt", notAvailable, NoVfo},
    {0x8c, "pause", pause, In, "Seconds"},
    {0x98, "password", invalid, In | NoVfo, "Password"},
    {0xf7, "get_mode_bandwidths", getModeBandwidths, In | NoVfo, "Mode"},
    {0xa0, "set_separator", setSeparator, In | NoVfo, "Separator"},
    {0xa1, "get_separator", getSeparator, NoVfo, "Separator"},
    {0xa2, "set_lock_mode", setLockMode, In | NoVfo, "Locked"},
    {0xa3, "get_lock_mode", getLockMode, NoVfo, "Locked"},
    {0xa4, "send_raw", notAvailable, NoVfo | In1 | In2 | Out3, "Terminator", "Command",
     "Send raw answer"},
    {0xa5, "client_version", clientVersion, NoVfo | In1, "Version", "Client version"},
};

const Command *commandCoded(int code)
{
    for (const Command &command : Commands)
        if (command.cmd == code)
            return &command;
    return nullptr;
}

const Command *commandNamed(const QByteArray &name)
{
    for (const Command &command : Commands)
        if (name == command.name)
            return &command;
    return nullptr;
}

// The command a line starts with, as written: \long_name or its letter, after the
// extended form's mark ('+', or a separator such as ';' '|' ',').
QByteArray firstCommand(const QByteArray &line)
{
    QByteArray text = line.trimmed();
    if (text.startsWith('+'))
        text = text.mid(1);
    const bool marked = !text.isEmpty() && text.front() != '\\' && text.front() != '_'
                        && text.front() != '#' && text.front() != '(' && text.front() != ')'
                        && std::ispunct(static_cast<unsigned char>(text.front()));
    // Commands end at white space, or at the separator a marked line chose (";f;m").
    const char separator = marked ? text.front() : ' ';
    if (marked)
        text = text.mid(1).trimmed();
    qsizetype end = 0;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != separator)
        ++end;
    return text.left(end);
}

bool printable(const QByteArray &line)
{
    for (const char c : line)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t')
            || static_cast<unsigned char>(c) > 0x7e)
            return false;
    return true;
}

} // namespace

RigctlSession::Answer::Answer(bool extended, char separator)
    : m_extended(extended)
    , m_separator(separator)
{
}

void RigctlSession::Answer::value(const char *name, const QByteArray &text)
{
    if (m_extended)
        m_text += QByteArray(name) + ": ";
    m_text += text + m_separator;
}

bool RigctlSession::isRigctlCommand(const QByteArray &line)
{
    if (!printable(line))
        return false;
    const QByteArray first = firstCommand(line);
    if (first.startsWith('\\'))
        return commandNamed(first.mid(1)) != nullptr;
    return first.size() == 1
           && (first == "q" || first == "Q" || commandCoded(static_cast<unsigned char>(first[0])));
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
        const bool afterCr = std::exchange(m_afterCr, c == '\r');
        if (c == '\n' && afterCr)
            continue; // the LF of a CRLF
        if (c == '\n' || c == '\r') {
            lines << (m_discarding ? QByteArray(MaxLine + 1, Refused) : m_partial);
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

void RigctlSession::take(const QByteArray &line)
{
    if (m_read > 4096) {
        m_input.remove(0, m_read);
        m_read = 0;
    }
    // A line that is not text, or was too long to keep, is refused whole: none of it reaches
    // the radio.
    m_input += (printable(line) && line.size() <= MaxLine ? line : QByteArray(1, Refused)) + '\n';
}

int RigctlSession::unreadLines() const
{
    return int(m_input.mid(m_read).count('\n'));
}

std::optional<int> RigctlSession::peek(qsizetype at) const
{
    if (at >= m_input.size())
        return std::nullopt;
    return static_cast<unsigned char>(m_input[at]);
}

// scanf's %s: blanks skipped (line ends too), then a word.
std::optional<QByteArray> RigctlSession::word(qsizetype &at) const
{
    qsizetype i = at;
    while (i < m_input.size() && std::isspace(static_cast<unsigned char>(m_input[i])))
        ++i;
    if (i >= m_input.size())
        return std::nullopt;
    const qsizetype start = i;
    while (i < m_input.size() && !std::isspace(static_cast<unsigned char>(m_input[i])))
        ++i;
    at = i;
    return m_input.mid(start, i - start);
}

// fgets: the rest of the line, its end included.
std::optional<QByteArray> RigctlSession::restOfLine(qsizetype &at) const
{
    const qsizetype end = m_input.indexOf('\n', at);
    if (end < 0)
        return std::nullopt;
    const QByteArray line = m_input.mid(at, end - at + 1);
    at = end + 1;
    return line;
}

std::optional<RigctlSession::Reply> RigctlSession::next(const Radio &radio)
{
    qsizetype at = m_read;
    bool extended = m_extended;
    char separator = m_separator;
    bool lastWasReturn = m_lastWasReturn;
    const auto get = [&]() -> std::optional<int> {
        const auto c = peek(at);
        if (c)
            ++at;
        return c;
    };
    const auto commit = [&] {
        m_read = at;
        m_extended = extended;
        m_separator = separator;
        m_lastWasReturn = lastWasReturn;
    };
    const Reply silent;

    int code = 0;
    for (;;) {
        auto c = get();
        if (!c)
            return std::nullopt;
        if (*c == '+') {
            extended = true;
            if (!(c = get()))
                return std::nullopt;
        }
        if (*c != '\\' && *c != '_' && *c != '#' && *c != '(' && *c != ')' && std::ispunct(*c)) {
            extended = true;
            separator = char(*c);
            if (!(c = get()))
                return std::nullopt;
        }
        if (*c == '\\') {
            // One character, then a word: the long name.
            const auto first = get();
            if (!first)
                return std::nullopt;
            const auto rest = word(at);
            if (!rest)
                return std::nullopt;
            const Command *named = commandNamed(QByteArray(1, char(*first)) + *rest);
            code = named ? named->cmd : 0;
            break;
        }
        if (*c == '\n' || *c == '\r') {
            if (lastWasReturn) {
                commit();
                return silent;
            }
            lastWasReturn = true;
            continue;
        }
        code = *c;
        break;
    }
    lastWasReturn = false;

    if (code == Refused) {
        if (!restOfLine(at))
            return std::nullopt;
        commit();
        return report(InvalidArgument);
    }
    if (code == '#') { // a comment, to the end of its line
        if (!restOfLine(at))
            return std::nullopt;
        commit();
        return silent;
    }
    if (code == 'q' || code == 'Q') {
        commit();
        Reply goodbye;
        goodbye.close = true;
        goodbye.output = [](const QList<QByteArray> &, Answer &) {
            return 0;
        };
        return goodbye;
    }
    const Command *command = commandCoded(code);
    if (!command) { // rigctld answers nothing to what it does not know
        commit();
        return silent;
    }

    Call call{*command, {}, Target::Current, true, radio, m_state};
    QByteArray vfoWord;
    if (!(command->flags & NoVfo) && m_state.vfoOption) {
        if (!get())
            return std::nullopt;
        const auto vfo = word(at);
        if (!vfo)
            return std::nullopt;
        const VfoName *named = vfoNamed(*vfo);
        vfoWord = named ? QByteArray(named->name) : *vfo;
        call.targetKnown = named && named->target;
        call.target = call.targetKnown ? *named->target : Target::Current;
    }
    int given = 0;
    if ((command->flags & InLine) && (command->flags & In1) && command->arg1) {
        auto line = restOfLine(at);
        if (line && *line == "\n")
            line = restOfLine(at);
        if (!line)
            return std::nullopt;
        line->chop(1);
        call.arg[0] = (code == 'b' || !line->startsWith(' ')) ? *line : line->mid(1);
        given = 1;
    } else if ((command->flags & In1) && command->arg1) {
        if (!get())
            return std::nullopt;
        const auto arg = word(at);
        if (!arg)
            return std::nullopt;
        call.arg[0] = *arg;
        given = 1;
    }
    const bool more = given && !call.arg[0].startsWith('?');
    if (more && (command->flags & In2) && command->arg2) {
        if (!get())
            return std::nullopt;
        const auto arg = word(at);
        if (!arg)
            return std::nullopt;
        call.arg[1] = *arg;
        given = 2;
    }
    if (more && (command->flags & In3) && command->arg3) {
        const auto arg = word(at);
        if (!arg)
            return std::nullopt;
        call.arg[2] = *arg;
        given = 3;
    }
    commit();

    Reply reply = command->handler(call);
    reply.command = command->cmd;
    reply.reportsOutput = command->flags & Out;
    if (m_extended && command->cmd != ChkVfo) {
        reply.header = QByteArray(command->name) + ':';
        if (m_state.vfoOption)
            reply.header += ' ' + (vfoWord.isEmpty() ? QByteArray("currVFO") : vfoWord);
        for (int i = 0; i < given; ++i)
            reply.header += ' ' + call.arg[i];
        reply.header += m_separator;
    }
    return reply;
}

QByteArray RigctlSession::finish(const Reply &reply, int code, const QList<QByteArray> &answers)
{
    if (!reply.output)
        return {};
    if (reply.close)
        return "RPRT 0\n"; // rigctld says goodbye with a report, in either form
    Answer answer(m_extended, m_separator);
    answer.raw(reply.header);
    if (code == 0)
        code = reply.output(answers, answer);
    QByteArray text = answer.text();
    const auto reset = [this] {
        m_extended = false;
        m_separator = '\n';
    };
    if (code != 0) {
        text += "RPRT " + QByteArray::number(code) + '\n';
        reset();
    } else if (reply.command != ChkVfo && (m_extended || !reply.reportsOutput)) {
        text += "RPRT 0\n";
        reset();
    }
    if (m_separator != '\n')
        text += '\n';
    return text;
}
