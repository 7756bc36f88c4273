#include "serial/localportbackend_win.h"

#include "serial/porterror.h"

namespace {

QString systemMessage(DWORD error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = length ? QString::fromWCharArray(text, int(length)).trimmed()
                             : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return message;
}

// The errors a device that went away (a USB adapter pulled out, a line hung up) gives to every
// request.
bool gone(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_BAD_COMMAND
           || error == ERROR_DEVICE_REMOVED || error == ERROR_DEVICE_NOT_CONNECTED
           || error == ERROR_NOT_READY || error == ERROR_GEN_FAILURE
           || error == ERROR_INVALID_HANDLE || error == ERROR_FILE_NOT_FOUND;
}

BYTE parityOf(char parity)
{
    switch (parity) {
    case 'e':
        return EVENPARITY;
    case 'o':
        return ODDPARITY;
    case 'm':
        return MARKPARITY;
    case 's':
        return SPACEPARITY;
    default:
        return NOPARITY;
    }
}

BYTE stopBitsOf(LineSettings::StopBits stop)
{
    switch (stop) {
    case LineSettings::StopBits::OneAndHalf:
        return ONE5STOPBITS;
    case LineSettings::StopBits::Two:
        return TWOSTOPBITS;
    case LineSettings::StopBits::One:
        break;
    }
    return ONESTOPBIT;
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
}

LocalPortBackend::~LocalPortBackend()
{
    close();
}

void LocalPortBackend::raise(int number, const QString &what, DWORD error) const
{
    throw PortError(number, QStringLiteral("%1 %2: %3").arg(what, m_device, systemMessage(error)));
}

void LocalPortBackend::requireOpen() const
{
    if (m_handle == INVALID_HANDLE_VALUE)
        throw PortError(PortError::PortNotOpen,
                        QStringLiteral("Port %1 is not open").arg(m_device));
}

void LocalPortBackend::requireTakes(const LineSettings &settings) const
{
    if (const QString why = localPortRefusal(settings); !why.isEmpty())
        throw PortError(
            PortError::CommStateFailed,
            QStringLiteral("Cannot apply %1 to %2: %3").arg(settings.toText(), m_device, why));
}

void LocalPortBackend::open(const LineSettings &settings, bool dtr, bool rts)
{
    requireTakes(settings);
    // No sharing: a port another program holds is busy.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(m_device.utf16()),
                                      GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        raise(PortError::PortUnavailable, QStringLiteral("Cannot open"), GetLastError());
    m_handle = handle;
    try {
        // The first call on the device: a whole control block, both lines disabled, the line
        // settings in it. The driver may have enabled DTR at open; this ends that.
        setState(settings, false, false,
                 QStringLiteral("Cannot apply %1 to").arg(settings.toText()));
        // Reads return at once with what has come; a write is left with the driver a bounded
        // time, and what it did not take then is sent again.
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.WriteTotalTimeoutConstant = WriteTimeoutMs;
        if (!SetCommTimeouts(handle, &timeouts) || !SetCommMask(handle, EV_RXCHAR | EV_ERR))
            raise(PortError::CommStateFailed, QStringLiteral("Cannot configure"), GetLastError());
        if (rts)
            setRts(true);
        if (dtr)
            setDtr(true);
        for (Pending *pending : {&m_write, &m_wait}) {
            pending->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (!pending->overlapped.hEvent)
                raise(PortError::PortUnavailable, QStringLiteral("Cannot open"), GetLastError());
            pending->notifier = std::make_unique<QWinEventNotifier>(pending->overlapped.hEvent);
        }
    } catch (...) {
        close();
        throw;
    }
    QObject::connect(m_write.notifier.get(), &QWinEventNotifier::activated, m_write.notifier.get(),
                     [this] { writeEnded(); });
    QObject::connect(m_wait.notifier.get(), &QWinEventNotifier::activated, m_wait.notifier.get(),
                     [this] { inputEnded(); });
    waitForInput();
}

// A request still with the driver ends before its buffers go. A write is let finish, within its
// own time-out, so the last frame before a close still leaves; a wait for input ends when the
// mask is cleared (not every driver cancels one). Nothing is waited for longer than the write
// time-out; closing the device ends whatever is left.
bool LocalPortBackend::finish(Pending &pending)
{
    pending.notifier.reset();
    if (!pending.busy)
        return true;
    if (&pending == &m_wait) {
        SetCommMask(m_handle, 0);
        CancelIoEx(m_handle, &pending.overlapped);
    }
    DWORD done = 0;
    return GetOverlappedResultEx(m_handle, &pending.overlapped, &done, WriteTimeoutMs + 500, FALSE)
           || GetLastError() != WAIT_TIMEOUT;
}

void LocalPortBackend::release(Pending &pending)
{
    if (pending.busy)
        WaitForSingleObject(pending.overlapped.hEvent, WriteTimeoutMs);
    pending.busy = false;
    if (pending.overlapped.hEvent)
        CloseHandle(pending.overlapped.hEvent);
    pending.overlapped = OVERLAPPED{};
}

void LocalPortBackend::close()
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return;
    const bool waitEnded = finish(m_wait);
    const bool ended = finish(m_write) && waitEnded;
    if (ended) {
        release(m_wait);
        release(m_write);
        CloseHandle(m_handle);
    } else {
        // Closing the device cancels what its driver still holds; only then do the buffers go.
        CloseHandle(m_handle);
        release(m_wait);
        release(m_write);
    }
    m_handle = INVALID_HANDLE_VALUE;
    m_writing.clear();
    m_unsent.clear();
    m_dtr = m_rts = false;
}

void LocalPortBackend::setState(const LineSettings &settings, bool dtr, bool rts,
                                const QString &what)
{
    DCB state{};
    state.DCBlength = sizeof state;
    state.BaudRate = DWORD(settings.baud);
    state.fBinary = TRUE;
    state.fParity = settings.parity != 'n';
    state.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    state.fRtsControl = rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    state.fTXContinueOnXoff = TRUE;
    // No flow control; the drivers still refuse equal XON and XOFF characters.
    state.XonLim = 2048;
    state.XoffLim = 512;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    state.ByteSize = BYTE(settings.dataBits);
    state.Parity = parityOf(settings.parity);
    state.StopBits = stopBitsOf(settings.stopBits);
    if (!SetCommState(m_handle, &state))
        raise(PortError::CommStateFailed, what, GetLastError());
    m_dtr = dtr;
    m_rts = rts;
}

// The whole control block again, the lines as they are.
void LocalPortBackend::applySettings(const LineSettings &settings)
{
    requireOpen();
    requireTakes(settings);
    setState(settings, m_dtr, m_rts, QStringLiteral("Cannot apply %1 to").arg(settings.toText()));
}

void LocalPortBackend::setLine(DWORD escape, bool high, bool *line, const char *name)
{
    requireOpen();
    if (!EscapeCommFunction(m_handle, escape))
        raise(PortError::CommStateFailed,
              QStringLiteral("Cannot set %1 on").arg(QLatin1String(name)), GetLastError());
    *line = high;
}

void LocalPortBackend::setDtr(bool high)
{
    setLine(high ? SETDTR : CLRDTR, high, &m_dtr, "DTR");
}

void LocalPortBackend::setRts(bool high)
{
    setLine(high ? SETRTS : CLRRTS, high, &m_rts, "RTS");
}

// Never waits for the device: what it cannot take now (a flow-controlled or wedged adapter)
// follows in order as it takes it. The lines never wait behind it.
void LocalPortBackend::write(const QByteArray &bytes)
{
    requireOpen();
    if (m_writing.size() + m_unsent.size() + bytes.size() > MaxUnsent)
        raise(PortError::WriteFailed, QStringLiteral("Cannot write to"), ERROR_TIMEOUT);
    m_unsent += bytes;
    sendUnsent();
}

void LocalPortBackend::sendUnsent()
{
    while (!m_write.busy && !m_unsent.isEmpty()) {
        m_writing = std::exchange(m_unsent, {});
        ResetEvent(m_write.overlapped.hEvent);
        if (!WriteFile(m_handle, m_writing.constData(), DWORD(m_writing.size()), nullptr,
                       &m_write.overlapped)
            && GetLastError() != ERROR_IO_PENDING) {
            const DWORD error = GetLastError();
            m_writing.clear();
            lose(error);
            raise(PortError::WriteFailed, QStringLiteral("Cannot write to"), error);
        }
        m_write.busy = true; // done at once or not, the event says so
    }
}

// Whether a request the notifier signalled has ended (`error` says how); false while the driver
// still has it, or when nothing was pending.
bool LocalPortBackend::ended(Pending &pending, DWORD *count, DWORD *error)
{
    if (!pending.busy)
        return false;
    *error = GetOverlappedResult(m_handle, &pending.overlapped, count, FALSE) ? ERROR_SUCCESS
                                                                              : GetLastError();
    if (*error == ERROR_IO_INCOMPLETE)
        return false;
    pending.busy = false;
    return true;
}

// A write ended: what it did not take (the time-out passed) goes again, before what waited.
void LocalPortBackend::writeEnded()
{
    DWORD wrote = 0;
    DWORD error = ERROR_SUCCESS;
    if (!ended(m_write, &wrote, &error))
        return;
    if (error != ERROR_SUCCESS) {
        m_writing.clear();
        m_unsent.clear();
        lose(error);
        return;
    }
    m_unsent.prepend(m_writing.mid(qsizetype(wrote)));
    m_writing.clear();
    try {
        sendUnsent();
    } catch (const PortError &) {
        // Said through the lost handler where the device is gone; otherwise dropped with it.
    }
}

void LocalPortBackend::waitForInput()
{
    while (m_handle != INVALID_HANDLE_VALUE && !m_wait.busy) {
        m_events = 0;
        ResetEvent(m_wait.overlapped.hEvent);
        if (WaitCommEvent(m_handle, &m_events, &m_wait.overlapped)) {
            drainInput(); // something had come already
            continue;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            m_wait.busy = true;
            return;
        }
        lose(error);
        return;
    }
}

void LocalPortBackend::inputEnded()
{
    DWORD unused = 0;
    DWORD error = ERROR_SUCCESS;
    if (!ended(m_wait, &unused, &error))
        return;
    if (error != ERROR_SUCCESS) {
        lose(error);
        return;
    }
    drainInput();
    waitForInput();
}

// What the radio sent goes to the port object. The time-outs make each read return at once.
void LocalPortBackend::drainInput()
{
    char buffer[256];
    while (m_handle != INVALID_HANDLE_VALUE) {
        OVERLAPPED read{};
        read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD got = 0;
        bool ok = ReadFile(m_handle, buffer, sizeof buffer, nullptr, &read);
        if (ok || GetLastError() == ERROR_IO_PENDING)
            ok = GetOverlappedResult(m_handle, &read, &got, TRUE);
        const DWORD error = GetLastError();
        CloseHandle(read.hEvent);
        if (!ok) {
            lose(error);
            return;
        }
        if (got == 0)
            return;
        reportData(QByteArray(buffer, qsizetype(got)));
    }
}

// Errors of a device that went away are a lost port; others only fail the request at hand.
void LocalPortBackend::lose(DWORD error)
{
    if (gone(error))
        reportLost(QStringLiteral("%1: %2").arg(m_device, systemMessage(error)));
}
