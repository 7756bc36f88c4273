#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <cstdint>

// Telnet framing (RFC 854) as far as a remote serial port needs it: commands, option
// negotiation and subnegotiation, with 0xFF doubled inside data and subnegotiation values.
namespace Telnet {
constexpr std::uint8_t IAC = 255;
constexpr std::uint8_t DONT = 254;
constexpr std::uint8_t DO = 253;
constexpr std::uint8_t WONT = 252;
constexpr std::uint8_t WILL = 251;
constexpr std::uint8_t SB = 250;
constexpr std::uint8_t SE = 240;

constexpr std::uint8_t BINARY = 0;
constexpr std::uint8_t ECHO = 1;
constexpr std::uint8_t SGA = 3;
constexpr std::uint8_t COM_PORT_OPTION = 44;

// Doubles every 0xFF.
QByteArray escape(const QByteArray &bytes);
QByteArray command(std::uint8_t verb, std::uint8_t option);
// IAC SB option payload IAC SE, with the payload escaped.
QByteArray subnegotiation(std::uint8_t option, const QByteArray &payload);

struct Event
{
    enum class Kind { Data, Negotiation, Subnegotiation, Command };
    Kind kind = Kind::Data;
    std::uint8_t verb = 0;   // WILL/WONT/DO/DONT, or the command byte of Kind::Command
    std::uint8_t option = 0; // negotiated or subnegotiated option
    QByteArray bytes;        // data, or the unescaped subnegotiation payload

    friend bool operator==(const Event &, const Event &) = default;
};

// Splits a byte stream into events. Input may arrive cut at any byte; what is incomplete waits
// for the next call. A subnegotiation longer than MaxSubnegotiation is dropped whole.
class Decoder
{
public:
    static constexpr int MaxSubnegotiation = 256;

    QList<Event> feed(const QByteArray &bytes);

private:
    enum class State { Data, Iac, Negotiation, SbOption, SbPayload, SbIac };

    void appendData(QList<Event> &events, char byte);
    void appendSubnegotiation(char byte);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::uint8_t m_sbOption = 0;
    QByteArray m_sbPayload;
    bool m_sbOverflow = false;
};

// One side's record of which options are on, in both directions (RFC 1143, without queues).
// It answers the other side's requests and never answers a request that changes nothing, so two
// sides cannot loop.
class Options
{
public:
    Options(QSet<std::uint8_t> weWill, QSet<std::uint8_t> theyMay);

    // Ask to enable an option on our side (WILL) or theirs (DO).
    QByteArray requestOurs(std::uint8_t option);
    QByteArray requestTheirs(std::uint8_t option);
    // Handles WILL/WONT/DO/DONT from the other side; returns the reply to send, if any.
    QByteArray receive(std::uint8_t verb, std::uint8_t option);

    bool oursOn(std::uint8_t option) const { return m_ours.value(option) == State::Yes; }
    bool theirsOn(std::uint8_t option) const { return m_theirs.value(option) == State::Yes; }
    bool oursPending(std::uint8_t option) const { return m_ours.value(option) == State::WantYes; }

private:
    enum class State { No, Yes, WantYes };

    static QByteArray acceptOn(QHash<std::uint8_t, State> &states,
                               const QSet<std::uint8_t> &allowed, std::uint8_t option,
                               std::uint8_t agree, std::uint8_t refuse);
    static QByteArray acceptOff(QHash<std::uint8_t, State> &states, std::uint8_t option,
                                std::uint8_t confirm);

    QSet<std::uint8_t> m_weWill;
    QSet<std::uint8_t> m_theyMay;
    QHash<std::uint8_t, State> m_ours;
    QHash<std::uint8_t, State> m_theirs;
};

} // namespace Telnet
