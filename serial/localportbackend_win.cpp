#include "serial/localportbackend_win.h"

#include "serial/porterror.h"

namespace {

constexpr int WriteTimeoutMs = 1000;

QSerialPort::Parity toQt(char parity)
{
    switch (parity) {
    case 'e':
        return QSerialPort::EvenParity;
    case 'o':
        return QSerialPort::OddParity;
    case 'm':
        return QSerialPort::MarkParity;
    case 's':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits toQt(LineSettings::StopBits stop)
{
    switch (stop) {
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    case LineSettings::StopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

} // namespace

std::unique_ptr<PortBackend> createLocalPortBackend(const QString &device)
{
    return std::make_unique<LocalPortBackend>(device);
}

QString localPortRefusal(const LineSettings &settings)
{
    // The system's serial drivers take 1.5 stop bits only with 5 data bits, and 2 only with 6 or
    // more; anything else would fail later, at open, instead of when it is typed.
    if (settings.stopBits == LineSettings::StopBits::OneAndHalf && settings.dataBits != 5)
        return QStringLiteral("a local port takes 1.5 stop bits only with 5 data bits");
    if (settings.stopBits == LineSettings::StopBits::Two && settings.dataBits == 5)
        return QStringLiteral("a local port takes 2 stop bits only with 6 to 8 data bits");
    return QString();
}

LocalPortBackend::LocalPortBackend(const QString &device)
    : m_device(device)
{
    m_port.setPortName(device);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    QObject::connect(&m_port, &QSerialPort::readyRead, &m_port,
                     [this] { reportData(m_port.readAll()); });
    QObject::connect(
        &m_port, &QSerialPort::errorOccurred, &m_port, [this](QSerialPort::SerialPortError error) {
            // The device went away under an open port (a USB adapter unplugged).
            if (error == QSerialPort::ResourceError && m_port.isOpen())
                reportLost(QStringLiteral("%1: %2").arg(m_device, m_port.errorString()));
        });
}

LocalPortBackend::~LocalPortBackend()
{
    m_port.close();
}

void LocalPortBackend::raise(int number, const QString &what) const
{
    throw PortError(number, QStringLiteral("%1 %2: %3").arg(what, m_device, m_port.errorString()));
}

void LocalPortBackend::requireOpen() const
{
    if (!m_port.isOpen())
        throw PortError(PortError::PortNotOpen,
                        QStringLiteral("Port %1 is not open").arg(m_device));
}

void LocalPortBackend::open(const LineSettings &settings, bool dtr, bool rts)
{
    // The radio's answers are read as they come and handed to the port object.
    if (!m_port.open(QIODevice::ReadWrite))
        raise(PortError::PortUnavailable, QStringLiteral("Cannot open"));
    // Lines first, so a radio that keys on DTR or RTS is released as soon as the device opens.
    // A device without modem lines (a pseudo-terminal) refuses these; it still carries bytes.
    m_port.setRequestToSend(rts);
    m_port.setDataTerminalReady(dtr);
    m_port.clearError();
    try {
        applySettings(settings);
    } catch (...) {
        m_port.close();
        throw;
    }
}

void LocalPortBackend::close()
{
    m_port.close();
}

void LocalPortBackend::applySettings(const LineSettings &settings)
{
    requireOpen();
    if (!m_port.setBaudRate(settings.baud) || !m_port.setParity(toQt(settings.parity))
        || !m_port.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits))
        || !m_port.setStopBits(toQt(settings.stopBits)))
        raise(PortError::CommStateFailed,
              QStringLiteral("Cannot apply %1 to").arg(settings.toText()));
}

void LocalPortBackend::setDtr(bool high)
{
    requireOpen();
    if (!m_port.setDataTerminalReady(high))
        raise(PortError::CommStateFailed, QStringLiteral("Cannot set DTR on"));
}

void LocalPortBackend::setRts(bool high)
{
    requireOpen();
    if (!m_port.setRequestToSend(high))
        raise(PortError::CommStateFailed, QStringLiteral("Cannot set RTS on"));
}

void LocalPortBackend::write(const QByteArray &bytes)
{
    requireOpen();
    if (m_port.write(bytes) != bytes.size())
        raise(PortError::WriteFailed, QStringLiteral("Cannot write to"));
    // Hand the frame to the device now rather than at the next turn of the event loop.
    m_port.flush();
    if (m_port.bytesToWrite() > 0 && !m_port.waitForBytesWritten(WriteTimeoutMs))
        raise(PortError::WriteFailed, QStringLiteral("Cannot write to"));
}
