#include "serial/localportbackend_unix.h"

#include "serial/porterror.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
// The kernel's own termios, with a speed field that holds any rate. Not glibc's <termios.h>,
// whose struct of the same name it would clash with.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace {

// Flag bits as the kernel's unsigned flag type, so clearing them (~) stays unsigned.
constexpr tcflag_t bits(unsigned flags)
{
    return tcflag_t(flags);
}

// The kernel's code for a rate its drivers know by name; BOTHER for the others (14400, 28800,
// 56000, 128000, 256000), whose exact rate then travels in the speed fields.
tcflag_t speedCode(int baud)
{
    switch (baud) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return BOTHER;
    }
}

bool gone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV;
}

} // namespace

std::unique_ptr<PortBackend> createLocalPortBackend(const QString &device)
{
    return std::make_unique<LocalPortBackend>(device);
}

QString localPortRefusal(const LineSettings &settings)
{
    // Linux serial drivers know one or two stop bits; 1.5 would silently become 1.
    if (settings.stopBits == LineSettings::StopBits::OneAndHalf)
        return QStringLiteral("a local port has no 1.5 stop bits");
    return QString();
}

LocalPortBackend::LocalPortBackend(const QString &device)
    : m_device(device)
{
}

LocalPortBackend::~LocalPortBackend()
{
    close();
}

void LocalPortBackend::raise(int number, const QString &what, int error) const
{
    throw PortError(number, QStringLiteral("%1 %2: %3")
                                .arg(what, m_device, QString::fromLocal8Bit(std::strerror(error))));
}

void LocalPortBackend::requireOpen() const
{
    if (m_fd < 0)
        throw PortError(PortError::PortNotOpen,
                        QStringLiteral("Port %1 is not open").arg(m_device));
}

void LocalPortBackend::open(const LineSettings &settings, bool dtr, bool rts)
{
    if (::access(m_device.toLocal8Bit().constData(), F_OK) != 0)
        throw PortError(PortError::PortUnavailable,
                        QStringLiteral("Cannot open %1: no such device").arg(m_device));
    requireTakes(settings);
    const int fd =
        ::open(m_device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        raise(PortError::PortUnavailable, QStringLiteral("Cannot open"), errno);
    // The driver has just raised DTR and RTS: lower them before anything else, so a radio keyed
    // by them is released within microseconds. A device without modem lines refuses this.
    const int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);
    // One program at a time: a port another program holds is busy.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        raise(PortError::PortUnavailable, QStringLiteral("Cannot open"), error);
    }
    m_fd = fd;
    try {
        termios2 mode{};
        if (::ioctl(fd, TCGETS2, &mode) != 0)
            raise(PortError::CommStateFailed, QStringLiteral("Cannot configure"), errno);
        // Raw bytes both ways, as cfmakeraw() gives them.
        mode.c_iflag &=
            ~bits(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
        mode.c_oflag &= ~bits(OPOST);
        mode.c_lflag &= ~bits(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        // No modem control of the input side; the lines drop when the port closes.
        mode.c_cflag &= ~bits(CRTSCTS);
        mode.c_cflag |= bits(CLOCAL | CREAD | HUPCL);
        mode.c_cc[VMIN] = 0;
        mode.c_cc[VTIME] = 0;
        // Raw mode, the frame format and the rate in one call: the device never runs at a
        // stale speed.
        setMode(mode, settings);
    } catch (...) {
        close();
        throw;
    }
    const int raised = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    if (raised)
        ::ioctl(fd, TIOCMBIS, &raised);
    m_input = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_input.get(), &QSocketNotifier::activated, m_input.get(),
                     [this] { drainInput(); });
    m_output = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    m_output->setEnabled(false);
    QObject::connect(m_output.get(), &QSocketNotifier::activated, m_output.get(), [this] {
        try {
            sendUnsent();
        } catch (const PortError &) {
            // Said through the lost handler where the device is gone; otherwise dropped with it.
        }
    });
}

// What the radio sends goes to the port object; reading it also tells at once when the device
// goes away.
void LocalPortBackend::drainInput()
{
    char buffer[256];
    while (m_fd >= 0) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got > 0) {
            reportData(QByteArray(buffer, qsizetype(got)));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        const int error = got < 0 ? errno : EIO;
        m_input->setEnabled(false);
        reportLost(
            QStringLiteral("%1: %2").arg(m_device, QString::fromLocal8Bit(std::strerror(error))));
        return;
    }
}

void LocalPortBackend::close()
{
    m_input.reset();
    m_output.reset();
    m_unsent.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void LocalPortBackend::requireTakes(const LineSettings &settings) const
{
    if (const QString why = localPortRefusal(settings); !why.isEmpty())
        throw PortError(
            PortError::CommStateFailed,
            QStringLiteral("Cannot apply %1 to %2: %3").arg(settings.toText(), m_device, why));
}

void LocalPortBackend::applySettings(const LineSettings &settings)
{
    requireOpen();
    requireTakes(settings);
    termios2 mode{};
    if (::ioctl(m_fd, TCGETS2, &mode) != 0)
        raise(PortError::CommStateFailed, QStringLiteral("Cannot configure"), errno);
    setMode(mode, settings);
}

// Every rate, named or not, is set by this one call: a named one by its code, any other as
// BOTHER with the exact rate in the speed fields. The input side follows the output side.
void LocalPortBackend::setMode(termios2 &mode, const LineSettings &settings)
{
    mode.c_cflag &= ~bits(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CBAUD | CIBAUD);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    mode.c_cflag |= sizes[settings.dataBits - 5];
    if (settings.stopBits == LineSettings::StopBits::Two)
        mode.c_cflag |= bits(CSTOPB);
    switch (settings.parity) {
    case 'e':
        mode.c_cflag |= bits(PARENB);
        break;
    case 'o':
        mode.c_cflag |= bits(PARENB | PARODD);
        break;
    case 'm':
        mode.c_cflag |= bits(PARENB | CMSPAR | PARODD);
        break;
    case 's':
        mode.c_cflag |= bits(PARENB | CMSPAR);
        break;
    default:
        break;
    }
    mode.c_cflag |= speedCode(settings.baud);
    mode.c_ispeed = mode.c_ospeed = speed_t(settings.baud);
    if (::ioctl(m_fd, TCSETS2, &mode) != 0)
        raise(PortError::CommStateFailed,
              QStringLiteral("Cannot apply %1 to").arg(settings.toText()), errno);
}

void LocalPortBackend::setLine(int line, bool high, const char *name)
{
    requireOpen();
    if (::ioctl(m_fd, high ? TIOCMBIS : TIOCMBIC, &line) != 0)
        raise(PortError::CommStateFailed,
              QStringLiteral("Cannot set %1 on").arg(QLatin1String(name)), errno);
}

void LocalPortBackend::setDtr(bool high)
{
    setLine(TIOCM_DTR, high, "DTR");
}

void LocalPortBackend::setRts(bool high)
{
    setLine(TIOCM_RTS, high, "RTS");
}

// Never waits for the device: what it cannot take now (a flow-controlled or wedged adapter)
// follows in order as it takes it. The lines never wait behind it.
void LocalPortBackend::write(const QByteArray &bytes)
{
    requireOpen();
    if (m_unsent.size() + bytes.size() > MaxUnsent)
        raise(PortError::WriteFailed, QStringLiteral("Cannot write to"), ETIMEDOUT);
    m_unsent += bytes;
    sendUnsent();
}

void LocalPortBackend::sendUnsent()
{
    while (!m_unsent.isEmpty() && m_fd >= 0) {
        const ssize_t wrote = ::write(m_fd, m_unsent.constData(), size_t(m_unsent.size()));
        if (wrote > 0) {
            m_unsent.remove(0, qsizetype(wrote));
            continue;
        }
        const int error = errno;
        if (wrote < 0 && error == EINTR)
            continue;
        if (wrote < 0 && error == EAGAIN)
            break;
        const int why = wrote < 0 ? error : EIO;
        m_unsent.clear();
        if (gone(why))
            reportLost(
                QStringLiteral("%1: %2").arg(m_device, QString::fromLocal8Bit(std::strerror(why))));
        raise(PortError::WriteFailed, QStringLiteral("Cannot write to"), why);
    }
    m_output->setEnabled(!m_unsent.isEmpty());
}
