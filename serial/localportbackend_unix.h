#pragma once

#include "serial/portbackend.h"

#include <QSocketNotifier>
#include <memory>

struct termios2;

// A serial device on this machine, on the kernel's own termios calls. The device raises DTR and
// RTS the moment it is opened; they are lowered by the very first call on it, before anything
// else is set up.
class LocalPortBackend : public PortBackend
{
public:
    // What may wait for a device that takes no output, before a write is refused: far more than
    // the frames of a session, far less than anything that could grow without end.
    static constexpr int MaxUnsent = 4096;

    explicit LocalPortBackend(const QString &device);
    ~LocalPortBackend() override;

    void open(const LineSettings &settings, bool dtr, bool rts) override;
    void close() override;
    void applySettings(const LineSettings &settings) override;
    void setDtr(bool high) override;
    void setRts(bool high) override;
    void write(const QByteArray &bytes) override;

private:
    void setMode(termios2 &mode, const LineSettings &settings);
    void requireTakes(const LineSettings &settings) const;
    void setLine(int line, bool high, const char *name);
    void drainInput();
    void sendUnsent();
    void requireOpen() const;
    [[noreturn]] void raise(int number, const QString &what, int error) const;

    QString m_device;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_input;  // the radio's answers
    std::unique_ptr<QSocketNotifier> m_output; // room again for what the device did not take
    QByteArray m_unsent;
};
