#pragma once

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <optional>

// Hamlib's NET rigctl protocol, the one rigctld serves and "Hamlib NET rigctl" clients (WSJT-X,
// fldigi, JS8Call...) speak, without sockets: one newline-ended command a line, one answer each.
// The utility keys the radio (T) and answers what such a client asks on opening and while it
// polls; frequency and mode are kept and echoed, not sent to the radio.
class RigctlSession
{
public:
    static constexpr int MaxLine = 1024;
    // Hamlib's error codes.
    static constexpr int InvalidArgument = -1; // RIG_EINVAL
    static constexpr int IoError = -6;         // RIG_EIO
    static constexpr int NotAvailable = -11;   // RIG_ENAVAIL

    // Takes bytes from the client; returns the complete lines in order, without CR or LF. A line
    // longer than MaxLine is dropped whole and stands as an empty line (answered as invalid).
    QList<QByteArray> feed(const QByteArray &bytes);

    struct Reply
    {
        QByteArray text;         // the answer, when there is one now
        std::optional<bool> ptt; // the radio is to be switched: true transmit, false receive
        bool close = false;      // the client said goodbye
    };
    Reply handle(const QByteArray &line, bool transmitting);
    // The answer to a switch, once it has been carried out or has failed.
    QByteArray pttAnswer(bool carriedOut) const;

    static QByteArray dumpState();

private:
    QByteArray answer(const QByteArray &name, const QList<QByteArray> &values) const;
    QByteArray report(int code) const;

    QByteArray m_partial;
    bool m_discarding = false;
    bool m_extended = false; // the command in hand asked for the extended answer form
    QByteArray m_longName;   // its long name, for that form
    std::uint64_t m_frequency = 14074000;
    QByteArray m_mode = "USB";
    int m_passband = 3000;
};
