#include "tools/ft847-sim/simserver.h"

#include "tools/ft847-sim/ft847frames.h"

#include "ft847/ft847cat.h"
#include "serial/telnet.h"

#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {
constexpr int FrameSize = 5;

QString endpoint(const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}
} // namespace

SimServer::SimServer(SimLog &log, QObject *parent)
    : QObject(parent)
    , m_log(log)
{
    connect(&m_server, &QTcpServer::newConnection, this, &SimServer::accept);
}

bool SimServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

QString SimServer::address() const
{
    return endpoint(m_server.serverAddress(), m_server.serverPort());
}

void SimServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString peer = endpoint(socket->peerAddress(), socket->peerPort());
        // A client that closes and at once reconnects (as the utility does for each change of
        // settings) may be heard again before its goodbye was read: read it now, with any last
        // bytes before it (the lines it dropped on closing).
        while (m_client && m_client->state() == QAbstractSocket::ConnectedState
               && m_client->waitForReadyRead(0)) {
        }
        if (m_client) {
            m_log.refused(peer);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_client = socket;
        m_session = Rfc2217ServerSession();
        m_frame.clear();
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, &SimServer::readClient);
        connect(socket, &QTcpSocket::disconnected, this, &SimServer::clientGone);
        m_log.connected(peer);
        // The serial port behind a server is opened at connect, and opening raises its lines
        // until the client lowers them.
        if (m_linesAtConnect && !m_raw) {
            m_session.setLines(true);
            m_log.lines(m_session.state());
        }
        if (!m_raw)
            socket->write(m_session.start());
    }
}

void SimServer::readClient()
{
    if (!m_client)
        return;
    // Everything in this read reached the radio now, however long the log takes to say so.
    const double arrived = monotonicSeconds();
    const SimPortState before = m_session.state();
    Rfc2217ServerSession::Result result;
    if (m_raw)
        result.data = m_client->readAll();
    else
        result = m_session.receive(m_client->readAll());
    if (!result.replies.isEmpty())
        m_client->write(result.replies);
    const SimPortState &after = m_session.state();
    // Settings and lines are reported before the data of the same read: a client sends them
    // first, and the radio acts on them first.
    if (!after.sameSettings(before))
        m_log.settings(after, arrived);
    if (!after.sameLines(before))
        m_log.lines(after, arrived);
    // The bytes reach the radio one after another at the line's rate, as on its serial cable:
    // a frame is the radio's once its last byte is in.
    double start = std::max(arrived, m_wireFree);
    m_frame += result.data;
    while (m_frame.size() >= FrameSize) {
        const QByteArray frame = m_frame.left(FrameSize);
        m_frame.remove(0, FrameSize);
        const double complete = start + wireSeconds(FrameSize);
        start = m_wireFree = complete;
        const int inMs = int(std::ceil((complete - monotonicSeconds()) * 1000.0));
        QTimer::singleShot(std::max(0, inMs), Qt::PreciseTimer, this,
                           [this, frame, complete] { received(frame, complete); });
    }
}

// How long `bytes` take on the radio's line: the client's rate (4800 8N2 on a raw bridge).
double SimServer::wireSeconds(int bytes) const
{
    const SimPortState &state = m_session.state();
    if (m_raw)
        return Ft847::wireMs(bytes, 4800) / 1000.0;
    return Ft847::wireMs(bytes, state.baud, state.stop.toDouble()) / 1000.0;
}

void SimServer::received(const QByteArray &frame, double complete)
{
    const double gapMs = (complete - m_lastFrame) * 1000.0;
    if (m_pacingMs > 0 && m_lastFrame > 0 && gapMs < m_pacingMs) {
        m_log.dropped(frame, gapMs, complete);
        return; // still busy with the one before: missed, and it does not count as taken
    }
    m_lastFrame = complete;
    m_log.frame(frame, ft847FrameName(frame), complete);
    act(frame, complete);
}

// What the radio does with a frame: switches satellite mode or CAT keying, tunes or changes the
// mode of one of its VFOs, or answers a read a moment later.
void SimServer::act(const QByteArray &frame, double at)
{
    using namespace Ft847;
    const auto opcode = std::uint8_t(frame[4]);
    switch (opcode) {
    case Opcode::SatelliteOn:
    case Opcode::SatelliteOff:
        if (m_satellite != (opcode == Opcode::SatelliteOn)) {
            m_satellite = !m_satellite;
            m_log.satellite(m_satellite, at);
        }
        return;
    case Opcode::PttOn:
    case Opcode::PttOff:
        m_catPtt = opcode == Opcode::PttOn;
        return;
    case Opcode::ReadRxStatus:
        answer(QByteArray(1, char((m_squelchOpen ? 0 : StatusFlag) | (m_dots & MeterMask))), at);
        return;
    case Opcode::ReadTxStatus:
        answer(QByteArray(1, char(m_catPtt ? 0 : StatusFlag)), at);
        return;
    default:
        break;
    }
    const QString name = ft847VfoName(opcode);
    if (name.isEmpty())
        return;
    Vfo &vfo = m_vfos[opcode >> 4];
    switch (opcode & 0x0f) {
    case Opcode::SetFrequency:
        if (const auto hz = frequencyFromBcd(frame.left(4)); hz && *hz != vfo.hz) {
            vfo.hz = *hz;
            m_log.frequency(vfo.hz, name, at);
        }
        break;
    case Opcode::SetMode: {
        const auto mode = std::uint8_t(frame[0]);
        if (!ft847ModeName(mode).isEmpty() && mode != vfo.mode) {
            vfo.mode = mode;
            m_log.mode(ft847ModeName(mode), name, at);
        }
        break;
    }
    case Opcode::ReadFrequencyMode:
        answer(encodeStatus({vfo.hz, modeFromCode(vfo.mode).value_or(Mode::Usb)}), at);
        break;
    default:
        break;
    }
}

// The answer leaves as the radio sends it, and is the client's once its last byte is out.
void SimServer::answer(const QByteArray &bytes, double at)
{
    if (!m_answersReads || !m_client)
        return;
    const double sent = at + wireSeconds(int(bytes.size()));
    const int inMs = int(std::ceil((sent - monotonicSeconds()) * 1000.0));
    QTimer::singleShot(std::max(0, inMs), Qt::PreciseTimer, m_client,
                       [client = m_client, bytes = m_raw ? bytes : Telnet::escape(bytes)] {
                           if (client && client->state() == QAbstractSocket::ConnectedState)
                               client->write(bytes);
                       });
}

void SimServer::clientGone()
{
    if (!m_client)
        return;
    readClient();
    const SimPortState before = m_session.state();
    m_session.setLines(false);
    if (!m_session.state().sameLines(before))
        m_log.lines(m_session.state());
    m_log.disconnected();
    m_client->deleteLater();
    m_client = nullptr;
    m_frame.clear();
    m_lastFrame = 0;
}
