#pragma once

#include "ft847/ft847radio.h"

#include <QByteArray>
#include <QList>
#include <array>
#include <functional>
#include <optional>

// Hamlib's NET rigctl protocol, the one rigctld serves and "Hamlib NET rigctl" clients (WSJT-X,
// fldigi, JS8Call, Gpredict...) speak, without sockets, read as rigctld 4.5 reads it: commands
// by letter or \long_name, several on a line, an argument missing from a line taken from the
// next, the extended answer form ('+', or a separator such as ';'). A command is answered at
// once or asks something of the radio; its answer is then made from what the radio said.
class RigctlSession
{
public:
    static constexpr int MaxLine = 1024;
    // Stands for a line refused whole.
    static constexpr char Refused = '\x01';
    // Hamlib's error codes.
    static constexpr int InvalidArgument = -1; // RIG_EINVAL
    static constexpr int NotAvailable = -11;   // RIG_ENAVAIL

    // What the radio is doing, as a command finds it.
    struct Radio
    {
        bool keyed = false; // its lines are up
        bool satellite = false;
        // The main, satellite receive and satellite transmit VFOs' modes, where known.
        struct Vfo
        {
            std::optional<Ft847::Mode> mode;
        };
        std::array<Vfo, 3> vfos;
        // The transmit VFO a client last named for split, as every client is told it.
        QByteArray *splitVfo = nullptr;
    };

    // One thing a command asks: a request to the radio, the lines up or down, or a wait.
    struct Step
    {
        enum class Kind { Radio, Key, Release, Wait };
        Kind kind = Kind::Radio;
        Ft847Radio::Request request;
        int waitMs = 0;
    };

    // How the answer is written: each value named in the extended form.
    class Answer
    {
    public:
        Answer(bool extended, char separator);
        void value(const char *name, const QByteArray &text);
        void raw(const QByteArray &text) { m_text += text; }
        QByteArray text() const { return m_text; }
        bool extended() const { return m_extended; }
        char separator() const { return m_separator; }

    private:
        QByteArray m_text;
        bool m_extended;
        char m_separator;
    };
    // Writes what a command says from the radio's answers (one per read, in order); returns
    // Hamlib's code for the command.
    using Output = std::function<int(const QList<QByteArray> &answers, Answer &answer)>;

    struct Reply
    {
        QList<Step> steps;
        Output output;
        QByteArray header; // the extended form's: the command and its arguments
        unsigned char command = 0;
        bool reportsOutput = false; // a command with values gives no report after them
        bool close = false;         // the client said goodbye
    };

    // A line whose first command is one of rigctld's, whether or not this radio has it: what a
    // rig client's first line is.
    static bool isRigctlCommand(const QByteArray &line);
    // A line of an HTTP request: what a web page makes a browser send, never a rig client.
    static bool isHttp(const QByteArray &line);

    // Takes bytes from the client; returns the complete lines in order (ended by LF, CR or
    // CRLF), without their ends. A line longer than MaxLine is dropped whole; a line of Refused
    // stands for it.
    QList<QByteArray> feed(const QByteArray &bytes);
    // A line to read commands from.
    void take(const QByteArray &line);
    // Lines taken and not yet read to their end.
    int unreadLines() const;

    // The next whole command in what was taken; nothing while the next is not complete yet.
    std::optional<Reply> next(const Radio &radio);
    // Its answer, once its steps are done: `code` 0 with the radio's answers, or the failure.
    QByteArray finish(const Reply &reply, int code, const QList<QByteArray> &answers);

    // What one command sees of the session and the radio, and what it leaves to the next.
    struct State
    {
        bool vfoOption = false;  // every command names its VFO first
        bool checkedVfo = false; // \chk_vfo was asked: \dump_state says all
        bool locked = false;     // \set_lock_mode
        int cacheMs = 500;
        int twiddleS = 0;
        // The mode name this client last set, and what the radio made of it: a client that
        // asked for PKTUSB is told PKTUSB while the radio is in the USB that stands for it.
        QByteArray setName;
        std::optional<Ft847::Mode> setMode;
    };

private:
    std::optional<int> peek(qsizetype at) const;
    std::optional<QByteArray> word(qsizetype &at) const;
    std::optional<QByteArray> restOfLine(qsizetype &at) const;

    QByteArray m_partial;
    bool m_discarding = false;
    bool m_afterCr = false;
    QByteArray m_input; // lines taken, each ended by LF
    qsizetype m_read = 0;
    bool m_extended = false;
    char m_separator = '\n';
    bool m_lastWasReturn = true;
    State m_state;
};
