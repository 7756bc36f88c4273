#include "net/clientconnection.h"

#include "net/socketio.h"

namespace {

// What one read takes; a few of them a turn, so one busy client cannot hold the window.
constexpr qint64 ReadChunk = 16 * 1024;
constexpr int ReadsPerTurn = 4;

QHostAddress plain(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4)
                                                                         : address;
}

} // namespace

ClientConnection::ClientConnection(qintptr socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_peer(plain(SocketIo::peer(socket)))
    , m_reader(socket, QSocketNotifier::Read)
    , m_writer(socket, QSocketNotifier::Write)
{
    SocketIo::prepare(socket);
    m_writer.setEnabled(false);
    m_linger.setSingleShot(true);
    m_linger.setInterval(LingerMs);
    connect(&m_reader, &QSocketNotifier::activated, this, &ClientConnection::readable);
    connect(&m_writer, &QSocketNotifier::activated, this, &ClientConnection::flush);
    connect(&m_linger, &QTimer::timeout, this, &ClientConnection::close);
}

ClientConnection::~ClientConnection()
{
    if (m_socket != NoSocket) {
        m_reader.setEnabled(false);
        m_writer.setEnabled(false);
        SocketIo::close(m_socket);
    }
}

void ClientConnection::readable()
{
    for (int turn = 0; turn < ReadsPerTurn && m_socket != NoSocket; ++turn) {
        QByteArray bytes(ReadChunk, Qt::Uninitialized);
        const qint64 got = SocketIo::receive(m_socket, bytes.data(), ReadChunk);
        if (got == SocketIo::WouldBlock)
            return;
        if (got == SocketIo::Failed) {
            close();
            return;
        }
        if (got == 0) {
            m_inputEnded = true;
            m_reader.setEnabled(false);
            if (m_finishing) {
                if (m_output.isEmpty())
                    close();
            } else {
                Q_EMIT inputClosed();
            }
            return;
        }
        if (!m_finishing) {
            bytes.truncate(got);
            Q_EMIT received(bytes);
        }
        if (got < ReadChunk)
            return;
    }
}

void ClientConnection::write(const QByteArray &bytes)
{
    if (m_socket == NoSocket || bytes.isEmpty())
        return;
    m_output += bytes;
    if (!m_writer.isEnabled())
        flush();
}

void ClientConnection::flush()
{
    while (!m_output.isEmpty() && m_socket != NoSocket) {
        const qint64 sent = SocketIo::send(m_socket, m_output.constData(), m_output.size());
        if (sent == SocketIo::Failed) {
            close();
            return;
        }
        if (sent == SocketIo::WouldBlock) {
            m_writer.setEnabled(true); // carried on when the client takes some
            return;
        }
        m_output.remove(0, sent);
    }
    m_writer.setEnabled(false);
    if (m_finishing && m_socket != NoSocket) {
        // All is sent: the client reads the end after its last answer. Once it closes its side
        // too (or has already), nothing is left to wait for.
        SocketIo::shutdownSend(m_socket);
        if (m_inputEnded)
            close();
    }
}

void ClientConnection::finish()
{
    if (m_socket == NoSocket || m_finishing)
        return;
    m_finishing = true;
    m_linger.start();
    if (!m_writer.isEnabled())
        flush();
}

void ClientConnection::abort()
{
    m_output.clear();
    close();
}

void ClientConnection::close()
{
    if (m_socket == NoSocket)
        return;
    m_reader.setEnabled(false);
    m_writer.setEnabled(false);
    m_linger.stop();
    SocketIo::close(m_socket);
    m_socket = NoSocket;
    Q_EMIT closed();
}
