#include "ptt/rigctllistener.h"

#include <QRegularExpression>

RigctlListener::RigctlListener(Radio radio, QObject *parent)
    : QObject(parent)
    , m_radio(std::move(radio))
{
    connect(&m_server, &QTcpServer::newConnection, this, &RigctlListener::accept);
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
        auto client = std::make_shared<Client>();
        client->socket = socket;
        m_clients.insert(socket, client);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, client] { read(client); });
        // Handled from the event loop: giving the radio back may wait out a settling delay.
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            QMetaObject::invokeMethod(
                this, [this, socket] { gone(socket); }, Qt::QueuedConnection);
        });
    }
}

void RigctlListener::read(const std::shared_ptr<Client> &client)
{
    if (!client->socket)
        return;
    client->pending += client->session.feed(client->socket->readAll());
    if (client->pending.size() > MaxPendingLines) {
        // A client that only sends and never waits for its answers is not a host program.
        client->pending.clear();
        client->socket->abort();
        return;
    }
    serve(client);
}

// One command at a time per client, in order; a switch is answered once it is carried out (a
// receive after its settling delay), while other clients are served meanwhile.
void RigctlListener::serve(const std::shared_ptr<Client> &client)
{
    if (client->busy)
        return;
    client->busy = true;
    while (!client->pending.isEmpty() && client->socket) {
        const QByteArray line = client->pending.takeFirst();
        const RigctlSession::Reply reply = client->session.handle(line, m_radio.transmitting());
        if (reply.close) {
            client->pending.clear();
            client->socket->disconnectFromHost();
            break;
        }
        QByteArray text = reply.text;
        if (reply.ptt) {
            const bool transmit = *reply.ptt;
            const bool done = m_radio.switchTo(transmit);
            client->keyed = transmit && done;
            client->keyedAs = m_radio.transmitRequests();
            text = client->session.pttAnswer(done);
        }
        if (client->socket)
            client->socket->write(text);
    }
    client->busy = false;
}

// A client that keyed the radio and went (closed, or its connection dropped) gives it back,
// unless another request keyed it since.
void RigctlListener::gone(QTcpSocket *socket)
{
    const std::shared_ptr<Client> client = m_clients.take(socket);
    socket->deleteLater();
    if (!client)
        return;
    client->pending.clear();
    if (client->keyed && client->keyedAs == m_radio.transmitRequests() && m_radio.transmitting())
        m_radio.switchTo(false);
}
