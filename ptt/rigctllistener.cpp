#include "ptt/rigctllistener.h"

#include "ptt/pttswitch.h"

#include <QLoggingCategory>
#include <QRegularExpression>

Q_DECLARE_LOGGING_CATEGORY(lcRig)

RigctlListener::RigctlListener(PttSwitch &ptt, CommControl &port, QObject *parent)
    : QObject(parent)
    , m_ptt(ptt)
    , m_rig(port)
{
    connect(&m_server, &QTcpServer::newConnection, this, &RigctlListener::accept);
}

// The clients' sockets close with the server; nothing is left to hear of it.
RigctlListener::~RigctlListener()
{
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it)
        it.key()->disconnect(this);
}

bool RigctlListener::parseAddress(const QString &text, QHostAddress *host, quint16 *port)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^(?:(?:\[([0-9A-Fa-f:.]+)\]|([^:\[\]]+)):)?([0-9]{1,5})$)"));
    const auto match = form.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    const uint number = match.captured(3).toUInt(); // 0: any free port
    if (number > 65535)
        return false;
    QString name = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    if (name.isEmpty() || name == QLatin1String("localhost"))
        name = QStringLiteral("127.0.0.1"); // loopback unless an address is written out
    if (!host->setAddress(name))
        return false;
    *port = quint16(number);
    return true;
}

bool RigctlListener::listen(const QString &address, QString *why)
{
    QHostAddress host;
    quint16 port = 0;
    if (!parseAddress(address, &host, &port)) {
        *why = QStringLiteral("%1 is not PORT, HOST:PORT or [IPV6]:PORT").arg(address);
        return false;
    }
    if (!m_server.listen(host, port)) {
        *why = QStringLiteral("cannot listen on %1: %2").arg(address, m_server.errorString());
        return false;
    }
    return true;
}

QString RigctlListener::address() const
{
    return m_server.serverAddress().toString() + QLatin1Char(':')
           + QString::number(m_server.serverPort());
}

void RigctlListener::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_clients.size() >= MaxClients) {
            // Told in words a person reading the client's log understands.
            socket->write("zolvek-ptt: too many clients (" + QByteArray::number(MaxClients)
                          + " at once); closing this one\n");
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            if (!std::exchange(m_fullReported, true))
                qCWarning(lcRig, "refused a rigctl client from %s: %d are connected already",
                          qUtf8Printable(socket->peerAddress().toString()), MaxClients);
            continue;
        }
        auto client = std::make_shared<Client>();
        client->socket = socket;
        m_clients.insert(socket, client);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, client] { read(client); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { gone(socket); });
    }
}

void RigctlListener::read(const std::shared_ptr<Client> &client)
{
    if (!client->socket)
        return;
    client->pending += client->session.feed(client->socket->readAll());
    if (client->pending.size() > MaxPendingLines) {
        // A client that only sends and never waits for its answers is not a host program.
        forget(*client);
        client->socket->abort();
        return;
    }
    serve(client);
}

// One command at a time per client, in order. A command the radio must answer leaves the client
// waiting; the radio's answer carries on from where it stopped. Nothing here waits.
void RigctlListener::serve(const std::shared_ptr<Client> &client)
{
    if (client->serving)
        return;
    client->serving = true;
    while (!client->waiting && !client->pending.isEmpty() && client->socket) {
        const QByteArray line = client->pending.takeFirst();
        const RigctlSession::Reply reply = client->session.handle(line, m_ptt.linesHigh());
        if (reply.action == RigctlSession::Reply::Action::Close) {
            forget(*client);
            client->socket->disconnectFromHost();
            break;
        }
        if (!carryOut(client, reply))
            client->socket->write(reply.text);
    }
    client->serving = false;
}

// False for a command answered from its text alone.
bool RigctlListener::carryOut(const std::shared_ptr<Client> &client,
                              const RigctlSession::Reply &reply)
{
    using Action = RigctlSession::Reply::Action;
    const std::weak_ptr<Client> weak = client;
    switch (reply.action) {
    case Action::Key:
    case Action::Release: {
        const bool transmit = reply.action == Action::Key;
        const bool done = m_ptt.setLines(transmit);
        client->keyed = transmit && done;
        client->keyedAs = m_ptt.transmitRequests();
        client->socket->write(client->session.doneAnswer(done));
        return true;
    }
    case Action::SetFrequency:
    case Action::SetMode: {
        client->waiting = true;
        const auto done = [this, weak](bool sent) {
            if (const auto still = weak.lock())
                finish(weak, still->session.doneAnswer(sent));
        };
        if (reply.action == Action::SetFrequency)
            m_rig.setFrequency(reply.hz, client.get(), done);
        else
            m_rig.setMode(reply.mode, client.get(), done);
        return true;
    }
    case Action::ReadStatus:
        client->waiting = true;
        m_rig.readStatus(client.get(), [this, weak, reply](bool ok, const Ft847::Status &status) {
            if (const auto still = weak.lock())
                finish(weak, still->session.statusAnswer(reply, ok, status));
        });
        return true;
    case Action::Answer:
    case Action::Close:
        break;
    }
    return false;
}

// The radio has answered a client's command: its answer goes out and its next command follows.
void RigctlListener::finish(const std::weak_ptr<Client> &weak, const QByteArray &answer)
{
    const auto client = weak.lock();
    if (!client || !client->socket)
        return;
    client->waiting = false;
    client->socket->write(answer);
    serve(client);
}

// What a client asked and has not been answered is dropped with it.
void RigctlListener::forget(Client &client)
{
    client.pending.clear();
    m_rig.drop(&client);
}

// A client that keyed the radio and went (closed, or its connection dropped) gives it back,
// unless another request keyed it since.
void RigctlListener::gone(QTcpSocket *socket)
{
    const std::shared_ptr<Client> client = m_clients.take(socket);
    socket->deleteLater();
    if (!client)
        return;
    forget(*client);
    if (m_clients.size() < MaxClients)
        m_fullReported = false;
    if (client->keyed && client->keyedAs == m_ptt.transmitRequests() && m_ptt.linesHigh())
        m_ptt.setLines(false);
}
