#include "rigctl/rigctllistener.h"


#include <QLoggingCategory>
#include <QTimer>

Q_LOGGING_CATEGORY(lcRigctl, "zolvek.rigctl", QtInfoMsg)

RigctlListener::RigctlListener(Ft847Radio &radio, QObject *parent)
    : QObject(parent)
    , m_radio(radio)
{
    connect(&m_door, &DoorListener::arrived, this, &RigctlListener::arrived);
}

// The clients' connections close with the listener, and their keys with them.
RigctlListener::~RigctlListener()
{
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        forget(**it);
        it.key()->disconnect(this);
    }
}

bool RigctlListener::listen(const QString &address, const QString &allow, QString *why)
{
    return m_door.listen(address, allow, why);
}

void RigctlListener::close()
{
    m_door.close();
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        forget(**it);
        it.key()->disconnect(this);
        it.key()->abort();
        it.key()->deleteLater();
    }
    m_clients.clear();
    Q_EMIT clientsChanged();
}

QString RigctlListener::address() const
{
    return m_door.address();
}

void RigctlListener::sayOnce(QSet<QString> &said, const QHostAddress &peer, const char *what)
{
    const QString name = peer.toString();
    if (said.contains(name))
        return;
    said.insert(name);
    qCWarning(lcRigctl, "closed a rigctl connection from %s: %s", qUtf8Printable(name), what);
}

void RigctlListener::arrived(qintptr socket)
{
    auto *connection = new ClientConnection(socket, this);
    const QHostAddress peer = connection->peer();
    // Nothing is read from a computer that is not allowed. A connection reset before it was
    // taken has no address left, and nothing to say.
    if (peer.isNull() || !m_door.allows(peer)) {
        connection->abort();
        delete connection;
        if (!peer.isNull())
            sayOnce(m_toldNotAllowed, peer,
                    "not in the allow list (--listen-allow, [Host] ListenAllow)");
        return;
    }
    if (m_clients.size() >= MaxClients && !makeRoom()) {
        // Told in words a person reading the client's log understands.
        connection->write("zolvek-ptt: too many clients (" + QByteArray::number(MaxClients)
                          + " at once); closing this one\n");
        connect(connection, &ClientConnection::closed, connection, &QObject::deleteLater);
        connection->finish();
        if (!std::exchange(m_fullReported, true))
            qCWarning(lcRigctl, "refused a rigctl client from %s: %d are connected already",
                      qUtf8Printable(peer.toString()), MaxClients);
        return;
    }
    auto client = std::make_shared<Client>();
    client->connection = connection;
    m_clients.insert(connection, client);
    connect(connection, &ClientConnection::received, this,
            [this, client](const QByteArray &bytes) { read(client, bytes); });
    connect(connection, &ClientConnection::inputClosed, this, [this, client] { serve(client); });
    connect(connection, &ClientConnection::closed, this, [this, connection] { gone(connection); });
    Q_EMIT clientsChanged();
}

bool RigctlListener::holdsKey(const Client &client) const
{
    return m_radio.holds(&client);
}

// Every place is taken: the client that has been silent longest and does not hold the key gives
// its place to the newcomer, so a full house never locks a program out.
bool RigctlListener::makeRoom()
{
    ClientPtr idlest;
    for (const ClientPtr &client : std::as_const(m_clients)) {
        if (holdsKey(*client))
            continue;
        if (!idlest || client->lastCommand < idlest->lastCommand)
            idlest = client;
    }
    if (!idlest)
        return false;
    ClientConnection *connection = idlest->connection;
    qCInfo(lcRigctl, "closed an idle rigctl connection from %s to make room for a new client",
           qUtf8Printable(connection->peer().toString()));
    m_clients.remove(connection);
    forget(*idlest);
    connection->write("zolvek-ptt: every place was taken and this client was the longest "
                      "silent; closing it for a new client\n");
    connection->finish(); // deleted when closed, as any client
    Q_EMIT clientsChanged();
    return true;
}

void RigctlListener::read(const ClientPtr &client, const QByteArray &bytes)
{
    if (client->closing)
        return;
    for (const QByteArray &line : client->session.feed(bytes)) {
        // Nothing after a line that shows the client is not a rig client is carried out.
        if (RigctlSession::isHttp(line)) {
            drop(*client, m_toldNotRigClient,
                 "it sent an HTTP request (a web page?), not rigctl commands");
            return;
        }
        // A blank line before the first command is passed over, as rigctld does.
        if (!client->heard && line.trimmed().isEmpty())
            continue;
        if (!client->heard && !RigctlSession::isRigctlCommand(line)) {
            drop(*client, m_toldNotRigClient, "its first line was not a rigctl command");
            return;
        }
        client->heard = true;
        client->lastCommand = std::chrono::steady_clock::now();
        client->session.take(line);
    }
    if (client->session.unreadLines() > MaxPendingLines) {
        drop(*client, m_toldUnruly, "it sent more commands than it waited for answers");
        return;
    }
    serve(client);
}

RigctlSession::Radio RigctlListener::radio()
{
    RigctlSession::Radio radio{m_radio.keyed(), m_radio.satellite(), {}, &m_splitVfo};
    for (const Ft847::Vfo vfo : {Ft847::Vfo::Main, Ft847::Vfo::SatRx, Ft847::Vfo::SatTx})
        if (m_radio.modeKnown(vfo))
            radio.vfos[std::size_t(vfo) >> 4].mode = m_radio.known(vfo).mode;
    return radio;
}

// One command at a time per client, in order. A command the radio must answer leaves the client
// waiting; the radio's answer carries on from where it stopped. Nothing here waits. A client
// that has sent its last command is closed once all of them are answered.
void RigctlListener::serve(const ClientPtr &client)
{
    if (client->serving)
        return;
    client->serving = true;
    const auto open = [&client] {
        return !client->closing && client->connection && client->connection->isOpen();
    };
    while (!client->waiting && open()) {
        auto reply = client->session.next(radio());
        if (!reply)
            break;
        if (reply->close) {
            forget(*client);
            send(client, client->session.finish(*reply, 0, {}));
            client->connection->finish();
            break;
        }
        client->reply = std::move(*reply);
        client->nextStep = 0;
        client->answers.clear();
        step(client);
    }
    client->serving = false;
    if (open() && !client->waiting && client->connection->inputEnded())
        client->connection->finish();
}

// The steps of the command in hand, in order: keying at once, the radio's requests and a
// pause each waited for.
void RigctlListener::step(const ClientPtr &client)
{
    using Kind = RigctlSession::Step::Kind;
    const std::weak_ptr<Client> weak = client;
    while (client->nextStep < client->reply.steps.size()) {
        const RigctlSession::Step &next = client->reply.steps[client->nextStep++];
        switch (next.kind) {
        case Kind::Key:
        case Kind::Release: {
            const bool done = next.kind == Kind::Key ? m_radio.keyFor(client.get())
                                                     : m_radio.release(client.get());
            if (!done)
                return complete(client, Ft847Radio::IoError);
            break;
        }
        case Kind::Wait:
            client->waiting = true;
            QTimer::singleShot(next.waitMs, this, [this, weak] {
                if (const auto still = weak.lock(); still && !still->closing && still->connection)
                    step(still);
            });
            return;
        case Kind::Radio: {
            // This request and the ones right after it, up to a read, go out together.
            QList<Ft847Radio::Request> batch{next.request};
            const auto &steps = client->reply.steps;
            while (batch.last().answerSize == 0 && client->nextStep < steps.size()
                   && steps[client->nextStep].kind == Kind::Radio)
                batch << steps[client->nextStep++].request;
            client->waiting = true;
            m_radio.perform(batch, client.get(), [this, weak](int code, const QByteArray &answer) {
                const auto still = weak.lock();
                if (!still || still->closing || !still->connection || !still->connection->isOpen())
                    return;
                if (code != 0)
                    return complete(still, code);
                if (!answer.isEmpty())
                    still->answers << answer;
                step(still);
            });
            return;
        }
        }
    }
    complete(client, 0);
}

// The command in hand is done or failed: its answer goes out and the next command follows.
void RigctlListener::complete(const ClientPtr &client, int code)
{
    client->waiting = false;
    client->nextStep = client->reply.steps.size();
    send(client, client->session.finish(client->reply, code, client->answers));
    if (client->connection && client->connection->isOpen())
        serve(client);
}

// A client that leaves its answers unread is not a host program, and would make the utility
// hold them for it without end.
void RigctlListener::send(const ClientPtr &client, const QByteArray &answer)
{
    if (answer.isEmpty() || !client->connection || !client->connection->isOpen())
        return;
    client->connection->write(answer);
    if (client->connection->unsent() > MaxUnreadAnswers)
        drop(*client, m_toldUnruly, "it did not read its answers");
}

// Closed at once, with nothing it asked carried out any more; said once per computer and kind.
void RigctlListener::drop(Client &client, QSet<QString> &told, const char *why)
{
    ClientConnection *connection = client.connection;
    if (!connection || !connection->isOpen())
        return;
    sayOnce(told, connection->peer(), why);
    forget(client);
    connection->abort();
}

// What a client asked and has not been answered is dropped with it, and its key given back.
void RigctlListener::forget(Client &client)
{
    client.closing = true;
    client.reply = {};
    client.nextStep = 0;
    m_radio.drop(&client);
}

// A client that went (closed, was dropped, or its link died) gives back what it keyed.
void RigctlListener::gone(ClientConnection *connection)
{
    const ClientPtr client = m_clients.take(connection);
    connection->deleteLater();
    if (!client)
        return;
    forget(*client);
    Q_EMIT clientsChanged();
    if (m_clients.size() < MaxClients)
        m_fullReported = false;
}
