#include "catport/catport.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcCatPort, "zolvek.catport", QtInfoMsg)

namespace {

std::uint8_t opcodeOf(const QByteArray &frame)
{
    return static_cast<std::uint8_t>(frame.at(4));
}

// Bytes the radio answers to a frame: a frequency read five, a status read one.
int answerSize(std::uint8_t opcode)
{
    using namespace Ft847::Opcode;
    if (opcode == ReadRxStatus || opcode == ReadTxStatus)
        return 1;
    if ((opcode & 0x0f) == ReadFrequencyMode && (opcode >> 4) <= 2)
        return Ft847::StatusSize;
    return 0;
}

} // namespace

CatPort::CatPort(Ft847Radio &radio, QObject *parent)
    : QObject(parent)
    , m_radio(radio)
{
    m_clock.start();
    connect(&m_device, &CatDevice::received, this, &CatPort::received);
    connect(&m_device, &CatDevice::programLeft, this, &CatPort::left);
}

// Whatever the program keyed is given back with the door.
CatPort::~CatPort()
{
    m_radio.drop(this);
}

bool CatPort::open(const QString &path, QString *why)
{
    close();
    return m_device.open(path, why);
}

void CatPort::close()
{
    m_device.close();
    left();
}

void CatPort::left()
{
    m_frames.clear();
    m_pending.clear();
    m_busy = false;
    m_toldFlood = false;
    m_radio.drop(this);
}

void CatPort::received(const QByteArray &bytes)
{
    const qint64 before = m_frames.skipped();
    for (const QByteArray &frame : m_frames.feed(bytes, m_clock.elapsed())) {
        // Faster than the radio takes frames for long: the radio would miss these too.
        if (m_pending.size() >= MaxPending) {
            if (!std::exchange(m_toldFlood, true))
                qCWarning(lcCatPort, "a program on the serial FT-847 port writes frames faster "
                                     "than the radio takes them; the excess is dropped");
            continue;
        }
        m_pending.push_back(frame);
    }
    if (m_frames.skipped() != before)
        qCDebug(lcCatPort, "skipped %lld bytes that were no FT-847 frame",
                static_cast<long long>(m_frames.skipped() - before));
    next();
}

// One frame at a time, in the order the program wrote them, as the radio takes them.
void CatPort::next()
{
    using namespace Ft847::Opcode;
    if (m_looping)
        return;
    m_looping = true;
    while (!m_busy && !m_pending.empty()) {
        const QByteArray frame = m_pending.front();
        m_pending.pop_front();
        const std::uint8_t opcode = opcodeOf(frame);
        if (opcode == CatOff)
            continue; // a program leaving does not take the radio from the others
        if (opcode == PttOn) {
            m_radio.keyFor(this);
            continue;
        }
        if (opcode == PttOff) {
            m_radio.release(this);
            continue;
        }
        m_busy = true;
        const Ft847Radio::Request request{opcode, frame.left(4), Ft847Radio::Target::None,
                                          answerSize(opcode)};
        m_radio.perform({request}, this, [this, frame](int code, const QByteArray &answer) {
            done(frame, code, answer);
        });
    }
    m_looping = false;
}

void CatPort::done(const QByteArray &frame, int code, const QByteArray &answer)
{
    m_busy = false;
    if (code == 0 && !answer.isEmpty()) {
        QByteArray bytes = answer;
        // Keyed by the lines, the radio itself says receive; the program that keyed by a frame
        // is told what it did.
        if (opcodeOf(frame) == Ft847::Opcode::ReadTxStatus && m_radio.keyed())
            bytes[0] = char(static_cast<std::uint8_t>(bytes.at(0)) & ~Ft847::StatusFlag);
        m_device.write(bytes);
    }
    next();
}
