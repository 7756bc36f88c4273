#pragma once

#include "flrig/flrigsession.h"
#include "flrig/httprequests.h"
#include "ft847/ft847radio.h"
#include "net/clientconnection.h"
#include "net/doorlistener.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <chrono>
#include <memory>

// The utility's flrig door: flrig's XML-RPC (HTTP POST of XML, keep-alive) for the programs that
// drive a radio through flrig (fldigi, WSJT-X and JS8Call with Rig "FLRig", QLog, not1mm...), on
// the one radio. As flrig does, a change (frequency, mode, split) is answered once the radio has
// taken it in its queue, not when it reaches the radio after the frames before it; it still
// reaches the radio if the client leaves meanwhile. Each client's key is its own, as the
// listener's are: it ends when the client leaves, its link dies or it loses its place.
//
// An HTTP door is one every web page can post to, so nothing from a browser is carried out: a
// request with an Origin (or any browser fetch) header, one whose body is not text/xml, one
// whose Host is a name other than localhost (a DNS rebinding page), and every CORS preflight
// are refused before the body is read.
class FlrigServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxClients = 16;
    // Answers a client has left unread beyond this: it is not reading, and is dropped.
    static constexpr qint64 MaxUnread = 64 * 1024;
    // Changes of one client waiting their turn at the radio (frames leave 52 ms apart): a client
    // that sends them faster waits for its answers instead of filling the radio's queue.
    static constexpr int MaxChangesInFlight = 4;

    explicit FlrigServer(Ft847Radio &radio, QObject *parent = nullptr);
    ~FlrigServer() override;

    // As the Hamlib listener's (see ListenRules), 12345 being flrig's port.
    bool listen(const QString &address, const QString &allow, QString *why);
    QString address() const;
    int clientCount() const { return int(m_clients.size()); }

Q_SIGNALS:
    void clientsChanged();

private:
    struct Client
    {
        QPointer<ClientConnection> connection;
        HttpRequests requests;
        FlrigSession session;
        FlrigSession::Reply reply; // the call in hand
        qsizetype nextStep = 0;
        QList<QByteArray> answers;
        bool keepAlive = true;
        bool busy = false;
        bool closing = false;
        // Changes it was told are made that are still on their way to the radio; a call with a
        // change beyond MaxChangesInFlight waits for the first of them (heldForSet).
        int changesInFlight = 0;
        bool heldForSet = false;
        std::chrono::steady_clock::time_point lastCall = std::chrono::steady_clock::now();
    };
    using ClientPtr = std::shared_ptr<Client>;

    void arrived(qintptr socket);
    bool makeRoom();
    void serve(const ClientPtr &client);
    QByteArray refusal(const HttpRequests::Request &request) const;
    void step(const ClientPtr &client);
    bool sendChange(const ClientPtr &client, const QList<Ft847Radio::Request> &changes);
    void answer(const ClientPtr &client, const QByteArray &status, const QByteArray &xml);
    void refuse(Client &client, const QByteArray &status, const char *why);
    void forget(Client &client);
    void gone(ClientConnection *connection);

    Ft847Radio &m_radio;
    DoorListener m_door;
    QHash<ClientConnection *, ClientPtr> m_clients;
    QSet<QString> m_told;
};
