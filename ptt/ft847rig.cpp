#include "ptt/ft847rig.h"

#include "serial/commcontrol.h"
#include "serial/portfailure.h"
#include "serial/resumenext.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcRig, "zolvek.rig", QtInfoMsg)

namespace {

QString described(const Ft847::Status &status)
{
    return QStringLiteral("%1 MHz, mode code %2")
        .arg(double(status.hz) / 1e6, 0, 'f', 5)
        .arg(int(status.mode), 2, 16, QLatin1Char('0'));
}

bool readsFrequency(std::uint8_t opcode)
{
    return (opcode & 0x0f) == Ft847::Opcode::ReadFrequencyMode;
}

Ft847::Vfo vfoOf(std::uint8_t opcode)
{
    return Ft847::Vfo(opcode & 0x30);
}

std::uint8_t opcodeOf(const QByteArray &frame)
{
    return static_cast<std::uint8_t>(frame.at(4));
}

} // namespace

Ft847Rig::Ft847Rig(CommControl &port, QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    m_readTimer.setSingleShot(true);
    m_readTimer.setInterval(ReadTimeoutMs);
    connect(&m_readTimer, &QTimer::timeout, this, &Ft847Rig::readTimedOut);
    connect(&m_port, &CommControl::inputArrived, this, &Ft847Rig::answerArrived);
}

Ft847::Status &Ft847Rig::knownOf(Ft847::Vfo vfo)
{
    return m_known[std::size_t(vfo) >> 4];
}

const Ft847::Status &Ft847Rig::known(Ft847::Vfo vfo) const
{
    return m_known[std::size_t(vfo) >> 4];
}

void Ft847Rig::perform(const QList<Request> &requests, const void *owner, Done done)
{
    if (requests.isEmpty())
        return done(0, {});
    add({requests, owner, std::move(done)});
}

void Ft847Rig::drop(const void *owner)
{
    std::erase_if(m_jobs, [owner](const Job &job) { return job.owner == owner; });
    if (m_waiting && m_reading.owner == owner)
        m_reading.done = nullptr; // the answer is still awaited, for the next in line
}

void Ft847Rig::add(Job job)
{
    m_jobs.push_back(std::move(job));
    run();
}

// What a frame that went out changed in the radio.
void Ft847Rig::applied(const QByteArray &frame)
{
    const std::uint8_t opcode = opcodeOf(frame);
    if (opcode == Ft847::Opcode::SatelliteOn || opcode == Ft847::Opcode::SatelliteOff) {
        m_satellite = opcode == Ft847::Opcode::SatelliteOn;
        return;
    }
    if ((opcode >> 4) > 2)
        return;
    Ft847::Status &vfo = knownOf(vfoOf(opcode));
    if ((opcode & 0x0f) == Ft847::Opcode::SetFrequency) {
        if (const auto hz = Ft847::frequencyFromBcd(frame.left(4)))
            vfo.hz = *hz;
    } else if ((opcode & 0x0f) == Ft847::Opcode::SetMode) {
        if (const auto mode = Ft847::modeFromCode(static_cast<std::uint8_t>(frame.at(0)))) {
            vfo.mode = *mode;
            m_modeKnown[std::size_t(vfoOf(opcode)) >> 4] = true;
        }
    }
}

// A caller's answer may add the next request from inside this loop: it joins the queue. The
// frame is made when its turn comes, so a satellite mode switched on just before counts.
void Ft847Rig::run()
{
    if (m_running)
        return;
    m_running = true;
    while (!m_waiting && !m_jobs.empty()) {
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        // The frames of one batch leave together, each for the VFO the ones before it chose.
        QList<QByteArray> frames;
        QByteArray bytes;
        bool satellite = m_satellite;
        for (const Request &request : std::as_const(job.requests)) {
            frames << Ft847::frame(request.opcode, request.payload,
                                   vfoFor(request.target, satellite));
            bytes += frames.last();
            if (const std::uint8_t opcode = opcodeOf(frames.last());
                opcode == Ft847::Opcode::SatelliteOn || opcode == Ft847::Opcode::SatelliteOff)
                satellite = opcode == Ft847::Opcode::SatelliteOn;
        }
        const bool read = job.requests.last().answerSize > 0;
        if (read)
            m_port.Input(); // whatever came unasked is not this answer
        ResumeNext step;
        step([&] { m_port.Output(bytes); });
        logPortFailures(read ? "asking the radio" : "sending to the radio", step.errors());
        if (step.failed()) {
            if (job.done)
                job.done(IoError, {});
            continue;
        }
        for (qsizetype i = 0; i < frames.size() - (read ? 1 : 0); ++i)
            applied(frames[i]);
        if (!read) {
            if (job.done)
                job.done(0, {});
            continue;
        }
        const QByteArray &frame = frames.last();
        if (m_silent && readsFrequency(opcodeOf(frame))) {
            // Asked all the same; an answer that comes later is taken when it comes.
            if (job.done)
                job.done(0, Ft847::encodeStatus(known(vfoOf(opcodeOf(frame)))));
            continue;
        }
        m_reading = std::move(job);
        m_readFrame = frame;
        m_waiting = true;
        m_answer.clear();
        m_readTimer.start();
    }
    m_running = false;
}

// The answer to the read in hand; a silent radio's late answer to a frequency read counts too.
bool Ft847Rig::takeAnswer()
{
    m_answer += m_port.Input();
    const int size = m_waiting ? m_reading.requests.last().answerSize : Ft847::StatusSize;
    if (m_answer.size() < size)
        return false;
    const QByteArray answer = m_answer.right(size);
    if (!readsFrequency(opcodeOf(m_readFrame))) {
        m_answer = answer;
        return true;
    }
    const auto status = Ft847::decodeStatus(answer);
    m_answer.clear();
    if (!status)
        return false;
    knownOf(vfoOf(opcodeOf(m_readFrame))) = *status;
    m_modeKnown[std::size_t(vfoOf(opcodeOf(m_readFrame))) >> 4] = true;
    m_answer = answer;
    if (m_silent) {
        m_silent = false;
        qCInfo(lcRig, "the radio answers reads again: %s", qUtf8Printable(described(*status)));
    }
    return true;
}

void Ft847Rig::answerArrived()
{
    if (!m_waiting && !m_silent) {
        m_port.Input(); // nobody asked
        return;
    }
    if (takeAnswer() && m_waiting)
        finishRead(0);
    else if (!m_waiting)
        m_answer.clear();
}

void Ft847Rig::readTimedOut()
{
    if (!m_waiting)
        return;
    // A port that went away meanwhile is no silent radio: the client hears of the failure.
    if (!m_port.PortOpen())
        return finishRead(IoError);
    if (!readsFrequency(opcodeOf(m_readFrame)))
        return finishRead(TimedOut);
    const Ft847::Status &last = known(vfoOf(opcodeOf(m_readFrame)));
    if (!m_silent) {
        m_silent = true;
        qCWarning(lcRig,
                  "the radio did not answer a read of its frequency and mode within %d ms (a "
                  "cable that only keys?): Hamlib clients are told what was last set or read, "
                  "now %s, until it answers",
                  ReadTimeoutMs, qUtf8Printable(described(last)));
    }
    m_answer = Ft847::encodeStatus(last);
    finishRead(0);
}

void Ft847Rig::finishRead(int code)
{
    m_readTimer.stop();
    m_waiting = false;
    Job job = std::exchange(m_reading, {});
    const QByteArray answer = std::exchange(m_answer, {});
    if (job.done)
        job.done(code, code == 0 ? answer : QByteArray());
    run();
}
