#pragma once

#include "ft847/ft847radio.h"
#include "net/clientconnection.h"
#include "rigctl/rigctlprotocol.h"
#include "net/doorlistener.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <chrono>
#include <memory>

// The utility's second front door: Hamlib's NET rigctl protocol on TCP, so host programs that
// drive a radio through rigctld (WSJT-X, fldigi, JS8Call, direwolf...) drive it through the
// utility, which holds its only port. Keying is by the lines alone (the client has chosen the
// mode); frequency and mode go to the radio and are read from it. Each client is answered in
// order, one command at a time, while the others are served. Each client's key is its own on
// the one radio (see Ft847Radio): a client that goes away, is closed or loses its place gives
// back whatever it keyed, and nothing it asked is carried out any more.
//
// Only rig clients are served: a connection whose first line is not a rigctl command, or that
// sends a line of an HTTP request (a web page posting to the port), is closed before anything
// after it is carried out. A link that dies while keyed, a client that never reads its answers
// and connections that hold a place without a word are all ended, so none keeps the radio keyed
// or the door shut.
class RigctlListener : public QObject
{
    Q_OBJECT
public:
    // A client may queue this many lines while its last command is carried out.
    static constexpr int MaxPendingLines = 64;
    static constexpr int MaxClients = 16;
    // Answers a client has left unread beyond this: it is not reading, and is dropped.
    static constexpr qint64 MaxUnreadAnswers = 64 * 1024;

    explicit RigctlListener(Ft847Radio &radio, QObject *parent = nullptr);
    ~RigctlListener() override;

    // ADDR is PORT (loopback), HOST:PORT or [IPV6]:PORT. `allow` names who besides this
    // computer may connect, ADDR[/BITS],...; an address that is not loopback is listened on only
    // with one. False, with the reason, when it is not listened on.
    bool listen(const QString &address, const QString &allow, QString *why);
    QString address() const;
    // How many host programs are connected now.
    int clientCount() const { return int(m_clients.size()); }
    // Stops listening and closes every connection; the radio a client keyed goes back to
    // receive, as when that client leaves.
    void close();

Q_SIGNALS:
    void clientsChanged();

private:
    struct Client
    {
        QPointer<ClientConnection> connection;
        RigctlSession session;
        RigctlSession::Reply reply; // the command in hand
        qsizetype nextStep = 0;     // its next step
        QList<QByteArray> answers;  // what the radio answered it so far
        bool waiting = false;       // its command in hand waits for the radio or a pause
        bool serving = false;
        bool heard = false;   // its first line was a rigctl command
        bool closing = false; // closed, dropped or out of place: it does nothing more
        std::chrono::steady_clock::time_point lastCommand = std::chrono::steady_clock::now();
    };
    using ClientPtr = std::shared_ptr<Client>;

    void arrived(qintptr socket);
    bool makeRoom();
    bool holdsKey(const Client &client) const;
    void read(const ClientPtr &client, const QByteArray &bytes);
    void serve(const ClientPtr &client);
    void send(const ClientPtr &client, const QByteArray &answer);
    RigctlSession::Radio radio();
    void step(const ClientPtr &client);
    void complete(const ClientPtr &client, int code);
    void drop(Client &client, QSet<QString> &told, const char *why);
    void forget(Client &client);
    void gone(ClientConnection *connection);
    // Says `what` about `peer` on standard error, the first time only for that peer and kind.
    void sayOnce(QSet<QString> &said, const QHostAddress &peer, const char *what);

    Ft847Radio &m_radio;
    DoorListener m_door;
    QHash<ClientConnection *, ClientPtr> m_clients;
    bool m_fullReported = false;
    QByteArray m_splitVfo = "Sub";
    QSet<QString> m_toldNotAllowed;
    QSet<QString> m_toldNotRigClient;
    QSet<QString> m_toldUnruly; // flooding or not reading
};
