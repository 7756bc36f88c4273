#pragma once

#include "serial/linesettings.h"
#include "serial/telnet.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <cstdint>

// The Telnet COM port control option (RFC 2217): line settings and modem lines of a serial port
// reached over TCP.
namespace Rfc2217 {
constexpr std::uint8_t SetBaudrate = 1;
constexpr std::uint8_t SetDatasize = 2;
constexpr std::uint8_t SetParity = 3;
constexpr std::uint8_t SetStopsize = 4;
constexpr std::uint8_t SetControl = 5;
constexpr std::uint8_t NotifyLinestate = 6;
constexpr std::uint8_t NotifyModemstate = 7;
constexpr std::uint8_t FlowcontrolSuspend = 8;
constexpr std::uint8_t FlowcontrolResume = 9;
constexpr std::uint8_t SetLinestateMask = 10;
constexpr std::uint8_t SetModemstateMask = 11;
constexpr std::uint8_t PurgeData = 12;
// A server answers command N with N + ServerOffset.
constexpr std::uint8_t ServerOffset = 100;

constexpr std::uint8_t ControlRequestFlow = 0;
constexpr std::uint8_t ControlNoFlowControl = 1;
constexpr std::uint8_t ControlRequestBreak = 4;
constexpr std::uint8_t ControlRequestDtr = 7;
constexpr std::uint8_t ControlDtrOn = 8;
constexpr std::uint8_t ControlDtrOff = 9;
constexpr std::uint8_t ControlRequestRts = 10;
constexpr std::uint8_t ControlRtsOn = 11;
constexpr std::uint8_t ControlRtsOff = 12;

// Parity and stop size codes on the wire; 0 asks for the current value.
std::uint8_t parityCode(char parity);
char parityFromCode(std::uint8_t code); // 0 for an unknown code
std::uint8_t stopCode(LineSettings::StopBits stop);
QString stopTextFromCode(std::uint8_t code); // empty for an unknown code

// IAC SB COM-PORT-OPTION command value IAC SE
QByteArray comPortCommand(std::uint8_t command, const QByteArray &value);
QByteArray baudValue(std::uint32_t baud);
std::uint32_t baudFromValue(const QByteArray &value);

// The client side, without sockets: what to send, and what the server's bytes mean.
class ClientProtocol
{
public:
    // Asks for the COM port option and binary mode both ways.
    QByteArray start();
    // Takes bytes from the server; returns the replies to send back. The radio's own bytes, with
    // the Telnet escapes undone, are added to `data` when it is given.
    QByteArray receive(const QByteArray &bytes, QByteArray *data = nullptr);

    // The server has agreed to, or refused, the COM port option.
    bool comPortDecided() const;
    bool comPortAccepted() const;

    // Baud, data size, parity and stop size, each answered by the server.
    QByteArray configure(const LineSettings &settings);
    // SET-CONTROL with one of the Control values; the answer is not waited for.
    QByteArray control(std::uint8_t value);
    // Data bytes as they go on the wire.
    QByteArray data(const QByteArray &bytes) const;

    // Settings sent whose answer has not come yet.
    bool awaitingAnswers() const { return !m_awaiting.isEmpty(); }
    // Set when the server answered a setting with a value other than the one asked for.
    QString refusal() const { return m_refusal; }

private:
    QByteArray ask(std::uint8_t command, const QByteArray &value);
    void answer(const QByteArray &payload);

    Telnet::Options m_options{{Telnet::BINARY, Telnet::SGA, Telnet::COM_PORT_OPTION},
                              {Telnet::BINARY, Telnet::SGA}};
    Telnet::Decoder m_decoder;
    QHash<std::uint8_t, QByteArray> m_awaiting;
    QString m_refusal;
};

} // namespace Rfc2217
