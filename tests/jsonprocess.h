#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

// A child process that prints one JSON object a line (ft847-sim --json, the Python peers).
// Lines are collected as they come; waits are bounded.
class JsonProcess
{
public:
    using Events = QList<QJsonObject>;

    JsonProcess() = default;
    ~JsonProcess();
    JsonProcess(const JsonProcess &) = delete;
    JsonProcess &operator=(const JsonProcess &) = delete;

    bool start(const QString &program, const QStringList &arguments, int timeoutMs = 5000);
    // Waits until `done` holds for the events so far; false on time-out or exit.
    bool waitFor(const std::function<bool(const Events &)> &done, int timeoutMs = 5000);
    // Waits for an event with this name; returns it, or an empty object on time-out.
    QJsonObject waitForEvent(const QString &name, int timeoutMs = 5000);
    const Events &events();
    void stop();
    QProcess &process() { return m_process; }

private:
    void collect();

    QProcess m_process;
    QByteArray m_pending;
    Events m_events;
};

// ft847-sim --json, started on a free loopback port.
class SimProcess : public JsonProcess
{
public:
    // On a free loopback port, or on `listen` (HOST:PORT) to stand in for a radio that was lost.
    // `radio` are more arguments, such as --frequency 7074000.
    bool start(const QString &listen = QStringLiteral("127.0.0.1:0"),
               const QStringList &radio = {});
    QString address() const { return m_address; }
    QString url() const { return QStringLiteral("rfc2217://") + m_address; }
    // The events of one kind, in order.
    Events named(const QString &name);
    // What the radio was made to do: "lines dtr=1 rts=1" and "frame 0100000007" lines. RTS moves
    // first and DTR follows at once; the radio may see the two steps or just the result, so a
    // lone RTS step is folded into the DTR step after it. With `strict`, DTR moving alone (not
    // after RTS) adds "DTR moved before RTS". In a burst many changes reach the radio in one
    // read, so there only the states it ends up in can be checked (`strict` false).
    QStringList radioActions(bool strict = true);
    // The actions of a client's open: the server raises the lines at connect and the client
    // lowers them before anything else.
    static inline const QStringList Opened{QStringLiteral("lines dtr=1 rts=1"),
                                           QStringLiteral("lines dtr=0 rts=0")};

private:
    QString m_address;
};

QString binaryPath(const QString &name);
QString sourcePath(const QString &relative);
// Debian's interpreter, which has pyserial.
QString systemPython();

// The environment for running zolvek-ptt in a test, with the test's options store: offscreen,
// or on the X display the test runs under.
QProcessEnvironment utilityEnvironment(const QString &configHome, bool onDisplay = false);

// Runs a short command to its end (or the time limit); returns its standard output, trimmed.
QString runCommand(const QString &program, const QStringList &arguments, int timeoutMs = 10000,
                   int *exitCode = nullptr);

// The virtual radio and a real zolvek-ptt whose COM1 is that radio, with a store of its own.
class Station
{
public:
    ~Station();
    // Starts both and waits until the radio has the utility's opening and receive frames.
    bool start(bool onDisplay);
    // Set before start(): more environment and arguments for the utility, and where its
    // standard error goes (empty: this process's own).
    QStringList environment;
    QStringList arguments;
    QString errorFile;
    // Starts the utility again with the same store (after it has ended), and waits as start()
    // does for its frames.
    bool startUtility();
    bool stopUtility();
    // The port the utility's rigctl listener said it listens on (in errorFile), waited for;
    // 0 when it did not say so in time.
    quint16 listenerPort(int timeoutMs = 10000);
    // Frames the radio has seen so far.
    int frames();
    bool waitForFrames(int count, int timeoutMs = 5000);
    QString configHome() const { return m_config.path(); }

    SimProcess sim;
    QProcess utility;

private:
    QTemporaryDir m_config;
    bool m_onDisplay = false;
};
