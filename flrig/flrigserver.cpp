#include "flrig/flrigserver.h"

#include <QLoggingCategory>
#include <QNetworkInterface>
#include <algorithm>
#include <optional>

Q_LOGGING_CATEGORY(lcFlrig, "zolvek.flrig", QtInfoMsg)

FlrigServer::FlrigServer(Ft847Radio &radio, QObject *parent)
    : QObject(parent)
    , m_radio(radio)
{
    connect(&m_door, &DoorListener::arrived, this, &FlrigServer::arrived);
}

// The clients' connections close with the door, and their keys with them.
FlrigServer::~FlrigServer()
{
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        forget(**it);
        it.key()->disconnect(this);
    }
}

bool FlrigServer::listen(const QString &address, const QString &allow, QString *why)
{
    return m_door.listen(address, allow, why);
}

QString FlrigServer::address() const
{
    return m_door.address();
}

void FlrigServer::arrived(qintptr socket)
{
    auto *connection = new ClientConnection(socket, this);
    const QHostAddress peer = connection->peer();
    if (peer.isNull() || !m_door.allows(peer)) {
        connection->abort();
        delete connection;
        if (!peer.isNull() && !m_told.contains(peer.toString())) {
            m_told.insert(peer.toString());
            qCWarning(lcFlrig, "closed an XML-RPC connection from %s: not in the allow list "
                               "(--listen-allow, [Host] ListenAllow)",
                      qUtf8Printable(peer.toString()));
        }
        return;
    }
    if (m_clients.size() >= MaxClients && !makeRoom()) {
        connection->write("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                          "Connection: close\r\n\r\n");
        connect(connection, &ClientConnection::closed, connection, &QObject::deleteLater);
        connection->finish();
        return;
    }
    auto client = std::make_shared<Client>();
    client->connection = connection;
    m_clients.insert(connection, client);
    connect(connection, &ClientConnection::received, this, [this, client](const QByteArray &bytes) {
        if (client->closing)
            return;
        client->requests.feed(bytes);
        serve(client);
    });
    connect(connection, &ClientConnection::inputClosed, this, [client] {
        if (!client->busy && client->connection)
            client->connection->finish();
    });
    connect(connection, &ClientConnection::closed, this, [this, connection] { gone(connection); });
    Q_EMIT clientsChanged();
}

// Every place is taken: the client silent longest that does not hold the key gives way.
bool FlrigServer::makeRoom()
{
    ClientPtr idlest;
    for (const ClientPtr &client : std::as_const(m_clients))
        if (!m_radio.holds(client.get()) && (!idlest || client->lastCall < idlest->lastCall))
            idlest = client;
    if (!idlest)
        return false;
    ClientConnection *connection = idlest->connection;
    m_clients.remove(connection);
    forget(*idlest);
    connection->finish();
    Q_EMIT clientsChanged();
    return true;
}

// What a browser sends and an XML-RPC client never does; empty for a request that may go on.
QByteArray FlrigServer::refusal(const HttpRequests::Request &request) const
{
    if (request.method == "OPTIONS" || request.method != "POST")
        return "405 Method Not Allowed";
    if (request.headers.contains("origin") || request.headers.contains("sec-fetch-mode"))
        return "403 Forbidden";
    const QByteArray type = request.header("content-type").split(';').first().trimmed().toLower();
    if (type != "text/xml")
        return "415 Unsupported Media Type";
    const QByteArray host = request.header("host");
    if (!host.isEmpty()) {
        // The host without its port: [IPV6]:PORT, or NAME:PORT.
        QString name = QString::fromLatin1(host);
        if (name.startsWith(QLatin1Char('[')))
            name = name.mid(1, name.indexOf(QLatin1Char(']')) - 1);
        else if (name.count(QLatin1Char(':')) == 1)
            name = name.section(QLatin1Char(':'), 0, 0);
        const QHostAddress address(name);
        const bool ours = name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
                          || address.isLoopback() || address == m_door.host()
                          || QNetworkInterface::allAddresses().contains(address);
        if (!ours)
            return "403 Forbidden";
    }
    return QByteArray();
}

// One call at a time per client, in order; the next is read once the last is answered.
void FlrigServer::serve(const ClientPtr &client)
{
    while (!client->busy && !client->closing && client->connection
           && client->connection->isOpen()) {
        QByteArray bad;
        auto request = client->requests.next(&bad);
        if (!bad.isEmpty())
            return refuse(*client, bad, "it sent what is not an XML-RPC request over HTTP");
        if (!request) {
            // A client that has said all it will is closed once answered.
            if (client->connection->inputEnded())
                client->connection->finish();
            return;
        }
        if (const QByteArray refused = refusal(*request); !refused.isEmpty())
            return refuse(*client, refused,
                          "a web page's request (Origin, not text/xml, a CORS preflight or a "
                          "foreign Host): nothing from a browser keys or tunes the radio");
        client->lastCall = std::chrono::steady_clock::now();
        client->keepAlive = request->keepAlive;
        QString why;
        const auto call = Xmlrpc::parseCall(request->body, &why);
        if (!call) {
            answer(client, "200 OK", Xmlrpc::fault(why));
            continue;
        }
        client->reply = client->session.call(*call, m_radio);
        if (!client->reply.fault.isEmpty()) {
            answer(client, "200 OK", Xmlrpc::fault(client->reply.fault));
            continue;
        }
        client->nextStep = 0;
        client->answers.clear();
        client->busy = true;
        const auto &steps = client->reply.steps;
        const bool changes = std::any_of(steps.cbegin(), steps.cend(), [](const auto &s) {
            return s.kind == FlrigSession::Step::Kind::Radio && s.request.answerSize == 0;
        });
        if (changes && client->changesInFlight >= MaxChangesInFlight) {
            client->heldForSet = true;
            return;
        }
        step(client);
    }
}

// Changes the radio has taken in its queue are answered at once; false when they were refused
// (the call is then answered with why).
bool FlrigServer::sendChange(const ClientPtr &client, const QList<Ft847Radio::Request> &changes)
{
    auto told = std::make_shared<bool>(false);
    auto atOnce = std::make_shared<std::optional<int>>(); // sent or refused before perform returned
    const QPointer<FlrigServer> self(this);
    // The client is kept until its change has gone: it is the change's owner at the radio.
    m_radio.perform(
        changes, client.get(), [self, client, told, atOnce](int code, const QByteArray &) {
            if (!*told) {
                *atOnce = code;
                return;
            }
            --client->changesInFlight;
            if (code != 0)
                qCWarning(lcFlrig,
                          "a change an XML-RPC client was told was made did not reach the "
                          "radio: %s",
                          code == Ft847Radio::Rejected ? "another program is transmitting"
                                                       : "the radio's port failed");
            if (self && !client->closing && std::exchange(client->heldForSet, false))
                self->step(client);
        });
    *told = true;
    if (!atOnce->has_value()) {
        ++client->changesInFlight;
        return true;
    }
    if (**atOnce == 0)
        return true;
    client->busy = false;
    answer(client, "200 OK",
           Xmlrpc::fault(**atOnce == Ft847Radio::Rejected
                             ? QStringLiteral("refused: another program is transmitting")
                             : QStringLiteral("the radio's port failed")));
    serve(client);
    return false;
}

// The steps of the call in hand: keying at once, changes once the radio has queued them, reads
// once answered.
void FlrigServer::step(const ClientPtr &client)
{
    using Kind = FlrigSession::Step::Kind;
    const std::weak_ptr<Client> weak = client;
    while (client->nextStep < client->reply.steps.size()) {
        const FlrigSession::Step &next = client->reply.steps[client->nextStep++];
        if (next.kind != Kind::Radio) {
            const bool done = next.kind == Kind::Key ? m_radio.keyFor(client.get())
                                                     : m_radio.release(client.get());
            if (!done) {
                client->busy = false;
                answer(client, "200 OK",
                       Xmlrpc::fault(QStringLiteral("the radio's port failed")));
                return serve(client);
            }
            continue;
        }
        if (next.request.answerSize == 0) {
            // This change and those right after it go to the radio's queue together.
            QList<Ft847Radio::Request> changes{next.request};
            const auto &steps = client->reply.steps;
            while (client->nextStep < steps.size() && steps[client->nextStep].kind == Kind::Radio
                   && steps[client->nextStep].request.answerSize == 0)
                changes << steps[client->nextStep++].request;
            if (!sendChange(client, changes))
                return;
            continue;
        }
        m_radio.perform({next.request}, client.get(), [this, weak](int code, const QByteArray &got) {
            const auto still = weak.lock();
            if (!still || still->closing || !still->connection || !still->connection->isOpen())
                return;
            if (code != 0) {
                still->busy = false;
                const QString why = code == Ft847Radio::Rejected
                                        ? QStringLiteral("refused: another program is "
                                                         "transmitting")
                                        : QStringLiteral("the radio did not answer");
                answer(still, "200 OK", Xmlrpc::fault(why));
                return serve(still);
            }
            if (!got.isEmpty())
                still->answers << got;
            step(still);
        });
        return;
    }
    client->busy = false;
    answer(client, "200 OK", Xmlrpc::response(client->reply.output(client->answers)));
    serve(client);
}

void FlrigServer::answer(const ClientPtr &client, const QByteArray &status, const QByteArray &xml)
{
    if (!client->connection || !client->connection->isOpen())
        return;
    client->connection->write("HTTP/1.1 " + status + "\r\nServer: XMLRPC++ 0.8\r\n"
                              "Content-Type: text/xml\r\nContent-length: "
                              + QByteArray::number(xml.size()) + "\r\n\r\n" + xml);
    if (client->connection->unsent() > MaxUnread)
        return refuse(*client, QByteArray(), "it did not read its answers");
    if (!client->keepAlive)
        client->connection->finish();
}

// Answered with `status` (if any) and closed; nothing it sent is carried out any more.
void FlrigServer::refuse(Client &client, const QByteArray &status, const char *why)
{
    ClientConnection *connection = client.connection;
    if (!connection || !connection->isOpen())
        return;
    const QString peer = connection->peer().toString() + QLatin1Char('|') + QLatin1String(why);
    if (!m_told.contains(peer)) {
        m_told.insert(peer);
        qCWarning(lcFlrig, "closed an XML-RPC connection from %s: %s",
                  qUtf8Printable(connection->peer().toString()), why);
    }
    forget(client);
    if (status.isEmpty()) {
        connection->abort();
        return;
    }
    connection->write("HTTP/1.1 " + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    connection->finish();
}

void FlrigServer::forget(Client &client)
{
    client.closing = true;
    client.reply = {};
    // A change it was told was made still goes; its key ends now all the same.
    if (client.changesInFlight > 0)
        m_radio.release(&client);
    else
        m_radio.drop(&client);
}

void FlrigServer::gone(ClientConnection *connection)
{
    const ClientPtr client = m_clients.take(connection);
    connection->deleteLater();
    if (!client)
        return;
    forget(*client);
    Q_EMIT clientsChanged();
}
