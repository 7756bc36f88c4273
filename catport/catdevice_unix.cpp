#include "catport/catdevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// 4800 baud, 8 data bits, no parity, 2 stop bits, no echo or line editing: the FT-847's own.
void makeRaw(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B4800);
    cfsetospeed(&tio, B4800);
    tio.c_cflag |= CSTOPB | CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &tio);
}

// What is at the path already: a serial device to open as it is (a device, or a link to a live
// one: a socat pair's end, /dev/serial/by-id/...); a link the utility made earlier, to replace
// (one to a pseudo-terminal that has gone, or whose number a terminal now uses); or something
// else, left alone.
enum class Existing { Nothing, Device, OurLink, Other };

Existing whatIsAt(const QByteArray &path, const struct stat &st)
{
    if (S_ISCHR(st.st_mode))
        return Existing::Device;
    if (!S_ISLNK(st.st_mode))
        return Existing::Other;
    char target[512];
    const ssize_t n = ::readlink(path.constData(), target, sizeof target - 1);
    const QByteArray to = n > 0 ? QByteArray(target, qsizetype(n)) : QByteArray();
    const bool pseudo = to.startsWith("/dev/pts/");
    struct stat device{};
    if (::stat(path.constData(), &device) != 0 || !S_ISCHR(device.st_mode))
        return pseudo ? Existing::OurLink : Existing::Other;
    if (!pseudo)
        return Existing::Device;
    // A terminal echoes what is typed; a pseudo-terminal made for a radio program does not.
    const int fd = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    const bool terminal = fd >= 0 && tcgetattr(fd, &tio) == 0 && (tio.c_lflag & ECHO);
    if (fd >= 0)
        ::close(fd);
    return terminal ? Existing::OurLink : Existing::Device;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

struct CatDevice::Impl
{
    int fd = -1;
    bool pseudo = false; // our own pseudo-terminal, whose hang-up shows a program leaving
    bool present = false;
    QString target;
    QString link;
    std::unique_ptr<QSocketNotifier> reader;
    QTimer watch; // while no program has the pseudo-terminal open
};

// The runtime folder is the user's own and lasts the session; without one, the config folder.
QString CatDevice::defaultPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString base = runtime.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                             : runtime;
    return base + QStringLiteral("/zolvek-ptt/ft847");
}

QString CatDevice::askText()
{
    return QStringLiteral("Make a serial FT-847 for programs that drive the radio over a serial "
                          "port, at:\na path that becomes a link to a pseudo-terminal (set the "
                          "program's port to it, 4800 baud), or a serial device to open as it "
                          "is.");
}

CatDevice::CatDevice(QObject *parent)
    : QObject(parent)
    , m_impl(std::make_unique<Impl>())
{
    m_impl->watch.setInterval(50);
    connect(&m_impl->watch, &QTimer::timeout, this, [this] {
        // A program that opened, wrote and closed between two looks is still heard.
        pollfd look{m_impl->fd, POLLIN, 0};
        if (::poll(&look, 1, 0) <= 0)
            return;
        if (look.revents & POLLIN) {
            char buffer[512];
            const ssize_t n = ::read(m_impl->fd, buffer, sizeof buffer);
            if (n > 0)
                Q_EMIT received(QByteArray(buffer, qsizetype(n)));
        }
        if (!(look.revents & POLLHUP)) {
            m_impl->present = true;
            m_impl->watch.stop();
            m_impl->reader->setEnabled(true);
        }
    });
}

CatDevice::~CatDevice()
{
    blockSignals(true); // the door behind it is going too
    close();
}

bool CatDevice::isOpen() const
{
    return m_impl->fd >= 0;
}

QString CatDevice::target() const
{
    return m_impl->target;
}

bool CatDevice::open(const QString &path, QString *why)
{
    close();
    const QString clean = QDir::cleanPath(path.trimmed());
    if (clean.isEmpty() || clean == QLatin1String(".")) {
        *why = QStringLiteral("no path given for the serial FT-847 port");
        return false;
    }
    const QByteArray native = QFile::encodeName(clean);
    struct stat st{};
    const bool exists = ::lstat(native.constData(), &st) == 0;
    const Existing existing = exists ? whatIsAt(native, st) : Existing::Nothing;
    if (existing == Existing::Device) {
        // A serial device of the operator's: opened as it is.
        const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            *why = QStringLiteral("cannot open %1: %2").arg(clean, systemError());
            return false;
        }
        if (!::isatty(fd)) {
            ::close(fd);
            *why = QStringLiteral("%1 is not a serial device").arg(clean);
            return false;
        }
        makeRaw(fd);
        m_impl->fd = fd;
        m_impl->pseudo = false;
        m_impl->present = true;
    } else {
        if (existing == Existing::Other) {
            *why = QStringLiteral("%1 is neither a serial device nor a link to a pseudo-terminal "
                                  "of the utility's; name another path for the serial FT-847 "
                                  "port")
                       .arg(clean);
            return false;
        }
        const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
            *why = QStringLiteral("cannot make a pseudo-terminal: %1").arg(systemError());
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        const QString slave = QString::fromLocal8Bit(::ptsname(fd));
        // Opened once to make it raw, as a real port at the radio's settings; closing it again
        // leaves the pseudo-terminal hung up until a program opens it.
        const int side =
            ::open(QFile::encodeName(slave).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (side >= 0) {
            makeRaw(side);
            ::close(side);
        }
        // The link is replaced in one step, so a program never finds it missing or stale.
        QDir().mkpath(QFileInfo(clean).absolutePath());
        const QByteArray temporary = native + ".new";
        ::unlink(temporary.constData());
        if (::symlink(QFile::encodeName(slave).constData(), temporary.constData()) != 0
            || ::rename(temporary.constData(), native.constData()) != 0) {
            *why = QStringLiteral("cannot make the link %1: %2").arg(clean, systemError());
            ::unlink(temporary.constData());
            ::close(fd);
            return false;
        }
        m_impl->fd = fd;
        m_impl->pseudo = true;
        m_impl->present = false;
        m_impl->target = slave;
        m_impl->link = clean;
    }
    m_path = clean;
    m_impl->reader = std::make_unique<QSocketNotifier>(m_impl->fd, QSocketNotifier::Read);
    connect(m_impl->reader.get(), &QSocketNotifier::activated, this, [this] {
        char buffer[512];
        const ssize_t n = ::read(m_impl->fd, buffer, sizeof buffer);
        if (n > 0) {
            Q_EMIT received(QByteArray(buffer, qsizetype(n)));
            return;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // EIO on a pseudo-terminal: its last program closed it.
        m_impl->reader->setEnabled(false);
        m_impl->present = false;
        if (m_impl->pseudo) {
            tcflush(m_impl->fd, TCIOFLUSH);
            m_impl->watch.start();
        }
        Q_EMIT programLeft();
    });
    if (m_impl->pseudo) {
        m_impl->reader->setEnabled(false);
        m_impl->watch.start();
    }
    return true;
}

void CatDevice::close()
{
    m_impl->watch.stop();
    m_impl->reader.reset();
    // Our own link goes with the pseudo-terminal it names; one made anew since (by another
    // start) is left alone. Looked at while ours is still held, so its name is not yet reused.
    if (!m_impl->link.isEmpty()) {
        const QByteArray native = QFile::encodeName(m_impl->link);
        char target[512];
        const ssize_t n = ::readlink(native.constData(), target, sizeof target - 1);
        if (n > 0 && QString::fromLocal8Bit(target, qsizetype(n)) == m_impl->target)
            ::unlink(native.constData());
    }
    if (m_impl->fd >= 0)
        ::close(m_impl->fd);
    const bool wasPresent = m_impl->present;
    m_impl->fd = -1;
    m_impl->present = false;
    m_impl->target.clear();
    m_impl->link.clear();
    m_path.clear();
    if (wasPresent)
        Q_EMIT programLeft();
}

void CatDevice::write(const QByteArray &bytes)
{
    // Nobody to read it: a program that opens later must not find stale answers.
    if (m_impl->fd < 0 || !m_impl->present)
        return;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_impl->fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return; // a program that does not read its answers loses them, as on a real line
        done += n;
    }
}
