#include "catport/catdevice.h"

#include <QRegularExpression>
#include <QTimer>

#include <windows.h>

namespace {

QString systemError()
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, GetLastError(), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QString();
    LocalFree(text);
    return message;
}

} // namespace

struct CatDevice::Impl
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    // DSR follows the program's DTR on a virtual pair wired as com0com's default: once seen
    // raised, its drop is the program closing its port. Never raised: nothing is concluded.
    bool dsrSeen = false;
    QTimer poll;
};

QString CatDevice::defaultPath()
{
    return QString();
}

QString CatDevice::askText()
{
    return QStringLiteral("Serve a serial FT-847 for programs that drive the radio over a serial "
                          "port on:\nthe COM name of one end of a virtual pair (com0com); set "
                          "the program's port to the other end, 4800 baud.");
}

CatDevice::CatDevice(QObject *parent)
    : QObject(parent)
    , m_impl(std::make_unique<Impl>())
{
    // A COM port gives no notice a Qt event loop can wait on without a thread; a look every
    // few milliseconds keeps a key's delay well under a frame's time on the line.
    m_impl->poll.setInterval(2);
    m_impl->poll.setTimerType(Qt::PreciseTimer);
    connect(&m_impl->poll, &QTimer::timeout, this, [this] {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(m_impl->handle, &errors, &status)) {
            close(); // the device went away
            return;
        }
        if (status.cbInQue > 0) {
            QByteArray bytes(qsizetype(status.cbInQue), '\0');
            DWORD read = 0;
            if (ReadFile(m_impl->handle, bytes.data(), DWORD(bytes.size()), &read, nullptr)
                && read > 0)
                Q_EMIT received(bytes.left(qsizetype(read)));
        }
        DWORD lines = 0;
        if (GetCommModemStatus(m_impl->handle, &lines)) {
            const bool dsr = (lines & MS_DSR_ON) != 0;
            if (dsr)
                m_impl->dsrSeen = true;
            else if (std::exchange(m_impl->dsrSeen, false)) {
                PurgeComm(m_impl->handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
                Q_EMIT programLeft();
            }
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
    return m_impl->handle != INVALID_HANDLE_VALUE;
}

QString CatDevice::target() const
{
    return QString();
}

bool CatDevice::open(const QString &path, QString *why)
{
    close();
    const QString name = path.trimmed().toUpper();
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"));
    if (!com.match(name).hasMatch()) {
        *why = QStringLiteral("%1 is not a COM name (COM1 to COM255): name the far end of a "
                              "virtual pair such as com0com's")
                   .arg(path.trimmed());
        return false;
    }
    const std::wstring device = QString(QStringLiteral("\\\\.\\") + name).toStdWString();
    HANDLE handle = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *why = QStringLiteral("cannot open %1: %2").arg(name, systemError());
        return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(handle, &dcb);
    dcb.BaudRate = 4800;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    SetCommState(handle, &dcb);
    // Reads return what is there at once; a write that cannot leave is given up quickly.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 200};
    SetCommTimeouts(handle, &timeouts);
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    m_impl->handle = handle;
    m_impl->dsrSeen = false;
    m_path = name;
    m_impl->poll.start();
    return true;
}

void CatDevice::close()
{
    m_impl->poll.stop();
    const bool was = isOpen();
    if (was)
        CloseHandle(m_impl->handle);
    m_impl->handle = INVALID_HANDLE_VALUE;
    m_impl->dsrSeen = false;
    m_path.clear();
    if (was)
        Q_EMIT programLeft();
}

void CatDevice::write(const QByteArray &bytes)
{
    if (!isOpen())
        return;
    DWORD written = 0;
    WriteFile(m_impl->handle, bytes.constData(), DWORD(bytes.size()), &written, nullptr);
}
