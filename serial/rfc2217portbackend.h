#pragma once

#include "serial/portbackend.h"
#include "serial/rfc2217.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

// A serial port on another machine, reached as rfc2217://HOST:PORT (IPv4, [IPv6] or a host
// name). No call waits longer than WaitLimitMs for the network.
class Rfc2217PortBackend : public PortBackend
{
public:
    static constexpr int WaitLimitMs = 2000;

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

    // Splits "rfc2217://HOST:PORT"; false when the address is not of that form.
    static bool parseAddress(const QString &address, QString *host, quint16 *port);

private:
    void pump();
    void send(const QByteArray &bytes);
    void sendNow(const QByteArray &bytes);
    void waitUntil(const std::function<bool()> &done, QDeadlineTimer deadline,
                   const QString &waitingFor);
    void requireUsable();
    void requireConnected() const;
    void connectionGone(const QString &why);
    [[noreturn]] void fail(int number, const QString &why);

    QString m_address;
    QTcpSocket m_socket;
    Rfc2217::ClientProtocol m_protocol;
    QString m_lost; // why the connection is gone, once it is
    bool m_opened = false;
    bool m_holding = false;
    QByteArray m_held;
};
