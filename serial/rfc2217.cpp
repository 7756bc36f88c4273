#include "serial/rfc2217.h"

namespace Rfc2217 {

std::uint8_t parityCode(char parity)
{
    switch (parity) {
    case 'o':
        return 2;
    case 'e':
        return 3;
    case 'm':
        return 4;
    case 's':
        return 5;
    default:
        return 1;
    }
}

char parityFromCode(std::uint8_t code)
{
    switch (code) {
    case 1:
        return 'n';
    case 2:
        return 'o';
    case 3:
        return 'e';
    case 4:
        return 'm';
    case 5:
        return 's';
    default:
        return 0;
    }
}

std::uint8_t stopCode(LineSettings::StopBits stop)
{
    switch (stop) {
    case LineSettings::StopBits::Two:
        return 2;
    case LineSettings::StopBits::OneAndHalf:
        return 3;
    case LineSettings::StopBits::One:
        break;
    }
    return 1;
}

QString stopTextFromCode(std::uint8_t code)
{
    switch (code) {
    case 1:
        return QStringLiteral("1");
    case 2:
        return QStringLiteral("2");
    case 3:
        return QStringLiteral("1.5");
    default:
        return QString();
    }
}

QByteArray comPortCommand(std::uint8_t command, const QByteArray &value)
{
    return Telnet::subnegotiation(Telnet::COM_PORT_OPTION, char(command) + value);
}

QByteArray baudValue(std::uint32_t baud)
{
    QByteArray value(4, 0);
    value[0] = char(baud >> 24);
    value[1] = char(baud >> 16);
    value[2] = char(baud >> 8);
    value[3] = char(baud);
    return value;
}

std::uint32_t baudFromValue(const QByteArray &value)
{
    if (value.size() < 4)
        return 0;
    return std::uint32_t(std::uint8_t(value[0])) << 24 | std::uint32_t(std::uint8_t(value[1])) << 16
           | std::uint32_t(std::uint8_t(value[2])) << 8 | std::uint32_t(std::uint8_t(value[3]));
}

QByteArray ClientProtocol::start()
{
    return m_options.requestOurs(Telnet::COM_PORT_OPTION) + m_options.requestOurs(Telnet::BINARY)
           + m_options.requestTheirs(Telnet::BINARY);
}

bool ClientProtocol::comPortDecided() const
{
    return !m_options.oursPending(Telnet::COM_PORT_OPTION);
}

bool ClientProtocol::comPortAccepted() const
{
    return m_options.oursOn(Telnet::COM_PORT_OPTION);
}

QByteArray ClientProtocol::ask(std::uint8_t command, const QByteArray &value)
{
    m_awaiting.insert(command, value);
    return comPortCommand(command, value);
}

QByteArray ClientProtocol::configure(const LineSettings &settings)
{
    m_refusal.clear(); // a refusal belongs to the settings last asked for
    return ask(SetBaudrate, baudValue(std::uint32_t(settings.baud)))
           + ask(SetDatasize, QByteArray(1, char(settings.dataBits)))
           + ask(SetParity, QByteArray(1, char(parityCode(settings.parity))))
           + ask(SetStopsize, QByteArray(1, char(stopCode(settings.stopBits))));
}

QByteArray ClientProtocol::control(std::uint8_t value)
{
    return comPortCommand(SetControl, QByteArray(1, char(value)));
}

QByteArray ClientProtocol::data(const QByteArray &bytes) const
{
    QByteArray out = Telnet::escape(bytes);
    // Without binary mode a bare CR must be followed by NUL (RFC 854).
    if (!m_options.oursOn(Telnet::BINARY) && out.contains('\r'))
        out.replace("\r", QByteArray("\r\0", 2));
    return out;
}

void ClientProtocol::answer(const QByteArray &payload)
{
    if (payload.isEmpty())
        return;
    const std::uint8_t code = std::uint8_t(payload[0]);
    if (code <= ServerOffset)
        return;
    const std::uint8_t command = code - ServerOffset;
    const auto asked = m_awaiting.find(command);
    if (asked == m_awaiting.end())
        return;
    const QByteArray value = payload.mid(1);
    if (!value.startsWith(asked.value()) && m_refusal.isEmpty()) {
        static const char *const names[] = {"", "baud rate", "data size", "parity", "stop size"};
        m_refusal = QStringLiteral("the remote port refused the %1")
                        .arg(QLatin1String(command <= SetStopsize ? names[command] : "setting"));
    }
    m_awaiting.erase(asked);
}

QByteArray ClientProtocol::receive(const QByteArray &bytes, QByteArray *data)
{
    QByteArray replies;
    for (const Telnet::Event &event : m_decoder.feed(bytes)) {
        switch (event.kind) {
        case Telnet::Event::Kind::Data:
            if (data)
                *data += event.bytes;
            break;
        case Telnet::Event::Kind::Negotiation:
            replies += m_options.receive(event.verb, event.option);
            break;
        case Telnet::Event::Kind::Subnegotiation:
            if (event.option == Telnet::COM_PORT_OPTION)
                answer(event.bytes);
            break;
        case Telnet::Event::Kind::Command:
            break;
        }
    }
    return replies;
}

} // namespace Rfc2217
