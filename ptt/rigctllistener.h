#pragma once

#include "ptt/rigctlprotocol.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <memory>

// The utility's second front door: Hamlib's NET rigctl protocol on TCP, so host programs that
// key a radio through rigctld (WSJT-X, fldigi, JS8Call, QLog...) key it through the utility,
// with the same switching as the window message. Several clients at once, each answered in
// order; a client that keyed the radio and goes away leaves it in receive, unless someone else
// keyed it since.
class RigctlListener : public QObject
{
    Q_OBJECT
public:
    // What the listener needs of the radio's switching.
    struct Radio
    {
        std::function<bool(bool transmit)> switchTo; // false when the port failed
        std::function<bool()> transmitting;
        std::function<quint64()> transmitRequests; // counts transmits from every front door
    };
    // A client may queue this many lines while its last command is carried out.
    static constexpr int MaxPendingLines = 64;

    explicit RigctlListener(Radio radio, QObject *parent = nullptr);

    // ADDR is PORT (loopback), HOST:PORT or [IPV6]:PORT. False, with the reason, when it cannot
    // be listened on.
    bool listen(const QString &address, QString *why);
    QString address() const;
    static bool parseAddress(const QString &text, QHostAddress *host, quint16 *port);

private:
    struct Client
    {
        QPointer<QTcpSocket> socket;
        RigctlSession session;
        QList<QByteArray> pending;
        bool busy = false;
        bool keyed = false;  // its last switch was a transmit that reached the radio
        quint64 keyedAs = 0; // which transmit that was
    };

    void accept();
    void read(const std::shared_ptr<Client> &client);
    void serve(const std::shared_ptr<Client> &client);
    void gone(QTcpSocket *socket);

    Radio m_radio;
    QTcpServer m_server;
    QHash<QTcpSocket *, std::shared_ptr<Client>> m_clients;
};
