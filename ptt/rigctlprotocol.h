#pragma once

#include "ptt/ft847cat.h"

#include <QByteArray>
#include <QList>
#include <cstdint>

// Hamlib's NET rigctl protocol, the one rigctld serves and "Hamlib NET rigctl" clients (WSJT-X,
// fldigi, JS8Call...) speak, without sockets: one newline-ended command a line, one answer each.
// A command either is answered at once or asks something of the radio (keying, frequency,
// mode); its answer is then made from what the radio did.
class RigctlSession
{
public:
    static constexpr int MaxLine = 1024;
    // Hamlib's error codes.
    static constexpr int InvalidArgument = -1; // RIG_EINVAL
    static constexpr int IoError = -6;         // RIG_EIO
    static constexpr int NotAvailable = -11;   // RIG_ENAVAIL

    // A line whose first command is one of rigctld's, whether or not this radio has it: what a
    // rig client's first line is.
    static bool isRigctlCommand(const QByteArray &line);
    // A line of an HTTP request: what a web page makes a browser send, never a rig client.
    static bool isHttp(const QByteArray &line);

    // Takes bytes from the client; returns the complete lines in order, without CR or LF. A line
    // longer than MaxLine is dropped whole and stands as an empty line (answered as invalid).
    QList<QByteArray> feed(const QByteArray &bytes);

    struct Reply
    {
        enum class Action { Answer, Key, Release, SetFrequency, SetMode, ReadStatus, Close };
        Action action = Action::Answer;
        QByteArray text;        // the answer of Answer, the goodbye of Close
        std::uint64_t hz = 0;   // SetFrequency
        Ft847::Mode mode{};     // SetMode
        bool wantsMode = false; // ReadStatus: for "m" rather than "f"
    };
    // `keyed`: the radio's lines are up, for "t".
    Reply handle(const QByteArray &line, bool keyed);

    // The answers to what the radio was asked, once it has been carried out or has failed.
    QByteArray doneAnswer(bool carriedOut) const;
    QByteArray statusAnswer(const Reply &asked, bool ok, const Ft847::Status &status) const;

    static QByteArray dumpState();

private:
    QByteArray answer(const QByteArray &name, const QList<QByteArray> &values) const;
    QByteArray report(int code) const;
    Reply setMode(const QList<QByteArray> &words);

    QByteArray m_partial;
    bool m_discarding = false;
    bool m_extended = false; // the command in hand asked for the extended answer form
    QByteArray m_longName;   // its long name, for that form
    // The mode name this client last set and what the radio made of it: a client that asked
    // for PKTUSB is told PKTUSB while the radio is in the USB that stands for it.
    QByteArray m_setName;
    Ft847::Mode m_setMode{};
    bool m_haveSet = false;
};
