#pragma once

#include "serial/rfc2217.h"
#include "serial/telnet.h"

#include <QByteArray>
#include <QString>

// The serial port the virtual radio is wired to, as a remote client sets it.
struct SimPortState
{
    int baud = 9600;
    int data = 8;
    char parity = 'n';
    QString stop = QStringLiteral("1");
    bool dtr = false;
    bool rts = false;

    bool sameSettings(const SimPortState &other) const
    {
        return baud == other.baud && data == other.data && parity == other.parity
               && stop == other.stop;
    }
    bool sameLines(const SimPortState &other) const { return dtr == other.dtr && rts == other.rts; }
};

// The server side of RFC 2217 for one client, without sockets: it answers negotiation and
// COM port commands as a serial port server does, and hands on the data bytes.
class Rfc2217ServerSession
{
public:
    struct Result
    {
        QByteArray replies; // to send back to the client
        QByteArray data;    // bytes for the radio
    };

    // Offers binary mode both ways, as serial port servers do on connect.
    QByteArray start();
    Result receive(const QByteArray &bytes);

    const SimPortState &state() const { return m_state; }
    // The port's lines as the server sets them itself: high when it opens the port for a new
    // connection (as ser2net does), low when the connection is gone.
    void setLines(bool high);

private:
    QByteArray handleComPort(const QByteArray &payload);
    static QByteArray reply(std::uint8_t command, const QByteArray &value);

    Telnet::Options m_options{{Telnet::BINARY, Telnet::SGA},
                              {Telnet::BINARY, Telnet::SGA, Telnet::COM_PORT_OPTION}};
    Telnet::Decoder m_decoder;
    SimPortState m_state;
    bool m_pendingCr = false;
};
