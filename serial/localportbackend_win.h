#pragma once

#include "serial/portbackend.h"

#include <QSerialPort>

// A serial device on this machine, through QSerialPort.
class LocalPortBackend : public PortBackend
{
public:
    explicit LocalPortBackend(const QString &device);
    ~LocalPortBackend() override;

    void open(const LineSettings &settings, bool dtr, bool rts) override;
    void close() override;
    void applySettings(const LineSettings &settings) override;
    void setDtr(bool high) override;
    void setRts(bool high) override;
    void write(const QByteArray &bytes) override;

private:
    void requireOpen() const;
    [[noreturn]] void raise(int number, const QString &what) const;

    QString m_device;
    QSerialPort m_port;
};
