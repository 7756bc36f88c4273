#pragma once

#include "ptt/ft847rig.h"
#include "ptt/rigctlprotocol.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

class CommControl;
class PttSwitch;

// The utility's second front door: Hamlib's NET rigctl protocol on TCP, so host programs that
// drive a radio through rigctld (WSJT-X, fldigi, JS8Call, direwolf...) drive it through the
// utility, which holds its only port. Keying is by the lines alone (the client has chosen the
// mode); frequency and mode go to the radio and are read from it. Each client is answered in
// order, one command at a time, while the others are served; a client that keyed the radio and
// goes away leaves it in receive, unless someone else keyed it since.
class RigctlListener : public QObject
{
    Q_OBJECT
public:
    // A client may queue this many lines while its last command is carried out.
    static constexpr int MaxPendingLines = 64;
    static constexpr int MaxClients = 16;

    RigctlListener(PttSwitch &ptt, CommControl &port, QObject *parent = nullptr);
    ~RigctlListener() override;

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
        bool waiting = false; // its command in hand waits for the radio
        bool serving = false;
        bool keyed = false;  // its last switch was a transmit that reached the radio
        quint64 keyedAs = 0; // which transmit that was
    };

    void accept();
    void read(const std::shared_ptr<Client> &client);
    void serve(const std::shared_ptr<Client> &client);
    bool carryOut(const std::shared_ptr<Client> &client, const RigctlSession::Reply &reply);
    void finish(const std::weak_ptr<Client> &client, const QByteArray &answer);
    void forget(Client &client);
    void gone(QTcpSocket *socket);

    PttSwitch &m_ptt;
    Ft847Rig m_rig;
    QTcpServer m_server;
    QHash<QTcpSocket *, std::shared_ptr<Client>> m_clients;
    bool m_fullReported = false;
};
