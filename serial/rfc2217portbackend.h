#pragma once

#include "serial/portbackend.h"
#include "serial/rfc2217.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QTimer>

// A serial port on another machine, reached as rfc2217://HOST:PORT (IPv4, [IPv6] or a host
// name). No call holds the caller longer than QuickAnswerMs for the network: a server that takes
// longer is waited for in the background, up to WaitLimitMs, and a failure is reported then;
// data the network cannot take at once follows from the event loop, in order.
class Rfc2217PortBackend : public PortBackend
{
public:
    static constexpr int WaitLimitMs = 2000;
    // Far more than a radio on a working network needs to answer (well under a millisecond on a
    // LAN), far less than a window may stand still.
    static constexpr int QuickAnswerMs = 50;
    // What may wait for a remote end that stopped reading before the port counts as lost.
    static constexpr int MaxUnsent = 64 * 1024;

    explicit Rfc2217PortBackend(const QString &address);
    ~Rfc2217PortBackend() override;

    void open(const LineSettings &settings, bool dtr, bool rts) override;
    void close() override;
    void applySettings(const LineSettings &settings) override;
    void setDtr(bool high) override;
    void setRts(bool high) override;
    void write(const QByteArray &bytes) override;
    void holdOutput() override;
    void releaseOutput() override;
    bool opening() const override
    {
        return m_stage == Stage::Connecting || m_stage == Stage::Negotiating
               || m_stage == Stage::Configuring;
    }
    bool keptAcrossReopen() const override
    {
        return m_lost.isEmpty() && m_stage != Stage::Closed && m_stage != Stage::Failed;
    }

    // Splits "rfc2217://HOST:PORT"; false when the address is not of that form.
    static bool parseAddress(const QString &address, QString *host, quint16 *port);

private:
    // How far the open has got.
    enum class Stage { Closed, Connecting, Negotiating, Configuring, Ready, Failed };

    void advance();
    void waitQuickly(const std::function<bool()> &done);
    void answerDeadlinePassed();
    void pump();
    void send(const QByteArray &bytes);
    void sendNow(const QByteArray &bytes);
    void requireUsable();
    void requireConnected() const;
    void connectionGone(const QString &why);
    void giveUp(int number, const QString &why);

    QString m_address;
    QTcpSocket m_socket;
    Rfc2217::ClientProtocol m_protocol;
    Stage m_stage = Stage::Closed;
    bool m_returned = false; // open() has returned: failures are reported, not raised
    LineSettings m_openSettings;
    bool m_openDtr = false;
    bool m_openRts = false;
    QTimer m_answerDeadline; // the server's answer is awaited in the background until then
    QString m_waitingFor;
    QString m_lost; // why the connection is gone, once it is
    bool m_holding = false;
    QByteArray m_held;
    QByteArray m_beforeReady; // sent by the caller while the open was still being finished
};
