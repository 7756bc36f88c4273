#include "serial/rfc2217portbackend.h"

#include "serial/porterror.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <utility>

Rfc2217PortBackend::Rfc2217PortBackend(const QString &address)
    : m_address(address)
{
    QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] { pump(); });
    QObject::connect(&m_socket, &QTcpSocket::disconnected, &m_socket, [this] {
        connectionGone(QStringLiteral("the remote port closed the connection"));
    });
    QObject::connect(&m_socket, &QTcpSocket::errorOccurred, &m_socket,
                     [this](QAbstractSocket::SocketError error) {
                         if (error != QAbstractSocket::SocketTimeoutError
                             && m_socket.state() != QAbstractSocket::ConnectedState)
                             connectionGone(m_socket.errorString());
                     });
}

void Rfc2217PortBackend::connectionGone(const QString &why)
{
    if (!m_lost.isEmpty())
        return;
    m_lost = why;
    // A failed open says so itself; only a port that was working is reported lost.
    if (m_opened)
        reportLost(QStringLiteral("%1: %2").arg(m_address, why));
}

Rfc2217PortBackend::~Rfc2217PortBackend()
{
    m_socket.abort();
}

bool Rfc2217PortBackend::parseAddress(const QString &address, QString *host, quint16 *port)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^rfc2217://(\[([0-9A-Fa-f:.]+)\]|([A-Za-z0-9.-]+)):([0-9]{1,5})/?$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = form.match(address.trimmed());
    if (!match.hasMatch())
        return false;
    const uint number = match.captured(4).toUInt();
    if (number == 0 || number > 65535)
        return false;
    *host = match.captured(2).isEmpty() ? match.captured(3) : match.captured(2);
    *port = quint16(number);
    return true;
}

void Rfc2217PortBackend::fail(int number, const QString &why)
{
    m_socket.abort();
    throw PortError(number, QStringLiteral("%1: %2").arg(m_address, why));
}

void Rfc2217PortBackend::pump()
{
    const QByteArray replies = m_protocol.receive(m_socket.readAll());
    // An unbuffered socket finds the server gone only when a read meets the end, and then
    // says so by its state alone, without a signal.
    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        connectionGone(m_socket.error() == QAbstractSocket::RemoteHostClosedError
                           ? QStringLiteral("the remote port closed the connection")
                           : m_socket.errorString());
        return;
    }
    if (!replies.isEmpty())
        m_socket.write(replies);
}

void Rfc2217PortBackend::waitUntil(const std::function<bool()> &done, QDeadlineTimer deadline,
                                   const QString &waitingFor)
{
    pump();
    while (!done()) {
        if (!m_lost.isEmpty())
            fail(PortError::PortUnavailable, m_lost);
        if (deadline.hasExpired() || !m_socket.waitForReadyRead(int(deadline.remainingTime()))) {
            if (!m_lost.isEmpty() || m_socket.state() != QAbstractSocket::ConnectedState)
                fail(PortError::PortUnavailable,
                     m_lost.isEmpty() ? m_socket.errorString() : m_lost);
            if (deadline.hasExpired())
                fail(PortError::PortUnavailable, QStringLiteral("no answer to %1 within %2 s")
                                                     .arg(waitingFor)
                                                     .arg(WaitLimitMs / 1000.0));
        }
        pump();
    }
}

void Rfc2217PortBackend::send(const QByteArray &bytes)
{
    if (m_holding) {
        // The connection is looked at once, when the gathered bytes leave.
        requireConnected();
        m_held += bytes;
        return;
    }
    requireUsable();
    sendNow(bytes);
}

void Rfc2217PortBackend::sendNow(const QByteArray &bytes)
{
    // Whatever the network cannot take at once is pushed out here, not at the next turn of the
    // event loop: the radio is waiting for it.
    m_socket.write(bytes);
    m_socket.flush();
    if (m_socket.bytesToWrite() > 0 && !m_socket.waitForBytesWritten(WaitLimitMs))
        throw PortError(
            PortError::WriteFailed,
            QStringLiteral("%1: cannot send: %2").arg(m_address, m_socket.errorString()));
}

void Rfc2217PortBackend::requireUsable()
{
    // Look at the socket now rather than waiting for the event loop, so a connection the server
    // has dropped is noticed by the very next operation.
    if (m_lost.isEmpty() && m_socket.state() == QAbstractSocket::ConnectedState)
        m_socket.waitForReadyRead(0);
    requireConnected();
}

void Rfc2217PortBackend::requireConnected() const
{
    if (!m_lost.isEmpty())
        throw PortError(PortError::PortUnavailable,
                        QStringLiteral("%1: connection lost: %2").arg(m_address, m_lost));
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        throw PortError(PortError::PortNotOpen,
                        QStringLiteral("%1: the port is not open").arg(m_address));
}

void Rfc2217PortBackend::open(const LineSettings &settings, bool dtr, bool rts)
{
    QString host;
    quint16 port = 0;
    if (!parseAddress(m_address, &host, &port))
        throw PortError(PortError::InvalidPortNumber,
                        QStringLiteral("%1: not of the form rfc2217://HOST:PORT").arg(m_address));
    const QDeadlineTimer deadline(WaitLimitMs);
    // Unbuffered: each write goes straight to the network instead of waiting in Qt's buffer
    // for the event loop or a flush.
    m_socket.connectToHost(host, port, QIODevice::ReadWrite | QIODevice::Unbuffered);
    if (!m_socket.waitForConnected(int(deadline.remainingTime())))
        fail(PortError::PortUnavailable,
             m_socket.error() == QAbstractSocket::SocketTimeoutError
                 ? QStringLiteral("no connection within %1 s").arg(WaitLimitMs / 1000.0)
                 : m_socket.errorString());
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);

    m_socket.write(m_protocol.start());
    waitUntil([this] { return m_protocol.comPortDecided(); }, deadline,
              QStringLiteral("the COM port option"));
    if (!m_protocol.comPortAccepted())
        fail(PortError::PortUnavailable,
             QStringLiteral("the server does not offer RFC 2217 port control"));

    // Settings and line states go out before any data, so the radio never sees a frame at the
    // wrong speed or a raised line it was not asked for.
    m_socket.write(m_protocol.configure(settings));
    m_socket.write(m_protocol.control(Rfc2217::ControlNoFlowControl));
    m_socket.write(m_protocol.control(rts ? Rfc2217::ControlRtsOn : Rfc2217::ControlRtsOff));
    m_socket.write(m_protocol.control(dtr ? Rfc2217::ControlDtrOn : Rfc2217::ControlDtrOff));
    m_socket.flush();
    waitUntil([this] { return !m_protocol.awaitingAnswers(); }, deadline,
              QStringLiteral("the line settings"));
    if (!m_protocol.refusal().isEmpty())
        fail(PortError::CommStateFailed, m_protocol.refusal());
    m_opened = true;
}

void Rfc2217PortBackend::close()
{
    m_opened = false;
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        m_socket.flush();
        m_socket.disconnectFromHost();
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            m_socket.waitForDisconnected(200);
    }
    m_socket.abort();
}

void Rfc2217PortBackend::holdOutput()
{
    m_holding = true;
}

void Rfc2217PortBackend::releaseOutput()
{
    m_holding = false;
    const QByteArray held = std::exchange(m_held, {});
    if (held.isEmpty())
        return;
    requireUsable();
    sendNow(held);
}

void Rfc2217PortBackend::applySettings(const LineSettings &settings)
{
    // The answer to the new settings is awaited below, so nothing may stay held.
    releaseOutput();
    send(m_protocol.configure(settings));
    waitUntil([this] { return !m_protocol.awaitingAnswers(); }, QDeadlineTimer(WaitLimitMs),
              QStringLiteral("the line settings"));
    if (!m_protocol.refusal().isEmpty())
        throw PortError(PortError::CommStateFailed,
                        QStringLiteral("%1: %2").arg(m_address, m_protocol.refusal()));
}

void Rfc2217PortBackend::setDtr(bool high)
{
    send(m_protocol.control(high ? Rfc2217::ControlDtrOn : Rfc2217::ControlDtrOff));
}

void Rfc2217PortBackend::setRts(bool high)
{
    send(m_protocol.control(high ? Rfc2217::ControlRtsOn : Rfc2217::ControlRtsOff));
}

void Rfc2217PortBackend::write(const QByteArray &bytes)
{
    send(m_protocol.data(bytes));
}
