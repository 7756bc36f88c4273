#pragma once

#include "serial/portbackend.h"

#include <QByteArray>
#include <QWinEventNotifier>
#include <memory>
#include <windows.h>

// A serial device on this machine, on the Win32 communications calls. The control block that
// opening writes first already has DTR and RTS disabled, so the driver's own state at open (often
// DTR enabled) lasts only until that one call. Nothing waits for the device: writes and reads are
// overlapped and finish from the event loop.
class LocalPortBackend : public PortBackend
{
public:
    // What may wait for a device that takes no output before a write is refused at once.
    static constexpr int MaxUnsent = 4096;
    // The longest one write is left with the driver before what is left of it is sent again.
    static constexpr DWORD WriteTimeoutMs = 1000;

    explicit LocalPortBackend(const QString &device);
    ~LocalPortBackend() override;
    LocalPortBackend(const LocalPortBackend &) = delete;
    LocalPortBackend &operator=(const LocalPortBackend &) = delete;

    void open(const LineSettings &settings, bool dtr, bool rts) override;
    void close() override;
    void applySettings(const LineSettings &settings) override;
    void setDtr(bool high) override;
    void setRts(bool high) override;
    void write(const QByteArray &bytes) override;

private:
    // One overlapped request and the notifier that hears when it ends.
    struct Pending
    {
        OVERLAPPED overlapped{};
        std::unique_ptr<QWinEventNotifier> notifier;
        bool busy = false;
    };

    void requireOpen() const;
    void requireTakes(const LineSettings &settings) const;
    [[noreturn]] void raise(int number, const QString &what, DWORD error) const;
    void setState(const LineSettings &settings, bool dtr, bool rts, const QString &what);
    void setLine(DWORD escape, bool high, bool *line, const char *name);
    void sendUnsent();
    bool ended(Pending &pending, DWORD *count, DWORD *error);
    void writeEnded();
    void waitForInput();
    void inputEnded();
    void drainInput();
    void lose(DWORD error);
    bool finish(Pending &pending);
    void release(Pending &pending);

    QString m_device;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    bool m_dtr = false;
    bool m_rts = false;
    Pending m_write;
    Pending m_wait;
    DWORD m_events = 0;
    QByteArray m_writing; // with the driver now
    QByteArray m_unsent;  // waiting behind it
};
