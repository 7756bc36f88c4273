#include "flrig/flrigsession.h"

#include <array>

namespace {

using Target = Ft847Radio::Target;
using Value = Xmlrpc::Value;
using Reply = FlrigSession::Reply;
using Step = FlrigSession::Step;

// flrig's own names for the FT-847's modes, and each one's sideband.
struct FlrigMode
{
    const char *name;
    Ft847::Mode mode;
    char sideband;
};
constexpr std::array<FlrigMode, 10> Modes{{
    {"LSB", Ft847::Mode::Lsb, 'L'},
    {"USB", Ft847::Mode::Usb, 'U'},
    {"CW", Ft847::Mode::Cw, 'L'},
    {"CW-R", Ft847::Mode::Cwr, 'U'},
    {"AM", Ft847::Mode::Am, 'U'},
    {"FM", Ft847::Mode::Fm, 'U'},
    {"CW-N", Ft847::Mode::CwNarrow, 'L'},
    {"CW-NR", Ft847::Mode::CwrNarrow, 'U'},
    {"AM-N", Ft847::Mode::AmNarrow, 'U'},
    {"FM-N", Ft847::Mode::FmNarrow, 'U'},
}};

const FlrigMode &modeOf(Ft847::Mode mode)
{
    for (const FlrigMode &row : Modes)
        if (row.mode == mode)
            return row;
    return Modes[1];
}

const FlrigMode *modeNamed(const QString &name)
{
    for (const FlrigMode &row : Modes)
        if (name.trimmed().compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0)
            return &row;
    return nullptr;
}

// One call and what it works on.
struct Context
{
    const Xmlrpc::Call &call;
    const Ft847Radio &radio;
    FlrigSession &session;
    Target target; // the VFO the method names, or the client's own (A or B)
};

Step radioStep(std::uint8_t opcode, const QByteArray &payload = QByteArray(4, '\0'),
               Target target = Target::None, int answerSize = 0)
{
    return {Step::Kind::Radio, {opcode, payload, target, answerSize}};
}

Reply value(const Value &result)
{
    return {{}, [result](const QList<QByteArray> &) { return result; }, {}};
}

Reply refused(const Context &c, const QString &why)
{
    return {{}, {}, c.call.method + QStringLiteral(": ") + why};
}

// The radio's status read of the VFO, and a result made from it.
Reply readStatus(Target target, std::function<Value(const Ft847::Status &)> make)
{
    return {{radioStep(Ft847::Opcode::ReadFrequencyMode, QByteArray(4, '\0'), target,
                       Ft847::StatusSize)},
            [make](const QList<QByteArray> &answers) {
                const auto status = Ft847::decodeStatus(answers.value(0));
                return status ? make(*status) : Value::of(QString());
            },
            {}};
}

// A one-byte status read (S-meter or transmit meter) as flrig's 0-100.
Reply readMeter(std::uint8_t opcode)
{
    return {{radioStep(opcode, QByteArray(4, '\0'), Target::None, 1)},
            [](const QList<QByteArray> &answers) {
                const int dots = answers.value(0).isEmpty()
                                     ? 0
                                     : static_cast<std::uint8_t>(answers.value(0).at(0))
                                           & Ft847::MeterMask;
                return Value::of(dots * 100 / 31);
            },
            {}};
}

Reply getFrequency(Context &c)
{
    return readStatus(c.target, [](const Ft847::Status &s) {
        return Value::of(QString::number(quint64(s.hz)));
    });
}

Reply setFrequency(Context &c)
{
    const auto hz = c.call.params.value(0).number();
    if (!hz || !Ft847::tunable(*hz))
        return refused(c, QStringLiteral("not a frequency the FT-847 tunes"));
    Reply reply = value(Value());
    // Split is satellite mode: switched on before its transmit VFO is set.
    if (c.target == Target::Transmit && !c.radio.satellite())
        reply.steps << radioStep(Ft847::Opcode::SatelliteOn);
    reply.steps << radioStep(Ft847::Opcode::SetFrequency, Ft847::bcd(quint64(*hz) / 10), c.target);
    return reply;
}

Reply getMode(Context &c)
{
    return readStatus(c.target, [](const Ft847::Status &s) {
        return Value::of(QString::fromLatin1(modeOf(s.mode).name));
    });
}

Reply setMode(Context &c)
{
    const FlrigMode *mode = modeNamed(c.call.params.value(0).string());
    if (!mode)
        return refused(c, QStringLiteral("not a mode of the FT-847's (see rig.get_modes)"));
    Reply reply = value(Value());
    reply.steps << radioStep(Ft847::Opcode::SetMode, QByteArray(1, char(mode->mode)), c.target);
    return reply;
}

Reply getSideband(Context &c)
{
    return readStatus(c.target, [](const Ft847::Status &s) {
        return Value::of(QString(QLatin1Char(modeOf(s.mode).sideband)));
    });
}

// The FT-847's filter is its mode's: the normal and, where it has one, the narrow passband.
QList<Value> passbands(Ft847::Mode mode)
{
    const char *name = Ft847::modeInfo(mode).name;
    QList<Value> list;
    for (const bool narrow : {false, true})
        if (const Ft847::ModeInfo *info = Ft847::modeNamed(name, narrow))
            list << Value::of(QString::number(info->passband));
    return list;
}

Reply getBandwidth(Context &c)
{
    return readStatus(c.target, [](const Ft847::Status &s) {
        return Value::of(QList<Value>{Value::of(QString::number(Ft847::modeInfo(s.mode).passband)),
                                      Value::of(QString())});
    });
}

Reply getBandwidths(Context &c)
{
    return readStatus(c.target, [](const Ft847::Status &s) {
        return Value::of(
            QList<Value>{Value::of(QList<Value>{Value::of(QStringLiteral("Bandwidth"))}
                                   + passbands(s.mode))});
    });
}

// An index in rig.get_bws's list: 0 the mode's normal filter, 1 its narrow one.
Reply setBandwidth(Context &c)
{
    const auto index = c.call.params.value(0).number();
    const Ft847::Vfo vfo = c.radio.vfoFor(c.target);
    const char *name = Ft847::modeInfo(c.radio.known(vfo).mode).name;
    const Ft847::ModeInfo *info = index ? Ft847::modeNamed(name, *index >= 1) : nullptr;
    if (!info)
        return refused(c, QStringLiteral("no such bandwidth for this mode (see rig.get_bws)"));
    Reply reply = value(Value());
    reply.steps << radioStep(Ft847::Opcode::SetMode, QByteArray(1, char(info->mode)), c.target);
    return reply;
}

Reply getPtt(Context &c)
{
    return value(Value::of(c.radio.keyed() ? 1 : 0));
}

Reply setPtt(Context &c)
{
    const auto state = c.call.params.value(0).number();
    if (!state)
        return refused(c, QStringLiteral("PTT is 1 (transmit) or 0 (receive)"));
    Reply reply = value(Value());
    reply.steps << Step{*state != 0 ? Step::Kind::Key : Step::Kind::Release, {}};
    return reply;
}

Reply getSplit(Context &c)
{
    return value(Value::of(c.radio.satellite() ? 1 : 0));
}

Reply setSplit(Context &c)
{
    const auto state = c.call.params.value(0).number();
    if (!state)
        return refused(c, QStringLiteral("split is 1 (on) or 0 (off)"));
    Reply reply = value(Value());
    reply.steps << radioStep(*state != 0 ? Ft847::Opcode::SatelliteOn
                                         : Ft847::Opcode::SatelliteOff);
    return reply;
}

Reply getAB(Context &c)
{
    return value(Value::of(QString::fromLatin1(c.session.usesB() ? "B" : "A")));
}

Reply setAB(Context &c)
{
    const QString which = c.call.params.value(0).string().trimmed().toUpper();
    if (which != QLatin1String("A") && which != QLatin1String("B"))
        return refused(c, QStringLiteral("the VFO is A or B"));
    c.session.setUseB(which == QLatin1String("B"));
    return value(Value());
}

Reply getModes(Context &)
{
    QList<Value> names;
    for (const FlrigMode &row : Modes)
        names << Value::of(QString::fromLatin1(row.name));
    return value(Value::of(names));
}

Reply listMethods(Context &)
{
    QList<Value> names;
    for (const QString &name : FlrigSession::methods())
        names << Value::of(name);
    return value(Value::of(names));
}

enum class Vfo { Own, A, B };

// flrig's methods this radio has, in one table: the name, the VFO it is for, and its handler.
struct Method
{
    const char *name;
    Vfo vfo;
    Reply (*handle)(Context &);
};
const Method Methods[] = {
    {"system.listMethods", Vfo::Own, listMethods},
    {"main.get_version", Vfo::Own, [](Context &) { return value(Value::of(QStringLiteral("1.4.7"))); }},
    {"rig.get_xcvr", Vfo::Own, [](Context &) { return value(Value::of(QStringLiteral("FT-847"))); }},
    {"rig.get_modes", Vfo::Own, getModes},
    {"rig.get_AB", Vfo::Own, getAB},
    {"rig.set_AB", Vfo::Own, setAB},
    {"rig.get_vfo", Vfo::Own, getFrequency},
    {"rig.get_vfoA", Vfo::A, getFrequency},
    {"rig.get_vfoB", Vfo::B, getFrequency},
    {"rig.set_vfo", Vfo::Own, setFrequency},
    {"rig.set_frequency", Vfo::Own, setFrequency},
    {"main.set_frequency", Vfo::Own, setFrequency},
    {"rig.set_vfoA", Vfo::A, setFrequency},
    {"rig.set_vfoA_fast", Vfo::A, setFrequency},
    {"rig.set_vfoB", Vfo::B, setFrequency},
    {"rig.set_vfoB_fast", Vfo::B, setFrequency},
    {"rig.get_mode", Vfo::Own, getMode},
    {"rig.get_modeA", Vfo::A, getMode},
    {"rig.get_modeB", Vfo::B, getMode},
    {"rig.set_mode", Vfo::Own, setMode},
    {"rig.set_modeA", Vfo::A, setMode},
    {"rig.set_modeB", Vfo::B, setMode},
    {"rig.get_sideband", Vfo::Own, getSideband},
    {"rig.get_bw", Vfo::Own, getBandwidth},
    {"rig.get_bwA", Vfo::A, getBandwidth},
    {"rig.get_bwB", Vfo::B, getBandwidth},
    {"rig.get_bws", Vfo::Own, getBandwidths},
    {"rig.set_bw", Vfo::Own, setBandwidth},
    {"rig.get_split", Vfo::Own, getSplit},
    {"rig.set_split", Vfo::Own, setSplit},
    {"rig.get_ptt", Vfo::Own, getPtt},
    {"rig.set_ptt", Vfo::Own, setPtt},
    {"rig.set_ptt_fast", Vfo::Own, setPtt},
    {"rig.get_smeter", Vfo::Own, [](Context &) { return readMeter(Ft847::Opcode::ReadRxStatus); }},
    {"rig.get_pwrmeter", Vfo::Own, [](Context &) { return readMeter(Ft847::Opcode::ReadTxStatus); }},
    // The meters above are 0-100: what a client divides them by for a fraction.
    {"rig.get_pwrmeter_scale", Vfo::Own, [](Context &) { return value(Value::of(100)); }},
};

} // namespace

QStringList FlrigSession::methods()
{
    QStringList names;
    for (const Method &method : Methods)
        names << QString::fromLatin1(method.name);
    return names;
}

FlrigSession::Reply FlrigSession::call(const Xmlrpc::Call &call, const Ft847Radio &radio)
{
    for (const Method &method : Methods) {
        if (call.method != QLatin1String(method.name))
            continue;
        const Target target = method.vfo == Vfo::A   ? Target::Current
                              : method.vfo == Vfo::B ? Target::Transmit
                              : m_useB               ? Target::Transmit
                                                     : Target::Current;
        Context context{call, radio, *this, target};
        return method.handle(context);
    }
    // flrig's own words, which Hamlib's backend looks for.
    return {{}, {}, call.method + QStringLiteral(": unknown method name")};
}
