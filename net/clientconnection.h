#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

// One client's connection to a network door, on a socket the door keeps itself. What the client sends
// is handed on as it comes; answers leave as fast as the client takes them, and wait here while
// it does not. The end of the client's input (a script that sends and half-closes) does not end
// the connection: the answers it is owed still go out, and the door closes it when done.
class ClientConnection : public QObject
{
    Q_OBJECT
public:
    // How long a closing connection waits for the client to take its last answers and close
    // its side, before it is closed anyway.
    static constexpr int LingerMs = 5000;

    // Takes over `socket`, an accepted TCP connection.
    explicit ClientConnection(qintptr socket, QObject *parent = nullptr);
    ~ClientConnection() override;

    // An IPv4 client of a dual-stack door is told as plain IPv4.
    QHostAddress peer() const { return m_peer; }
    bool isOpen() const { return m_socket != NoSocket; }
    bool inputEnded() const { return m_inputEnded; }
    // Bytes written and not yet taken by the client.
    qint64 unsent() const { return m_output.size(); }

    void write(const QByteArray &bytes);
    // Sends what is left, then closes; anything more the client sends is dropped.
    void finish();
    // Closes at once; what was not sent is dropped.
    void abort();

Q_SIGNALS:
    void received(const QByteArray &bytes);
    // The client will send nothing more.
    void inputClosed();
    // The connection is gone, for whatever reason; said once.
    void closed();

private:
    static constexpr qintptr NoSocket = -1;

    void readable();
    void flush();
    void close();

    qintptr m_socket;
    QHostAddress m_peer;
    QSocketNotifier m_reader;
    QSocketNotifier m_writer;
    QByteArray m_output;
    QTimer m_linger;
    bool m_inputEnded = false;
    bool m_finishing = false;
};
