#pragma once

#include "ptt/ft847cat.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <array>
#include <deque>
#include <functional>

class CommControl;

// The radio, one state for every Hamlib client, on the utility's own port: one CAT request at a
// time, in order. A write is done once its bytes are out; a read waits for the radio's answer for
// ReadTimeoutMs at most. A radio that does not answer (a cable that only keys) is said once on
// standard error; from then on a frequency read is answered at once with what was last set or
// read, while the radio is still asked, so one that starts answering is heard.
//
// A request for a VFO names it as Hamlib's clients do, and the VFO is chosen when the request is
// sent: in satellite mode the current VFO is the satellite receive one and the transmit VFO the
// satellite transmit one, otherwise both are the main VFO.
class Ft847Rig : public QObject
{
    Q_OBJECT
public:
    // An FT-847 answers in a few milliseconds at 4800 baud; fldigi gives up after 200 ms.
    static constexpr int ReadTimeoutMs = 150;
    // Hamlib's codes for what went wrong.
    static constexpr int TimedOut = -5; // RIG_ETIMEOUT
    static constexpr int IoError = -6;  // RIG_EIO

    enum class Target { None, Current, Transmit };
    struct Request
    {
        std::uint8_t opcode = 0; // the main VFO's
        QByteArray payload;      // the four bytes before the opcode
        Target target = Target::None;
        int answerSize = 0; // bytes the radio answers; 0 for a write
    };
    // `code` is 0 or one of the codes above.
    using Done = std::function<void(int code, const QByteArray &answer)>;

    explicit Ft847Rig(CommControl &port, QObject *parent = nullptr);

    // Requests sent together, in one write: writes, the last of them perhaps a read, whose
    // answer `done` gets. `owner` tags them, so that those whose client has gone can be dropped.
    void perform(const QList<Request> &requests, const void *owner, Done done);
    // Drops the requests of `owner` that have not been carried out; none of its answers come.
    void drop(const void *owner);

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
    // Its mode was set or read here, and nothing else has set it since.
    bool modeKnown(Ft847::Vfo vfo) const { return m_modeKnown[std::size_t(vfo) >> 4]; }
    // Something besides these requests set the main VFO's mode.
    void forgetMode() { m_modeKnown[0] = false; }

private:
    struct Job
    {
        QList<Request> requests;
        const void *owner = nullptr;
        Done done;
    };

    void add(Job job);
    void run();
    void applied(const QByteArray &frame);
    void answerArrived();
    void readTimedOut();
    void finishRead(int code);
    bool takeAnswer();
    Ft847::Status &knownOf(Ft847::Vfo vfo);

    CommControl &m_port;
    std::deque<Job> m_jobs;
    Job m_reading; // the read waiting for the radio's answer, if any
    QByteArray m_readFrame;
    bool m_waiting = false;
    bool m_running = false;
    bool m_silent = false;
    bool m_satellite = false;
    QByteArray m_answer;
    QTimer m_readTimer;
    // The main, satellite receive and satellite transmit VFOs.
    std::array<bool, 3> m_modeKnown{};
    std::array<Ft847::Status, 3> m_known{
        {{14074000, Ft847::Mode::Usb}, {14074000, Ft847::Mode::Usb}, {14074000, Ft847::Mode::Usb}}};
};
