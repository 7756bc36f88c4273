#pragma once

#include "ft847/ft847cat.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>

class CommControl;
class ResumeNext;

// The radio on the utility's one port, and the only thing that writes to it: every door (the
// window's click and host message, the Hamlib listener) asks it, none touches the port.
//
// Keying is by the lines, at once, never behind a frame. The key belongs to whoever keyed it:
// the radio stays keyed until every holder has released it, a release from someone who holds
// nothing changes nothing while another holds it, and releaseAll() (the window, the transmit
// time-out) always ends it.
//
// Frames leave one at a time, PacingMs apart at least, in one queue where writes (keys' mode
// frames, sets) go ahead of reads. A read waits for its answer for ReadTimeoutMs at most; an
// answer that comes later is recognised as that read's and dropped, and no other read is sent
// until it has come or LateAnswerMs have passed. The same read asked by several programs while
// one is queued or awaited is answered from that one, as is the same read asked again within
// FreshAnswerMs of its answer. While the radio is keyed, a change of frequency, mode or
// satellite mode from anyone but a holder is refused (Rejected).
//
// It keeps the record of the radio: each VFO's frequency and mode as last set or read, and
// satellite mode. A radio that does not answer (a cable that only keys) is said once on standard
// error; from then on a frequency read is answered at once with the record, while the radio is
// still asked, so one that starts answering is heard.
//
// Whatever opens the port, the radio's CAT interface is turned on first thing after.
class Ft847Radio : public QObject
{
    Q_OBJECT
public:
    // An FT-847 answers in a few tens of milliseconds at 4800 baud; fldigi gives up after 200 ms.
    static constexpr int ReadTimeoutMs = 150;
    // How long the answer to a read that timed out may still come, and is taken for its own.
    static constexpr int LateAnswerMs = 1000;
    static constexpr int MaxTransmitTimeout = 86400;
    // The same read asked again this soon after the radio answered it is answered with that
    // answer: asking anew and hearing back takes two frames' time on the wire (22.9 ms at 4800
    // baud), so no new read could tell anything younger. A write or a key change in between ends
    // it.
    static constexpr int FreshAnswerMs = 23;
    // Frames leave this much more than the radio's pacing apart: their way to the radio (a
    // network port, a USB adapter) brings one a millisecond or so late now and then.
    static constexpr int PacingMarginMs = 2;
    // Hamlib's codes for what went wrong.
    static constexpr int TimedOut = -5; // RIG_ETIMEOUT
    static constexpr int IoError = -6;  // RIG_EIO
    static constexpr int Rejected = -9; // RIG_ERJCTED: a transmitter is not retuned by another

    // Who asks: the window, or one client of a door.
    using Owner = const void *;

    enum class Target { None, Current, Transmit };
    struct Request
    {
        std::uint8_t opcode = 0; // the main VFO's
        QByteArray payload;      // the four bytes before the opcode
        Target target = Target::None;
        int answerSize = 0; // bytes the radio answers; 0 for a write
        friend bool operator==(const Request &, const Request &) = default;
    };
    // `code` is 0 or one of the codes above.
    using Done = std::function<void(int code, const QByteArray &answer)>;

    explicit Ft847Radio(CommControl &port, QObject *parent = nullptr);

    // The port: opened with both lines low and the radio's CAT interface turned on; closed with
    // the lines dropped first, so the radio is left in receive.
    void openPort(ResumeNext &step);
    void closePort(ResumeNext &step);

    // RTS then DTR up for `who`, and `modeFrame` (if any) as the next frame; with the lines in
    // one packet when it can leave at once.
    void key(Owner who, ResumeNext &step, const QByteArray &modeFrame = QByteArray());
    // `who` lets go: the lines drop once nobody holds the key. True when the radio ends as the
    // release leaves it (it was `who`'s last hold, or someone else still holds it).
    bool release(Owner who);
    // Every hold ends and the lines drop, RTS then DTR.
    void releaseAll(ResumeNext &step);
    // Keying for a door that answers its client: true when the radio is keyed by `who`.
    bool keyFor(Owner who);
    bool keyed() const;
    bool holds(Owner who) const { return m_holders.contains(who); }

    // A frame of the window's own (its transmit and receive mode frames) as the next write.
    void send(const QByteArray &frame, ResumeNext &step);
    // Requests sent in order, frame by frame: writes, the last of them perhaps a read, whose
    // answer `done` gets.
    void perform(const QList<Request> &requests, Owner owner, Done done);
    // `owner` has gone: its requests not yet sent are dropped, none of its answers come, and
    // whatever it keyed is released.
    void drop(Owner owner);

    // A transmit that lasts longer than `seconds` (0: never, the default) is ended, counted from
    // the change to transmit; a key request while keyed does not start the count again.
    void setTransmitTimeout(int seconds);

    bool satellite() const { return m_satellite; }
    Ft847::Vfo vfoFor(Target target) const { return vfoFor(target, m_satellite); }
    static Ft847::Vfo vfoFor(Target target, bool satellite)
    {
        if (!satellite || target == Target::None)
            return Ft847::Vfo::Main;
        return target == Target::Transmit ? Ft847::Vfo::SatTx : Ft847::Vfo::SatRx;
    }
    // What a VFO was last told or last said.
    const Ft847::Status &known(Ft847::Vfo vfo) const;
    // Its mode was set or read here.
    bool modeKnown(Ft847::Vfo vfo) const { return m_modeKnown[index(vfo)]; }

Q_SIGNALS:
    // The lines went up (the radio is keyed) or down.
    void keyChanged(bool keyed);
    // A transmit ran past the time-out; every hold is ended once this has been heard.
    void transmitTimedOut(int seconds);
    // Something asked for by a door that has no one to tell failed at the port.
    void portFailed(const QStringList &why);

private:
    struct Asker
    {
        Owner owner = nullptr;
        Done done;
    };
    struct Job
    {
        QList<Request> requests;
        Owner owner = nullptr;
        QList<Asker> done; // the first asker, and those of the same read joined to it
        qsizetype next = 0;
    };

    static std::size_t index(Ft847::Vfo vfo) { return std::size_t(vfo) >> 4; }
    bool retunes(const Request &request) const;
    void portOpened();
    void dropCatOn();
    void add(Job job, bool urgent);
    void run();
    bool answeredFromRecord();
    bool freshAnswer(const Request &read) const;
    void sendNext();
    void finishCurrent(int code, const QByteArray &answer = QByteArray());
    void applied(const QByteArray &frame);
    void expectLate(int size);
    void answerArrived();
    void readTimedOut();
    void finishRead(int code, const QByteArray &answer);
    void setLines(bool high, ResumeNext &step);
    void transmitTooLong();

    CommControl &m_port;
    // Writes first, then reads, each in the order asked.
    std::deque<Job> m_writes;
    std::deque<Job> m_reads;
    Job m_current; // the job whose frames are leaving
    bool m_hasCurrent = false;
    bool m_waiting = false; // the current job's read awaits its answer
    bool m_running = false;
    // The window's own step while its frame is written at once, for it to hear of a failure.
    ResumeNext *m_step = nullptr;
    QByteArray m_readFrame;
    QByteArray m_answer;
    QTimer m_readTimer;
    // A timed-out read's answer may still come: its size, and until when it is awaited.
    int m_lateSize = 0;
    QByteArray m_late;
    QTimer m_lateTimer;
    // Frames leave PacingMs apart.
    std::chrono::steady_clock::time_point m_lastFrame;
    bool m_anyFrame = false;
    QTimer m_paceTimer;
    // The last read the radio answered, while it may serve the same read again.
    struct Fresh
    {
        Request read;
        QByteArray answer;
        std::chrono::steady_clock::time_point at;
    };
    std::optional<Fresh> m_fresh;
    bool m_silent = false;
    bool m_opening = false;

    QSet<Owner> m_holders;
    QTimer m_transmitTimer;
    int m_transmitTimeout = 0;

    bool m_satellite = false;
    // The main, satellite receive and satellite transmit VFOs.
    std::array<bool, 3> m_modeKnown{};
    std::array<Ft847::Status, 3> m_known{
        {{14074000, Ft847::Mode::Usb}, {14074000, Ft847::Mode::Usb}, {14074000, Ft847::Mode::Usb}}};
};
