#include "serial/telnet.h"

#include <utility>

namespace Telnet {

QByteArray escape(const QByteArray &bytes)
{
    if (!bytes.contains(char(IAC)))
        return bytes;
    QByteArray out;
    out.reserve(bytes.size() + 8);
    for (const char byte : bytes) {
        out.append(byte);
        if (std::uint8_t(byte) == IAC)
            out.append(byte);
    }
    return out;
}

QByteArray command(std::uint8_t verb, std::uint8_t option)
{
    QByteArray out;
    out.append(char(IAC)).append(char(verb)).append(char(option));
    return out;
}

QByteArray subnegotiation(std::uint8_t option, const QByteArray &payload)
{
    QByteArray out;
    out.append(char(IAC)).append(char(SB)).append(char(option));
    out.append(escape(payload));
    out.append(char(IAC)).append(char(SE));
    return out;
}

void Decoder::appendData(QList<Event> &events, char byte)
{
    if (events.isEmpty() || events.last().kind != Event::Kind::Data)
        events.append(Event{Event::Kind::Data, 0, 0, {}});
    events.last().bytes.append(byte);
}

void Decoder::appendSubnegotiation(char byte)
{
    if (m_sbPayload.size() < MaxSubnegotiation)
        m_sbPayload.append(byte);
    else
        m_sbOverflow = true;
}

QList<Event> Decoder::feed(const QByteArray &bytes)
{
    QList<Event> events;
    for (const char raw : bytes) {
        const auto byte = std::uint8_t(raw);
        switch (m_state) {
        case State::Data:
            if (byte == IAC)
                m_state = State::Iac;
            else
                appendData(events, raw);
            break;
        case State::Iac:
            if (byte == IAC) {
                appendData(events, raw);
                m_state = State::Data;
            } else if (byte >= WILL) {
                m_verb = byte;
                m_state = State::Negotiation;
            } else if (byte == SB) {
                m_state = State::SbOption;
            } else {
                events.append(Event{Event::Kind::Command, byte, 0, {}});
                m_state = State::Data;
            }
            break;
        case State::Negotiation:
            events.append(Event{Event::Kind::Negotiation, m_verb, byte, {}});
            m_state = State::Data;
            break;
        case State::SbOption:
            m_sbOption = byte;
            m_sbPayload.clear();
            m_sbOverflow = false;
            m_state = State::SbPayload;
            break;
        case State::SbPayload:
            if (byte == IAC)
                m_state = State::SbIac;
            else
                appendSubnegotiation(raw);
            break;
        case State::SbIac:
            if (byte == IAC) {
                appendSubnegotiation(raw);
                m_state = State::SbPayload;
            } else {
                // SE ends it; any other command inside a subnegotiation also ends it, as
                // peers that forget SE expect.
                if (!m_sbOverflow)
                    events.append(Event{Event::Kind::Subnegotiation, SB, m_sbOption, m_sbPayload});
                m_sbPayload.clear();
                m_state = State::Data;
            }
            break;
        }
    }
    return events;
}

Options::Options(QSet<std::uint8_t> weWill, QSet<std::uint8_t> theyMay)
    : m_weWill(std::move(weWill))
    , m_theyMay(std::move(theyMay))
{
}

QByteArray Options::requestOurs(std::uint8_t option)
{
    if (m_ours.value(option) != State::No)
        return {};
    m_ours[option] = State::WantYes;
    return command(WILL, option);
}

QByteArray Options::requestTheirs(std::uint8_t option)
{
    if (m_theirs.value(option) != State::No)
        return {};
    m_theirs[option] = State::WantYes;
    return command(DO, option);
}

// The other side asks for an option to be on: agree when it is allowed, refuse otherwise, and
// say nothing when it is on already or was our own request.
QByteArray Options::acceptOn(QHash<std::uint8_t, State> &states, const QSet<std::uint8_t> &allowed,
                             std::uint8_t option, std::uint8_t agree, std::uint8_t refuse)
{
    const State state = states.value(option);
    if (state == State::WantYes || state == State::Yes) {
        states[option] = State::Yes;
        return {};
    }
    if (allowed.contains(option)) {
        states[option] = State::Yes;
        return command(agree, option);
    }
    return command(refuse, option);
}

// The other side turns an option off; it is confirmed only when it was on.
QByteArray Options::acceptOff(QHash<std::uint8_t, State> &states, std::uint8_t option,
                              std::uint8_t confirm)
{
    const State state = std::exchange(states[option], State::No);
    return state == State::Yes ? command(confirm, option) : QByteArray();
}

QByteArray Options::receive(std::uint8_t verb, std::uint8_t option)
{
    switch (verb) {
    case WILL:
        return acceptOn(m_theirs, m_theyMay, option, DO, DONT);
    case WONT:
        return acceptOff(m_theirs, option, DONT);
    case DO:
        return acceptOn(m_ours, m_weWill, option, WILL, WONT);
    case DONT:
        return acceptOff(m_ours, option, WONT);
    default:
        return {};
    }
}

} // namespace Telnet
