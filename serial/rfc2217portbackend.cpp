#include "serial/rfc2217portbackend.h"

#include "serial/hostport.h"
#include "serial/porterror.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <utility>

Rfc2217PortBackend::Rfc2217PortBackend(const QString &address)
    : m_address(address)
{
    QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] { pump(); });
    // While open() waits, it moves the open on itself; afterwards the network does.
    QObject::connect(&m_socket, &QTcpSocket::connected, &m_socket, [this] {
        if (m_returned)
            advance();
    });
    QObject::connect(&m_socket, &QTcpSocket::disconnected, &m_socket, [this] {
        connectionGone(QStringLiteral("the remote port closed the connection"));
    });
    QObject::connect(&m_socket, &QTcpSocket::errorOccurred, &m_socket,
                     [this](QAbstractSocket::SocketError error) {
                         if (error != QAbstractSocket::SocketTimeoutError
                             && m_socket.state() != QAbstractSocket::ConnectedState)
                             connectionGone(m_socket.errorString());
                     });
    m_answerDeadline.setSingleShot(true);
    QObject::connect(&m_answerDeadline, &QTimer::timeout, &m_socket,
                     [this] { answerDeadlinePassed(); });
}

Rfc2217PortBackend::~Rfc2217PortBackend()
{
    m_returned = false; // nothing is reported from here on
    m_socket.abort();
}

bool Rfc2217PortBackend::parseAddress(const QString &address, QString *host, quint16 *port)
{
    static const QRegularExpression form(QStringLiteral(R"(^rfc2217://(.*?)/?$)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto match = form.match(address.trimmed());
    if (!match.hasMatch())
        return false;
    const auto parsed = parseHostPort(match.captured(1));
    if (!parsed)
        return false;
    *host = parsed->host;
    *port = parsed->port;
    return true;
}

void Rfc2217PortBackend::connectionGone(const QString &why)
{
    if (!m_lost.isEmpty())
        return;
    m_lost = why;
    // Before open() has returned, it says so itself.
    if (!m_returned)
        return;
    const bool working = m_stage == Stage::Ready;
    m_stage = Stage::Failed;
    m_answerDeadline.stop();
    reportLost(QStringLiteral("%1: %2").arg(m_address, why), working);
}

// Raised while open() still waits; reported once it has returned.
void Rfc2217PortBackend::giveUp(int number, const QString &why)
{
    const bool working = m_stage == Stage::Ready;
    m_lost = why;
    m_stage = Stage::Failed;
    m_answerDeadline.stop();
    m_socket.abort();
    if (!m_returned)
        throw PortError(number, QStringLiteral("%1: %2").arg(m_address, why));
    reportLost(QStringLiteral("%1: %2").arg(m_address, why), working);
}

void Rfc2217PortBackend::pump()
{
    QByteArray data;
    const QByteArray replies = m_protocol.receive(m_socket.readAll(), &data);
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
    if (m_returned)
        advance();
    reportData(data);
}

// One step of the open as far as the server's answers allow: connected, the COM port option
// agreed, the settings and lines answered.
void Rfc2217PortBackend::advance()
{
    if (m_stage == Stage::Connecting && m_socket.state() == QAbstractSocket::ConnectedState) {
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_socket.write(m_protocol.start());
        m_stage = Stage::Negotiating;
        m_waitingFor = QStringLiteral("the COM port option");
    }
    if (m_stage == Stage::Negotiating && m_protocol.comPortDecided()) {
        if (!m_protocol.comPortAccepted())
            return giveUp(PortError::PortUnavailable,
                          QStringLiteral("the server does not offer RFC 2217 port control"));
        // Settings and line states go out before any data, so the radio never sees a frame at
        // the wrong speed or a raised line it was not asked for.
        m_socket.write(
            m_protocol.configure(m_openSettings) + m_protocol.control(Rfc2217::ControlNoFlowControl)
            + m_protocol.control(m_openRts ? Rfc2217::ControlRtsOn : Rfc2217::ControlRtsOff)
            + m_protocol.control(m_openDtr ? Rfc2217::ControlDtrOn : Rfc2217::ControlDtrOff));
        m_stage = Stage::Configuring;
        m_waitingFor = QStringLiteral("the line settings");
    }
    if ((m_stage == Stage::Configuring || m_stage == Stage::Ready)
        && !m_protocol.awaitingAnswers()) {
        // New settings while open are refused to the caller that waits for them, or, once it no
        // longer waits, reported.
        if (!m_protocol.refusal().isEmpty() && (m_stage == Stage::Configuring || m_returned))
            return giveUp(PortError::CommStateFailed, m_protocol.refusal());
        m_answerDeadline.stop();
        if (m_stage == Stage::Configuring) {
            m_stage = Stage::Ready;
            if (m_returned) {
                // What the caller sent meanwhile follows the settings, in its order.
                const QByteArray waiting = std::exchange(m_beforeReady, {});
                if (!waiting.isEmpty())
                    m_socket.write(waiting);
                reportReady();
            }
        }
    }
}

void Rfc2217PortBackend::answerDeadlinePassed()
{
    if (m_stage == Stage::Ready && !m_protocol.awaitingAnswers())
        return;
    giveUp(PortError::PortUnavailable,
           m_stage == Stage::Connecting
               ? QStringLiteral("no connection within %1 s").arg(WaitLimitMs / 1000.0)
               : QStringLiteral("no answer to %1 within %2 s")
                     .arg(m_waitingFor)
                     .arg(WaitLimitMs / 1000.0));
}

// Waits for the server while that is quick; whatever is left is finished in the background.
void Rfc2217PortBackend::waitQuickly(const std::function<bool()> &done)
{
    const QDeadlineTimer quick(QuickAnswerMs);
    while (true) {
        advance(); // raises a failure while open() waits
        if (done())
            return;
        if (!m_lost.isEmpty())
            throw PortError(PortError::PortUnavailable,
                            QStringLiteral("%1: %2").arg(m_address, m_lost));
        if (quick.hasExpired())
            return;
        const int left = int(qMax<qint64>(1, quick.remainingTime()));
        if (m_stage == Stage::Connecting)
            m_socket.waitForConnected(left);
        else if (m_socket.waitForReadyRead(left))
            pump();
    }
}

void Rfc2217PortBackend::open(const LineSettings &settings, bool dtr, bool rts)
{
    QString host;
    quint16 port = 0;
    if (!parseAddress(m_address, &host, &port))
        throw PortError(PortError::InvalidPortNumber,
                        QStringLiteral("%1: not of the form rfc2217://HOST:PORT").arg(m_address));
    m_openSettings = settings;
    m_openDtr = dtr;
    m_openRts = rts;
    m_lost.clear();
    m_stage = Stage::Connecting;
    m_waitingFor = QStringLiteral("a connection");
    // Unbuffered: each write goes straight to the network instead of waiting in Qt's buffer
    // for the event loop or a flush.
    m_socket.connectToHost(host, port, QIODevice::ReadWrite | QIODevice::Unbuffered);
    // A radio that answers at once (one on a working network always does) is open when this
    // returns; a slow one is finished in the background, so the window never stands still.
    waitQuickly([this] { return m_stage == Stage::Ready; });
    m_returned = true;
    if (m_stage != Stage::Ready)
        m_answerDeadline.start(WaitLimitMs - QuickAnswerMs);
}

void Rfc2217PortBackend::close()
{
    m_returned = false;
    m_stage = Stage::Closed;
    m_answerDeadline.stop();
    // What was sent has gone to the network already; a remote end that stopped taking it is not
    // waited for: its connection closes, and the serial port behind it drops its lines.
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        m_socket.flush();
        m_socket.disconnectFromHost();
    }
    m_socket.abort();
}

void Rfc2217PortBackend::send(const QByteArray &bytes)
{
    if (m_holding) {
        // The connection is looked at once, when the gathered bytes leave.
        requireConnected();
        m_held += bytes;
        return;
    }
    if (m_stage != Stage::Ready) {
        requireConnected();
        m_beforeReady += bytes;
        return;
    }
    requireUsable();
    sendNow(bytes);
}

// The socket is unbuffered: the bytes go straight to the network. What the network cannot take
// at once (a remote end that stopped reading) Qt keeps and sends, in order, from the event loop;
// nothing waits here. A remote end that takes nothing for long enough is a lost one.
void Rfc2217PortBackend::sendNow(const QByteArray &bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
    if (m_socket.bytesToWrite() > MaxUnsent) {
        const QString why = QStringLiteral("the remote port takes no data");
        connectionGone(why);
        throw PortError(PortError::WriteFailed,
                        QStringLiteral("%1: cannot send: %2").arg(m_address, why));
    }
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
    const bool opening = m_stage == Stage::Connecting || m_stage == Stage::Negotiating
                         || m_stage == Stage::Configuring;
    if (!opening && m_socket.state() != QAbstractSocket::ConnectedState)
        throw PortError(PortError::PortNotOpen,
                        QStringLiteral("%1: the port is not open").arg(m_address));
}

void Rfc2217PortBackend::holdOutput()
{
    m_holding = true;
}

void Rfc2217PortBackend::releaseOutput()
{
    m_holding = false;
    const QByteArray held = std::exchange(m_held, {});
    if (!held.isEmpty())
        send(held);
}

void Rfc2217PortBackend::applySettings(const LineSettings &settings)
{
    // The answer to the new settings is awaited below, so nothing may stay held.
    releaseOutput();
    requireConnected();
    if (m_stage == Stage::Connecting || m_stage == Stage::Negotiating) {
        m_openSettings = settings; // the open sends them
        return;
    }
    if (m_stage == Stage::Ready)
        requireUsable();
    // A server still owing earlier answers is slow already: waiting again for each keystroke
    // would add up to a window that stands still. The deadline already running covers these.
    const bool behind = m_protocol.awaitingAnswers() && m_answerDeadline.isActive();
    m_socket.write(m_protocol.configure(settings));
    m_socket.flush();
    if (behind)
        return;
    const bool returned = std::exchange(m_returned, false); // a refusal now is raised
    try {
        waitQuickly([this] { return !m_protocol.awaitingAnswers(); });
    } catch (...) {
        m_returned = returned;
        throw;
    }
    m_returned = returned;
    if (!m_protocol.refusal().isEmpty())
        throw PortError(PortError::CommStateFailed,
                        QStringLiteral("%1: %2").arg(m_address, m_protocol.refusal()));
    if (m_protocol.awaitingAnswers() && !m_answerDeadline.isActive()) {
        m_waitingFor = QStringLiteral("the line settings");
        m_answerDeadline.start(WaitLimitMs - QuickAnswerMs);
    }
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
