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

void Ft847Rig::setFrequency(std::uint64_t hz, const void *owner, Done done)
{
    add({Ft847::setFrequency(hz), owner, std::move(done), {}, [this, hz] {
             m_known.hz = hz / 10 * 10;
         }});
}

void Ft847Rig::setMode(Ft847::Mode mode, const void *owner, Done done)
{
    add({Ft847::setMode(mode), owner, std::move(done), {}, [this, mode] {
             m_known.mode = mode;
         }});
}

void Ft847Rig::readStatus(const void *owner, StatusDone done)
{
    add({Ft847::ReadStatus, owner, {}, std::move(done), {}});
}

void Ft847Rig::drop(const void *owner)
{
    std::erase_if(m_jobs, [owner](const Job &job) { return job.owner == owner; });
    if (m_waiting && m_reading.owner == owner)
        m_reading.statusDone = nullptr; // the answer is still awaited, for the next in line
}

void Ft847Rig::add(Job job)
{
    m_jobs.push_back(std::move(job));
    run();
}

// A caller's answer may add the next request from inside this loop: it joins the queue.
void Ft847Rig::run()
{
    if (m_running)
        return;
    m_running = true;
    while (!m_waiting && !m_jobs.empty()) {
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        const bool read = bool(job.statusDone);
        if (read)
            m_port.Input(); // whatever came unasked is not this answer
        ResumeNext step;
        step([&] { m_port.Output(job.frame); });
        logPortFailures(read ? "asking the radio" : "tuning the radio", step.errors());
        if (!read) {
            if (!step.failed() && job.applied)
                job.applied();
            if (job.done)
                job.done(!step.failed());
            continue;
        }
        if (step.failed()) {
            job.statusDone(false, m_known);
            continue;
        }
        if (m_silent) {
            // Asked all the same; an answer that comes later is taken when it comes.
            job.statusDone(true, m_known);
            continue;
        }
        m_reading = std::move(job);
        m_waiting = true;
        m_answer.clear();
        m_readTimer.start();
    }
    m_running = false;
}

// Five bytes in answer to the last read; a silent radio's late answer counts too.
bool Ft847Rig::takeStatus()
{
    m_answer += m_port.Input();
    if (m_answer.size() < Ft847::StatusSize)
        return false;
    const auto status = Ft847::decodeStatus(m_answer.right(Ft847::StatusSize));
    m_answer.clear();
    if (!status)
        return false;
    m_known = *status;
    if (m_silent) {
        m_silent = false;
        qCInfo(lcRig, "the radio answers reads again: %s", qUtf8Printable(described(m_known)));
    }
    return true;
}

void Ft847Rig::answerArrived()
{
    if (!m_waiting && !m_silent) {
        m_port.Input(); // nobody asked
        return;
    }
    if (takeStatus() && m_waiting)
        finishRead(true);
}

void Ft847Rig::readTimedOut()
{
    if (!m_waiting)
        return;
    // A port that went away meanwhile is no silent radio: the client hears of the failure.
    if (!m_port.PortOpen())
        return finishRead(false);
    if (!m_silent) {
        m_silent = true;
        qCWarning(lcRig,
                  "the radio did not answer a read of its frequency and mode within %d ms (a "
                  "cable that only keys?): Hamlib clients are told what was last set or read, "
                  "now %s, until it answers",
                  ReadTimeoutMs, qUtf8Printable(described(m_known)));
    }
    finishRead(true);
}

void Ft847Rig::finishRead(bool ok)
{
    m_readTimer.stop();
    m_waiting = false;
    Job job = std::exchange(m_reading, {});
    if (job.statusDone)
        job.statusDone(ok, m_known);
    run();
}
