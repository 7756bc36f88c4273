#include "ft847/ft847radio.h"

#include "serial/commcontrol.h"
#include "serial/porterror.h"
#include "serial/portfailure.h"
#include "serial/resumenext.h"

#include <QLoggingCategory>
#include <algorithm>

Q_LOGGING_CATEGORY(lcRig, "zolvek.rig", QtInfoMsg)

namespace {

using Clock = std::chrono::steady_clock;

QString described(const Ft847::Status &status)
{
    return QStringLiteral("%1 MHz, mode code %2")
        .arg(double(status.hz) / 1e6, 0, 'f', 5)
        .arg(int(status.mode), 2, 16, QLatin1Char('0'));
}

bool readsFrequency(std::uint8_t opcode)
{
    return (opcode & 0x0f) == Ft847::Opcode::ReadFrequencyMode && (opcode >> 4) <= 2;
}

Ft847::Vfo vfoOf(std::uint8_t opcode)
{
    return Ft847::Vfo(opcode & 0x30);
}

std::uint8_t opcodeOf(const QByteArray &frame)
{
    return static_cast<std::uint8_t>(frame.at(4));
}

bool isRead(const Ft847Radio::Request &request)
{
    return request.answerSize > 0;
}

} // namespace

Ft847Radio::Ft847Radio(CommControl &port, QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    m_readTimer.setSingleShot(true);
    m_readTimer.setInterval(ReadTimeoutMs);
    connect(&m_readTimer, &QTimer::timeout, this, &Ft847Radio::readTimedOut);
    m_lateTimer.setSingleShot(true);
    connect(&m_lateTimer, &QTimer::timeout, this, [this] {
        // The radio has had its time: whatever it sends from now on is not that answer.
        m_lateSize = 0;
        m_port.Input();
        run();
    });
    m_paceTimer.setSingleShot(true);
    m_paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_paceTimer, &QTimer::timeout, this, &Ft847Radio::run);
    m_transmitTimer.setObjectName(QStringLiteral("TransmitTimer"));
    m_transmitTimer.setParent(this);
    m_transmitTimer.setSingleShot(true);
    connect(&m_transmitTimer, &QTimer::timeout, this, &Ft847Radio::transmitTooLong);
    connect(&m_port, &CommControl::inputArrived, this, &Ft847Radio::answerArrived);
    connect(&m_port, &CommControl::portOpened, this, &Ft847Radio::portOpened);
    connect(&m_port, &CommControl::portLost, this, [this] {
        // The lines went down with the port: nobody holds the key of a radio in receive.
        dropCatOn();
        m_holders.clear();
        m_transmitTimer.stop();
        Q_EMIT keyChanged(false);
    });
}

const Ft847::Status &Ft847Radio::known(Ft847::Vfo vfo) const
{
    return m_known[index(vfo)];
}

// --- The port ------------------------------------------------------------------------------

void Ft847Radio::openPort(ResumeNext &step)
{
    m_opening = true;
    if (step.condition([&] { return !m_port.PortOpen(); }))
        step([&] { m_port.setPortOpen(true); });
    step([&] { m_port.setDTREnable(false); });
    step([&] { m_port.setRTSEnable(false); });
    m_opening = false;
    run(); // the CAT-on frame that the open asked for
}

void Ft847Radio::closePort(ResumeNext &step)
{
    const bool was = !m_holders.isEmpty();
    m_fresh.reset();
    step([&] { m_port.setRTSEnable(false); });
    step([&] { m_port.setDTREnable(false); });
    step([&] { m_port.setPortOpen(false); });
    dropCatOn();
    m_holders.clear();
    m_transmitTimer.stop();
    if (was)
        Q_EMIT keyChanged(false);
}

// However the port came to be open (the window, a reconnect after a loss), its lines are low
// and the radio may not have its CAT interface on: it is turned on before anything else.
void Ft847Radio::portOpened()
{
    const bool wasKeyed = !m_holders.isEmpty();
    m_fresh.reset();
    m_holders.clear();
    m_transmitTimer.stop();
    if (wasKeyed)
        Q_EMIT keyChanged(false);
    // An answer awaited on the port that went is not coming; nothing is sent before CAT-on.
    const bool running = std::exchange(m_running, true);
    m_lateSize = 0;
    m_lateTimer.stop();
    if (m_waiting) {
        m_readTimer.stop();
        m_waiting = false;
        finishCurrent(IoError);
    }
    m_running = running;
    const Request catOn{Ft847::Opcode::CatOn, QByteArray(4, '\0'), Target::None, 0};
    const bool queued = std::any_of(m_writes.cbegin(), m_writes.cend(), [&](const Job &job) {
        return job.requests == QList<Request>{catOn};
    });
    if (!queued)
        m_writes.push_front(Job{{catOn}, nullptr, {}, 0});
    if (!m_opening)
        run();
}

// A CAT-on still waiting was for a port that has closed; the next open asks for its own.
void Ft847Radio::dropCatOn()
{
    std::erase_if(m_writes, [](const Job &job) {
        return job.owner == nullptr && job.requests.size() == 1
               && job.requests.first().opcode == Ft847::Opcode::CatOn;
    });
}

// --- Keying --------------------------------------------------------------------------------

bool Ft847Radio::keyed() const
{
    return m_port.PortOpen() && (m_port.RTSEnable() || m_port.DTREnable());
}

void Ft847Radio::setLines(bool high, ResumeNext &step)
{
    // The port object keeps line states while closed; a closed port keys nothing.
    if (high)
        step([&] {
            if (!m_port.PortOpen())
                throw PortError(PortError::PortNotOpen,
                                QStringLiteral("COM%1 is not open").arg(m_port.CommPort()));
        });
    m_fresh.reset(); // the radio's status reads change with its transmit
    step([&] { m_port.setRTSEnable(high); });
    step([&] { m_port.setDTREnable(high); });
}

void Ft847Radio::key(Owner who, ResumeNext &step, const QByteArray &modeFrame)
{
    const bool was = keyed();
    const qsizetype before = step.errors().size();
    // Both lines and the frame reach a network port in one packet.
    m_port.holdOutput();
    if (!was || !(m_port.RTSEnable() && m_port.DTREnable()))
        setLines(true, step);
    if (!modeFrame.isEmpty())
        send(modeFrame, step);
    step([&] { m_port.releaseOutput(); });
    if (step.errors().size() != before) {
        // Half a transmit is worse than none: not left keyed by a request that did not get
        // through, unless someone else holds the key.
        if (m_holders.isEmpty())
            setLines(false, step);
        return;
    }
    m_holders.insert(who);
    if (!was) {
        if (m_transmitTimeout > 0)
            m_transmitTimer.start(m_transmitTimeout * 1000);
        Q_EMIT keyChanged(true);
    }
}

bool Ft847Radio::keyFor(Owner who)
{
    ResumeNext step;
    key(who, step);
    if (step.failed()) {
        logPortFailures("keying", step.errors());
        Q_EMIT portFailed(step.errors());
        return false;
    }
    return true;
}

bool Ft847Radio::release(Owner who)
{
    if (!m_holders.remove(who) || !m_holders.isEmpty())
        return true;
    ResumeNext step;
    m_port.holdOutput();
    setLines(false, step);
    step([&] { m_port.releaseOutput(); });
    m_transmitTimer.stop();
    Q_EMIT keyChanged(false);
    if (!step.failed())
        return true;
    logPortFailures("releasing", step.errors());
    Q_EMIT portFailed(step.errors());
    return false;
}

void Ft847Radio::releaseAll(ResumeNext &step)
{
    const bool was = !m_holders.isEmpty() || keyed();
    m_holders.clear();
    m_transmitTimer.stop();
    // Both lines drop in one packet, as they rose.
    m_port.holdOutput();
    setLines(false, step);
    step([&] { m_port.releaseOutput(); });
    if (was)
        Q_EMIT keyChanged(false);
}

void Ft847Radio::setTransmitTimeout(int seconds)
{
    m_transmitTimeout = qBound(0, seconds, MaxTransmitTimeout);
    if (m_transmitTimeout == 0)
        m_transmitTimer.stop();
    else if (keyed() && !m_transmitTimer.isActive())
        m_transmitTimer.start(m_transmitTimeout * 1000);
}

// A host that crashed or hung with the radio keyed must not leave it transmitting. Whoever
// keyed it hears of it first (the window puts the radio in receive its own way).
void Ft847Radio::transmitTooLong()
{
    if (!keyed())
        return;
    qCWarning(lcRig, "transmit timed out after %d s: back to receive", m_transmitTimeout);
    Q_EMIT transmitTimedOut(m_transmitTimeout);
    if (keyed() || !m_holders.isEmpty()) {
        ResumeNext step;
        releaseAll(step);
        logPortFailures("ending a transmit", step.errors());
    }
}

// --- Frames --------------------------------------------------------------------------------

// Changes what the radio transmits on: its frequency, mode, satellite mode or repeater shift.
bool Ft847Radio::retunes(const Request &request) const
{
    using namespace Ft847::Opcode;
    const std::uint8_t op = request.opcode;
    // A frequency or mode for any VFO: a serial program names the satellite ones itself.
    const bool vfoSet = (op >> 4) <= 2 && ((op & 0x0f) == SetFrequency || (op & 0x0f) == SetMode);
    return vfoSet || op == SatelliteOn || op == SatelliteOff || op == ShiftMinus
           || op == ShiftPlus || op == Simplex || op == RepeaterOffset;
}

void Ft847Radio::send(const QByteArray &frame, ResumeNext &step)
{
    const Request request{opcodeOf(frame), frame.left(4), Target::None, 0};
    // The window's frames are the operator's: never refused, and failures are the window's to
    // tell when the frame leaves at once. A mode frame of its own still waiting its turn is
    // overtaken by the newer one: a flood of requests leaves one frame, the last.
    std::erase_if(m_writes, [&](const Job &job) {
        return job.owner == nullptr && job.done.isEmpty() && job.requests.size() == 1
               && job.requests.first().opcode == request.opcode
               && request.opcode == Ft847::Opcode::SetMode;
    });
    ResumeNext *previous = std::exchange(m_step, &step);
    add(Job{{request}, nullptr, {}, 0}, true);
    m_step = previous;
}

void Ft847Radio::perform(const QList<Request> &requests, Owner owner, Done done)
{
    if (requests.isEmpty())
        return done(0, {});
    const bool reads = std::any_of(requests.cbegin(), requests.cend(), isRead);
    // A program that does not hold the key does not retune a transmitter.
    if (keyed() && owner && !holds(owner)
        && std::any_of(requests.cbegin(), requests.cend(),
                       [this](const Request &r) { return retunes(r); })) {
        qCInfo(lcRig, "refused a change of frequency or mode while another program transmits");
        return done(Rejected, {});
    }
    if (requests.size() == 1 && reads) {
        if (freshAnswer(requests.first()))
            return done(0, m_fresh->answer);
        // The same read asked while one is queued or awaited: that one's answer serves both.
        if (m_hasCurrent && m_current.requests == requests && m_current.next <= 1) {
            m_current.done << Asker{owner, std::move(done)};
            return;
        }
        for (Job &job : m_reads)
            if (job.requests == requests) {
                job.done << Asker{owner, std::move(done)};
                return;
            }
    }
    add(Job{requests, owner, {Asker{owner, std::move(done)}}, 0}, !reads);
}

// `read` was answered just now, and nothing that could change the answer is queued or has left
// since.
bool Ft847Radio::freshAnswer(const Request &read) const
{
    if (!m_fresh || !(m_fresh->read == read) || !m_writes.empty()
        || Clock::now() - m_fresh->at >= std::chrono::milliseconds(FreshAnswerMs))
        return false;
    return !m_hasCurrent
           || std::all_of(m_current.requests.cbegin(), m_current.requests.cend(), isRead);
}

void Ft847Radio::add(Job job, bool urgent)
{
    (urgent ? m_writes : m_reads).push_back(std::move(job));
    run();
}

void Ft847Radio::drop(Owner owner)
{
    for (std::deque<Job> *jobs : {&m_writes, &m_reads}) {
        for (Job &job : *jobs)
            job.done.removeIf([owner](const Asker &asker) { return asker.owner == owner; });
        std::erase_if(*jobs,
                      [owner](const Job &job) { return job.owner == owner && job.done.isEmpty(); });
    }
    // The frame in hand finishes; its answer is still awaited, for the next in line.
    if (m_hasCurrent)
        m_current.done.removeIf([owner](const Asker &asker) { return asker.owner == owner; });
    release(owner);
}

// One frame at a time, in turn: writes first; reads once no late answer is awaited. A caller's
// answer may add the next request from inside this loop: it joins the queue. Each frame is made
// when its turn comes, so a satellite mode switched on just before counts.
void Ft847Radio::run()
{
    if (m_running)
        return;
    m_running = true;
    while (!m_waiting) {
        if (!m_hasCurrent) {
            if (m_writes.empty() && answeredFromRecord())
                continue;
            std::deque<Job> *from = !m_writes.empty()                     ? &m_writes
                                    : !m_reads.empty() && m_lateSize == 0 ? &m_reads
                                                                          : nullptr;
            if (!from)
                break;
            m_current = std::move(from->front());
            from->pop_front();
            m_hasCurrent = true;
        }
        const auto now = Clock::now();
        const auto due =
            m_lastFrame + std::chrono::milliseconds(Ft847::PacingMs + PacingMarginMs);
        if (m_anyFrame && now < due) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now);
            m_paceTimer.start(int(left.count()));
            break;
        }
        sendNext();
    }
    m_running = false;
}

// A radio that has stopped answering, asked already and not answered yet: a frequency read is
// told the record at once rather than wait for that answer.
bool Ft847Radio::answeredFromRecord()
{
    if (!m_silent || m_lateSize == 0 || m_reads.empty())
        return false;
    const Job &job = m_reads.front();
    if (job.requests.size() != 1 || !readsFrequency(job.requests.first().opcode))
        return false;
    m_current = std::move(m_reads.front());
    m_reads.pop_front();
    m_hasCurrent = true;
    const Request &read = m_current.requests.first();
    const Ft847::Vfo vfo =
        vfoOf(opcodeOf(Ft847::frame(read.opcode, read.payload, vfoFor(read.target))));
    finishCurrent(0, Ft847::encodeStatus(known(vfo)));
    return true;
}

// The current job's next frame goes out.
void Ft847Radio::sendNext()
{
    const Request request = m_current.requests.at(m_current.next++);
    if (request.opcode == Ft847::Opcode::CatOn && !m_port.PortOpen())
        return finishCurrent(0); // for a port that has closed meanwhile
    if (keyed() && m_current.owner && !holds(m_current.owner) && retunes(request)) {
        qCInfo(lcRig, "refused a change of frequency or mode while another program transmits");
        return finishCurrent(Rejected);
    }
    const QByteArray frame = Ft847::frame(request.opcode, request.payload, vfoFor(request.target));
    const bool read = isRead(request);
    if (read)
        m_port.Input(); // whatever came unasked is not this answer
    ResumeNext own;
    // The window's own frame, leaving while it waits, fails into the window's step.
    ResumeNext &step = m_step && m_current.done.isEmpty() ? *m_step : own;
    const qsizetype before = step.errors().size();
    step([&] { m_port.Output(frame); });
    m_lastFrame = Clock::now();
    m_anyFrame = true;
    if (step.errors().size() != before) {
        if (&step == &own) {
            logPortFailures(read ? "asking the radio" : "sending to the radio", step.errors());
            if (m_current.done.isEmpty())
                Q_EMIT portFailed(step.errors());
        }
        return finishCurrent(IoError);
    }
    if (!read) {
        m_fresh.reset();
        applied(frame);
        if (m_current.next == m_current.requests.size())
            finishCurrent(0);
        return;
    }
    if (m_silent && readsFrequency(opcodeOf(frame))) {
        // Asked all the same; an answer that comes later says the radio answers again.
        expectLate(request.answerSize);
        return finishCurrent(0, Ft847::encodeStatus(known(vfoOf(opcodeOf(frame)))));
    }
    m_readFrame = frame;
    m_waiting = true;
    m_answer.clear();
    m_readTimer.start();
}

void Ft847Radio::finishCurrent(int code, const QByteArray &answer)
{
    m_hasCurrent = false;
    Job job = std::exchange(m_current, {});
    for (const Asker &asker : std::as_const(job.done))
        if (asker.done)
            asker.done(code, code == 0 ? answer : QByteArray());
}

// What a frame that went out changed in the radio.
void Ft847Radio::applied(const QByteArray &frame)
{
    const std::uint8_t opcode = opcodeOf(frame);
    if (opcode == Ft847::Opcode::SatelliteOn || opcode == Ft847::Opcode::SatelliteOff) {
        m_satellite = opcode == Ft847::Opcode::SatelliteOn;
        return;
    }
    if ((opcode >> 4) > 2)
        return;
    Ft847::Status &vfo = m_known[index(vfoOf(opcode))];
    if ((opcode & 0x0f) == Ft847::Opcode::SetFrequency) {
        if (const auto hz = Ft847::frequencyFromBcd(frame.left(4)))
            vfo.hz = *hz;
    } else if ((opcode & 0x0f) == Ft847::Opcode::SetMode) {
        if (const auto mode = Ft847::modeFromCode(static_cast<std::uint8_t>(frame.at(0)))) {
            vfo.mode = *mode;
            m_modeKnown[index(vfoOf(opcode))] = true;
        }
    }
}

// --- Answers -------------------------------------------------------------------------------

// A read that timed out may still be answered: the radio answers in order, so the next bytes
// are that answer, and no other read goes out until they have come or the time is up.
void Ft847Radio::expectLate(int size)
{
    m_lateSize = size;
    m_late.clear();
    m_lateTimer.start(LateAnswerMs);
}

void Ft847Radio::answerArrived()
{
    QByteArray bytes = m_port.Input();
    if (m_lateSize > 0) {
        m_late += bytes;
        if (m_late.size() < m_lateSize)
            return;
        qCDebug(lcRig, "dropped a late answer (%s)", m_late.left(m_lateSize).toHex().constData());
        bytes = m_late.mid(m_lateSize);
        m_lateSize = 0;
        m_late.clear();
        m_lateTimer.stop();
        if (m_silent) {
            m_silent = false;
            qCInfo(lcRig, "the radio answers reads again");
        }
        if (!m_waiting) {
            run();
            return;
        }
    }
    if (!m_waiting)
        return; // nobody asked
    m_answer += bytes;
    const int size = m_current.requests.at(m_current.next - 1).answerSize;
    if (m_answer.size() < size)
        return;
    const QByteArray answer = m_answer.left(size);
    if (readsFrequency(opcodeOf(m_readFrame))) {
        const auto status = Ft847::decodeStatus(answer);
        if (!status)
            return finishRead(IoError, {}); // not the radio's answer: noise on the line
        const std::size_t vfo = index(vfoOf(opcodeOf(m_readFrame)));
        m_known[vfo] = *status;
        m_modeKnown[vfo] = true;
    }
    if (m_current.requests.size() == 1)
        m_fresh = Fresh{m_current.requests.first(), answer, Clock::now()};
    finishRead(0, answer);
}

void Ft847Radio::readTimedOut()
{
    if (!m_waiting)
        return;
    // A port that went away meanwhile is no silent radio: the client hears of the failure.
    if (!m_port.PortOpen())
        return finishRead(IoError, {});
    const int size = m_current.requests.at(m_current.next - 1).answerSize;
    const QByteArray partial = m_answer;
    expectLate(size);
    m_late = partial;
    if (!readsFrequency(opcodeOf(m_readFrame)))
        return finishRead(TimedOut, {});
    const Ft847::Status &last = known(vfoOf(opcodeOf(m_readFrame)));
    if (!m_silent) {
        m_silent = true;
        qCWarning(lcRig,
                  "the radio did not answer a read of its frequency and mode within %d ms (a "
                  "cable that only keys?): Hamlib clients are told what was last set or read, "
                  "now %s, until it answers",
                  ReadTimeoutMs, qUtf8Printable(described(last)));
    }
    finishRead(0, Ft847::encodeStatus(last));
}

void Ft847Radio::finishRead(int code, const QByteArray &answer)
{
    m_readTimer.stop();
    m_waiting = false;
    m_answer.clear();
    // The rest of a job after its read (none today) is not sent.
    finishCurrent(code, answer);
    run();
}
