#pragma once

#include "ptt/ft847cat.h"

#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>

class CommControl;

// The radio's frequency and mode, one state for every Hamlib client, on the utility's own port:
// one CAT request at a time, in order. A write is done once its bytes are out; a read waits for
// the radio's answer for ReadTimeoutMs at most. A radio that does not answer (a cable that only
// keys) is said once on standard error; from then on a read is answered at once with what was
// last set or read, while the radio is still asked, so one that starts answering is heard.
class Ft847Rig : public QObject
{
    Q_OBJECT
public:
    // An FT-847 answers in a few milliseconds at 4800 baud; fldigi gives up after 200 ms.
    static constexpr int ReadTimeoutMs = 150;
    using Done = std::function<void(bool sent)>;
    using StatusDone = std::function<void(bool ok, const Ft847::Status &status)>;

    explicit Ft847Rig(CommControl &port, QObject *parent = nullptr);

    // `owner` tags a request, so that one whose client has gone can be dropped.
    void setFrequency(std::uint64_t hz, const void *owner, Done done);
    void setMode(Ft847::Mode mode, const void *owner, Done done);
    void readStatus(const void *owner, StatusDone done);
    // Drops the requests of `owner` that have not been carried out; none of its answers come.
    void drop(const void *owner);

    // What the radio was last told or last said.
    const Ft847::Status &known() const { return m_known; }

private:
    struct Job
    {
        QByteArray frame;
        const void *owner = nullptr;
        Done done;                     // a write
        StatusDone statusDone;         // a read
        std::function<void()> applied; // what a write changes in the known state
    };

    void add(Job job);
    void run();
    void answerArrived();
    void readTimedOut();
    void finishRead(bool ok);
    bool takeStatus();

    CommControl &m_port;
    std::deque<Job> m_jobs;
    Job m_reading; // the read waiting for the radio's answer, if any
    bool m_waiting = false;
    bool m_running = false;
    bool m_silent = false;
    QByteArray m_answer;
    QTimer m_readTimer;
    Ft847::Status m_known{14074000, Ft847::Mode::Usb};
};
