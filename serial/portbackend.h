#pragma once

#include "serial/linesettings.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

// One open connection to a radio's serial port: a local device, or a remote port reached over
// the network. Every failure raises PortError. The port object creates a backend for each open
// and drops it at close.
class PortBackend
{
public:
    virtual ~PortBackend() = default;

    // Opens with the given settings and line states; the lines are applied before anything else
    // can be sent, so opening never keys the radio. A device without modem lines still opens.
    // A backend may return before a slow device has answered and finish in the background,
    // holding what is sent meanwhile; a failure then comes through the lost handler.
    virtual void open(const LineSettings &settings, bool dtr, bool rts) = 0;
    virtual void close() = 0;
    virtual void applySettings(const LineSettings &settings) = 0;
    virtual void setDtr(bool high) = 0;
    virtual void setRts(bool high) = 0;
    virtual void write(const QByteArray &bytes) = 0;

    // From holdOutput() to releaseOutput(), line changes and data are gathered and leave
    // together, where the connection allows that (a network port sends them in one packet).
    // Each call still raises at once for a port that is gone. A backend that cannot gather
    // sends at once, as if there were no hold.
    virtual void holdOutput() {}
    virtual void releaseOutput() {}
    // True while an open that open() left to the background is not finished.
    virtual bool opening() const { return false; }
    // True for a connection worth keeping across a close followed at once by an open of the same
    // address: a network port's server raises the radio's lines at every connect, so a reconnect
    // for each keystroke in the settings box would key the radio each time.
    virtual bool keptAcrossReopen() const { return false; }

    // Called when an open port goes away by itself (the device unplugged, the connection
    // dropped), possibly from inside another call of this backend; `wasWorking` is false for an
    // open that was still being finished after open() returned, and then failed.
    void setLostHandler(std::function<void(const QString &why, bool wasWorking)> handler)
    {
        m_lostHandler = std::move(handler);
    }
    // Called when an open that open() left to finish in the background has finished.
    void setReadyHandler(std::function<void()> handler) { m_readyHandler = std::move(handler); }
    // Called with the bytes the radio sent, as they arrive (Telnet escapes already undone).
    void setDataHandler(std::function<void(const QByteArray &)> handler)
    {
        m_dataHandler = std::move(handler);
    }

protected:
    void reportLost(const QString &why, bool wasWorking = true)
    {
        if (m_lostHandler)
            m_lostHandler(why, wasWorking);
    }
    void reportReady()
    {
        if (m_readyHandler)
            m_readyHandler();
    }
    void reportData(const QByteArray &bytes)
    {
        if (m_dataHandler && !bytes.isEmpty())
            m_dataHandler(bytes);
    }

private:
    std::function<void(const QString &, bool)> m_lostHandler;
    std::function<void()> m_readyHandler;
    std::function<void(const QByteArray &)> m_dataHandler;
};

// Makes the backend for a device address such as "/dev/ttyUSB0" or "rfc2217://host:2217".
// Raises PortError for an address that no backend can serve.
using PortBackendFactory = std::function<std::unique_ptr<PortBackend>(const QString &address)>;

std::unique_ptr<PortBackend> createPortBackend(const QString &address);
// The backend for a device of this machine, one form per platform.
std::unique_ptr<PortBackend> createLocalPortBackend(const QString &device);

// True for an address that names a port on another machine.
bool isRemoteAddress(const QString &address);
// Why a device of this machine cannot take the settings at all (Linux drivers have no 1.5 stop
// bits), or an empty text when it can. One form per platform.
QString localPortRefusal(const LineSettings &settings);
