#include "ft847/ft847caps.h"

#include <QList>
#include <QString>
#include <cstring>
#include <utility>

namespace Ft847Caps {

namespace {

constexpr std::pair<const char *, std::uint64_t> ModeBits[] = {
    {"AM", 0x1}, {"CW", 0x2}, {"USB", 0x4}, {"LSB", 0x8}, {"FM", 0x20}, {"CWR", 0x80}};
constexpr std::uint64_t MainAndSub = 0x6000000; // RIG_VFO_MAIN | RIG_VFO_SUB
constexpr int Antenna1 = 0x1;

// Hamlib's bits for what the backend gets and sets.
constexpr std::uint64_t SetFunctions = 0x30;         // TONE, TSQL
constexpr std::uint64_t GetLevels = 0x64000000;      // RAWSTR, ALC, STRENGTH
constexpr std::uint64_t SetLevels = 0x2000000000000; // BAND_SELECT
constexpr int TargetableVfo = 0x1b;                  // frequency, mode, tone, function
constexpr int PttByCat = 0x1;
constexpr int TimeoutMs = 1000;

std::uint64_t allModes(bool transmit)
{
    std::uint64_t bits = 0;
    for (const auto &[name, bit] : ModeBits)
        if (!transmit || std::strcmp(name, "CWR") != 0)
            bits |= bit;
    return bits;
}

// The filters in Hamlib's order: each mode's normal passband, then its narrow one, the modes
// sharing one passband on one line.
QList<std::pair<std::uint64_t, int>> filters()
{
    QList<std::pair<std::uint64_t, int>> rows;
    QList<std::pair<int, bool>> keys;
    for (const Ft847::ModeInfo &normal : Ft847::Modes) {
        if (normal.narrow)
            continue;
        for (const bool narrow : {false, true}) {
            const Ft847::ModeInfo *info = Ft847::modeNamed(normal.name, narrow);
            if (!info)
                continue;
            const std::pair<int, bool> key{info->passband, narrow};
            const qsizetype at = keys.indexOf(key);
            if (at < 0) {
                keys << key;
                rows << std::pair<std::uint64_t, int>{modeBit(info->name), info->passband};
            } else {
                rows[at].first |= modeBit(info->name);
            }
        }
    }
    return rows;
}

QByteArray hex(std::uint64_t value)
{
    return "0x" + QByteArray::number(qulonglong(value), 16);
}

QByteArray hz(std::uint64_t value)
{
    return QByteArray::number(double(value), 'f', 6);
}

} // namespace

std::uint64_t modeBit(const char *name)
{
    for (const auto &[known, bit] : ModeBits)
        if (std::strcmp(known, name) == 0)
            return bit;
    return 0;
}

const std::array<TransmitRange, 26> &transmitRanges()
{
    // Hamlib's band plan for region 1: 160-10 m at 100 W (AM 25 W), 6 m the same, 4 m, 2 m and
    // 70 cm at 50 W (AM 12.5 W); 5 W or 1 W the least.
    static const std::array<TransmitRange, 26> ranges = [] {
        constexpr std::pair<std::uint64_t, std::uint64_t> hf[] = {
            {1810000, 2000000},   {3500000, 3800000},   {7000000, 7200000},
            {10100000, 10150000}, {14000000, 14350000}, {18068000, 18168000},
            {21000000, 21450000}, {24890000, 24990000}, {28000000, 29700000}};
        constexpr std::pair<std::uint64_t, std::uint64_t> vhf[] = {
            {70000000, 70500000}, {144000000, 146000000}, {430000000, 440000000}};
        std::array<TransmitRange, 26> list{};
        std::size_t n = 0;
        for (const bool am : {false, true})
            for (const auto &[low, high] : hf)
                list[n++] = {low, high, am, am ? 1000 : 5000, am ? 25000 : 100000};
        for (const bool am : {false, true})
            list[n++] = {50000000, 54000000, am, am ? 1000 : 5000, am ? 25000 : 100000};
        for (const auto &[low, high] : vhf)
            for (const bool am : {false, true})
                list[n++] = {low, high, am, 1000, am ? 12500 : 50000};
        return list;
    }();
    return ranges;
}

const std::array<std::uint16_t, 104> &dcsCodes()
{
    static constexpr std::array<std::uint16_t, 104> codes{
        23,  25,  26,  31,  32,  36,  43,  47,  51,  53,  54,  65,  71,  72,  73,  74,  114, 115,
        116, 122, 125, 131, 132, 134, 143, 145, 152, 155, 156, 162, 165, 172, 174, 205, 212, 223,
        225, 226, 243, 244, 245, 246, 251, 252, 255, 261, 263, 265, 266, 271, 274, 306, 311, 315,
        325, 331, 332, 343, 346, 351, 356, 364, 365, 371, 411, 412, 413, 423, 431, 432, 445, 446,
        452, 454, 455, 462, 464, 465, 466, 503, 506, 516, 523, 526, 532, 546, 565, 606, 612, 624,
        627, 631, 632, 654, 662, 664, 703, 712, 723, 731, 732, 734, 743, 754};
    return codes;
}

int strengthOfDots(int dots)
{
    if (dots < 4) // S1 and below
        return -54 + dots * 2;
    if (dots < 20) // S1 to S9
        return -48 + (dots - 3) * 3;
    return (dots - 19) * 5; // over S9
}

std::optional<int> powerToMw(double fraction, std::uint64_t hz, const char *mode)
{
    const std::uint64_t bit = modeBit(mode);
    for (const TransmitRange &range : transmitRanges()) {
        const bool modeFits = range.amOnly ? bit == modeBit("AM") : (bit & allModes(true)) != 0;
        if (hz >= range.low && hz <= range.high && modeFits)
            return int(fraction * range.highPowerMw);
    }
    return std::nullopt;
}

namespace {

QByteArray describe(bool full)
{
    QByteArray text = "1\n" + QByteArray::number(RigModel) + "\n0\n";
    for (const Ft847::Range &range : Ft847::ReceiveRanges)
        text += hz(range.low) + ' ' + hz(range.high) + ' ' + hex(allModes(false)) + " -1 -1 "
                + hex(MainAndSub) + ' ' + hex(Antenna1) + '\n';
    text += "0 0 0 0 0 0 0\n";
    for (const TransmitRange &range : transmitRanges())
        text += hz(range.low) + ' ' + hz(range.high) + ' '
                + hex(range.amOnly ? modeBit("AM") : allModes(true)) + ' '
                + QByteArray::number(range.lowPowerMw) + ' ' + QByteArray::number(range.highPowerMw)
                + ' ' + hex(MainAndSub) + ' ' + hex(Antenna1) + '\n';
    text += "0 0 0 0 0 0 0\n";
    // Tuning steps: SSB and CW by 1, 10 and 100 Hz; AM and FM by 10 and 100 Hz.
    const std::uint64_t ssbCw = modeBit("USB") | modeBit("LSB") | modeBit("CW") | modeBit("CWR");
    const std::uint64_t amFm = modeBit("AM") | modeBit("FM");
    for (const int step : {1, 10, 100})
        text += hex(ssbCw) + ' ' + QByteArray::number(step) + '\n';
    for (const int step : {10, 100})
        text += hex(amFm) + ' ' + QByteArray::number(step) + '\n';
    text += "0 0\n";
    for (const auto &[modes, passband] : filters())
        text += hex(modes) + ' ' + QByteArray::number(passband) + '\n';
    text += "0 0\n";
    text += "0\n0\n0\n0\n"; // no RIT, XIT or IF shift; no announces
    text += "\n\n";         // no preamplifier or attenuator by CAT
    text += hex(0) + '\n' + hex(SetFunctions) + '\n' + hex(GetLevels) + '\n' + hex(SetLevels) + '\n'
            + hex(0) + '\n' + hex(0) + '\n';
    if (!full)
        return text;
    text += "vfo_ops=0x0\nptt_type=" + hex(PttByCat) + "\ntargetable_vfo=" + hex(TargetableVfo)
            + "\nhas_set_vfo=0\nhas_get_vfo=0\nhas_set_freq=1\nhas_get_freq=1\n"
              "has_set_conf=0\nhas_get_conf=0\nhas_power2mW=0\nhas_mW2power=0\ntimeout="
            + QByteArray::number(TimeoutMs) + "\nrig_model=" + QByteArray::number(RigModel)
            + "\nrigctld_version=zolvek-ptt " ZOLVEK_VERSION "\nagc_levels=\nctcss_list=";
    for (const Ft847::CtcssTone &tone : Ft847::CtcssTones)
        text += ' ' + QByteArray::number(tone.decihertz / 10.0, 'f', 1);
    text += "\ndcs_list=";
    for (const std::uint16_t code : dcsCodes())
        text += ' ' + QByteArray::number(code);
    text += "\ndone\n";
    return text;
}

} // namespace

// Made once: clients may ask for it many times a second.
QByteArray dumpState(bool full)
{
    static const QByteArray brief = describe(false);
    static const QByteArray all = describe(true);
    return full ? all : brief;
}

} // namespace Ft847Caps
