#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

// The serial port a program opens to reach the radio. On Linux the utility makes a
// pseudo-terminal, and PATH becomes a link to it that stays the same from run to run; a PATH
// that is a serial device already (one end of a socat pair, a null-modem cable) is opened as
// it is. On Windows PATH is a COM name, the far end of a virtual pair such as com0com.
//
// A program closing its port is seen where the system shows it (the pseudo-terminal's hang-up;
// on a COM port, DSR dropping after it was raised): whatever it keyed is then given back.
class CatDevice : public QObject
{
    Q_OBJECT
public:
    explicit CatDevice(QObject *parent = nullptr);
    ~CatDevice() override;

    // Where programs look for it unless the operator says otherwise (none on Windows, where
    // the operator names the far end of a virtual pair), and how to ask for another.
    static QString defaultPath();
    static QString askText();

    // False, with the reason, when it cannot be made or opened.
    bool open(const QString &path, QString *why);
    void close();
    bool isOpen() const;
    // What a program opens: the link, the device or the COM name.
    QString path() const { return m_path; }
    // The pseudo-terminal behind the link; empty for a device opened as it is.
    QString target() const;
    // Bytes for the program, as the radio would send them.
    void write(const QByteArray &bytes);

Q_SIGNALS:
    void received(const QByteArray &bytes);
    // The program closed the port (or the device went away).
    void programLeft();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    QString m_path;
};
