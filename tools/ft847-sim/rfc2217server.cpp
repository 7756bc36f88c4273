#include "tools/ft847-sim/rfc2217server.h"

using namespace Rfc2217;

QByteArray Rfc2217ServerSession::start()
{
    return m_options.requestOurs(Telnet::BINARY) + m_options.requestTheirs(Telnet::BINARY);
}

void Rfc2217ServerSession::setLines(bool high)
{
    m_state.dtr = high;
    m_state.rts = high;
}

QByteArray Rfc2217ServerSession::reply(std::uint8_t command, const QByteArray &value)
{
    return comPortCommand(std::uint8_t(command + ServerOffset), value);
}

QByteArray Rfc2217ServerSession::handleComPort(const QByteArray &payload)
{
    if (payload.isEmpty())
        return {};
    const std::uint8_t command = std::uint8_t(payload[0]);
    const QByteArray value = payload.mid(1);
    const std::uint8_t first = value.isEmpty() ? 0 : std::uint8_t(value[0]);
    switch (command) {
    case SetBaudrate: {
        const std::uint32_t baud = baudFromValue(value);
        if (baud > 0 && baud <= 4000000)
            m_state.baud = int(baud);
        return reply(command, baudValue(std::uint32_t(m_state.baud)));
    }
    case SetDatasize:
        if (first >= 5 && first <= 8)
            m_state.data = first;
        return reply(command, QByteArray(1, char(m_state.data)));
    case SetParity:
        if (parityFromCode(first))
            m_state.parity = parityFromCode(first);
        return reply(command, QByteArray(1, char(parityCode(m_state.parity))));
    case SetStopsize: {
        if (!stopTextFromCode(first).isEmpty())
            m_state.stop = stopTextFromCode(first);
        const std::uint8_t code = m_state.stop == QStringLiteral("2")     ? 2
                                  : m_state.stop == QStringLiteral("1.5") ? 3
                                                                          : 1;
        return reply(command, QByteArray(1, char(code)));
    }
    case SetControl:
        switch (first) {
        case ControlRequestFlow:
        case ControlNoFlowControl:
            return reply(command, QByteArray(1, char(ControlNoFlowControl)));
        case ControlRequestDtr:
            return reply(command, QByteArray(1, char(m_state.dtr ? ControlDtrOn : ControlDtrOff)));
        case ControlDtrOn:
        case ControlDtrOff:
            m_state.dtr = first == ControlDtrOn;
            return reply(command, QByteArray(1, char(first)));
        case ControlRequestRts:
            return reply(command, QByteArray(1, char(m_state.rts ? ControlRtsOn : ControlRtsOff)));
        case ControlRtsOn:
        case ControlRtsOff:
            m_state.rts = first == ControlRtsOn;
            return reply(command, QByteArray(1, char(first)));
        default:
            return reply(command, value.left(1));
        }
    case SetLinestateMask:
    case SetModemstateMask:
    case PurgeData:
        return reply(command, value.left(1));
    default:
        return {};
    }
}

Rfc2217ServerSession::Result Rfc2217ServerSession::receive(const QByteArray &bytes)
{
    Result result;
    for (const Telnet::Event &event : m_decoder.feed(bytes)) {
        switch (event.kind) {
        case Telnet::Event::Kind::Data:
            if (m_options.theirsOn(Telnet::BINARY)) {
                result.data += event.bytes;
                break;
            }
            // Outside binary mode a CR is followed by a NUL that is not data.
            for (const char byte : event.bytes) {
                if (!(m_pendingCr && byte == '\0'))
                    result.data += byte;
                m_pendingCr = byte == '\r';
            }
            break;
        case Telnet::Event::Kind::Negotiation:
            result.replies += m_options.receive(event.verb, event.option);
            break;
        case Telnet::Event::Kind::Subnegotiation:
            if (event.option == Telnet::COM_PORT_OPTION)
                result.replies += handleComPort(event.bytes);
            break;
        case Telnet::Event::Kind::Command:
            break;
        }
    }
    return result;
}
