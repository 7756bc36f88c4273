// zolvek-bench: measures zolvek-ptt doing its job against the virtual radio, beside Hamlib's
// rigctld on a pseudo-terminal. Run by scripts/bench under Xvfb; see bench/README.md.
//   zolvek-bench BIN_DIR JSON_OUT
#include "tools/monotonic.h"
#include "tools/zolvek-send/hostsender.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

struct Figure
{
    QString name;
    double median = 0;
    double tail = 0;
    QString tailKind; // "p99" or "max"
    QString unit;
    int samples = 0;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

Figure summarise(const QString &name, const std::vector<double> &values, const QString &unit,
                 bool p99)
{
    return Figure{name,
                  percentile(values, 0.5),
                  p99 ? percentile(values, 0.99) : percentile(values, 1.0),
                  p99 ? QStringLiteral("p99") : QStringLiteral("max"),
                  unit,
                  int(values.size())};
}

// A store whose COM1 is `com1` and every other port a missing path.
void writeStore(const QString &configHome, const QString &com1)
{
    QDir().mkpath(configHome + QStringLiteral("/KELD"));
    QFile store(configHome + QStringLiteral("/KELD/settings.ini"));
    store.open(QIODevice::WriteOnly);
    store.write("[Ports]\nCOM1=" + com1.toUtf8() + "\n");
    for (int port = 2; port <= 16; ++port)
        store.write(QStringLiteral("COM%1=%2/missing\n").arg(port).arg(configHome).toUtf8());
}

// A radio's JSON log read line by line: ft847-sim --json, or tty-double --json with the utility
// on its device.
class Radio
{
public:
    explicit Radio(const QString &bin)
        : Radio(bin + QStringLiteral("/ft847-sim"), {QStringLiteral("--json")})
    {
    }
    Radio(const QString &program, const QStringList &arguments,
          const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessEnvironment(env);
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(program, arguments);
        const QJsonObject first = next([](const QJsonObject &) { return true; });
        m_address = first.value(QStringLiteral("address")).toString();
    }
    ~Radio()
    {
        // tty-double passes this on to the utility it runs.
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
    QString address() const { return m_address; }

    // The next event that `wanted` accepts; throws after `timeoutMs`.
    template <typename Wanted> QJsonObject next(Wanted wanted, int timeoutMs = 5000)
    {
        const double deadline = monotonicSeconds() + timeoutMs / 1000.0;
        while (monotonicSeconds() < deadline) {
            while (m_process.canReadLine()) {
                const QJsonObject event = QJsonDocument::fromJson(m_process.readLine()).object();
                if (wanted(event))
                    return event;
            }
            m_process.waitForReadyRead(50);
        }
        throw std::runtime_error("the radio did not see what was expected in time");
    }
    QJsonObject nextNamed(const char *name, int timeoutMs = 5000)
    {
        return next([name](const QJsonObject &e) { return e.value("event") == name; }, timeoutMs);
    }
    QJsonObject nextLines(bool high)
    {
        return next([high](const QJsonObject &e) {
            return e.value("event") == "lines" && e.value("dtr").toBool() == high
                   && e.value("rts").toBool() == high;
        });
    }

private:
    QProcess m_process;
    QString m_address;
};

class Utility
{
public:
    Utility(const QString &bin, const QString &radio)
        : m_bin(bin)
    {
        writeStore(m_config.path(), QStringLiteral("rfc2217://") + radio);
    }
    ~Utility() { stop(); }

    double start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // The utility's own account of each settling wait, beside what the radio saw.
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("zolvek.ptt.debug=true"));
        m_process.setProcessEnvironment(env);
        m_process.setStandardErrorFile(logPath());
        const double started = monotonicSeconds();
        m_process.start(m_bin + QStringLiteral("/zolvek-ptt"), {});
        m_process.waitForStarted(5000);
        return started;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
    qint64 pid() const { return m_process.processId(); }

    // Each receive frame's time after its lines dropped, as the utility logged it.
    std::vector<double> settlingAsTimed() const
    {
        static const QRegularExpression line(
            QStringLiteral(R"(receive frame ([0-9.]+) ms after the lines dropped)"));
        QFile log(logPath());
        log.open(QIODevice::ReadOnly);
        std::vector<double> times;
        for (auto match = line.globalMatch(QString::fromUtf8(log.readAll())); match.hasNext();)
            times.push_back(match.next().captured(1).toDouble());
        return times;
    }

    // User plus system CPU time, in seconds, from /proc.
    double cpuSeconds() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
        stat.open(QIODevice::ReadOnly);
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return (fields.value(11).toDouble() + fields.value(12).toDouble())
               / double(sysconf(_SC_CLK_TCK));
    }
    double peakResidentMb() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
        status.open(QIODevice::ReadOnly);
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
        return 0;
    }

private:
    QString logPath() const { return m_config.filePath(QStringLiteral("utility.log")); }

    QString m_bin;
    QTemporaryDir m_config;
    QProcess m_process;
};

std::uint32_t waitForWindow(HostSender &sender)
{
    const double deadline = monotonicSeconds() + 10;
    while (monotonicSeconds() < deadline) {
        const auto windows = sender.findWindows();
        if (windows.size() == 1)
            return windows.front();
        QThread::msleep(20);
    }
    throw std::runtime_error("the utility's window did not appear");
}

// The master side of a raw pseudo-terminal, closed on every way out.
struct PtyMaster
{
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    PtyMaster()
    {
        if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0)
            throw std::runtime_error("no pseudo-terminal");
        termios raw{};
        tcgetattr(fd, &raw);
        cfmakeraw(&raw);
        tcsetattr(fd, TCSANOW, &raw);
    }
    ~PtyMaster()
    {
        if (fd >= 0)
            close(fd);
    }
    PtyMaster(const PtyMaster &) = delete;
    PtyMaster &operator=(const PtyMaster &) = delete;
    QString slave() const { return QString::fromLocal8Bit(ptsname(fd)); }
};

// Starts rigctld on a free TCP port and connects to it. rigctld takes the port number on its
// command line, so a port that another program takes first makes rigctld exit: another is
// tried, and the connection counts only while rigctld still runs.
quint16 startRigctld(QProcess &rigctld, QStringList arguments, QTcpSocket &client)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const quint16 port = probe.serverPort();
        probe.close();
        rigctld.setStandardErrorFile(QProcess::nullDevice());
        rigctld.start(QStringLiteral("rigctld"), QStringList(arguments)
                                                     << "-T"
                                                     << "127.0.0.1"
                                                     << "-t" << QString::number(port));
        if (!rigctld.waitForStarted(5000))
            throw std::runtime_error("rigctld did not start (package libhamlib-utils)");
        const double deadline = monotonicSeconds() + 10;
        while (monotonicSeconds() < deadline && rigctld.state() == QProcess::Running) {
            client.connectToHost(QHostAddress::LocalHost, port);
            if (client.waitForConnected(500) && rigctld.state() == QProcess::Running)
                return port;
            client.abort();
            QThread::msleep(100);
        }
        client.abort();
        rigctld.kill();
        rigctld.waitForFinished(2000);
    }
    throw std::runtime_error("rigctld did not listen");
}

// The utility on a local serial device with modem lines: tty-double runs it and logs the device.
class LocalStation
{
public:
    explicit LocalStation(const QString &bin)
    {
        const QString link = m_config.path() + QStringLiteral("/radio");
        writeStore(m_config.path(), link);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        device = std::make_unique<Radio>(
            bin + QStringLiteral("/tty-double"),
            QStringList{"--json", "--link", link, "--", bin + QStringLiteral("/zolvek-ptt")}, env);
        const QJsonObject opened = device->nextNamed("open");
        const QJsonObject lowered = device->nextLines(false);
        highAfterOpen = (lowered.value("t").toDouble() - opened.value("t").toDouble()) * 1000;
        device->nextNamed("frame");
        device->nextNamed("frame");
    }

    QTemporaryDir m_config;
    std::unique_ptr<Radio> device;
    double highAfterOpen = 0; // how long the lines the driver raised stayed high, ms
};

// Connects to a server that is still starting, trying for `seconds`; Nagle off once connected.
bool connectWithin(QTcpSocket &client, quint16 port, double seconds)
{
    const double deadline = monotonicSeconds() + seconds;
    while (monotonicSeconds() < deadline && client.state() != QAbstractSocket::ConnectedState) {
        client.connectToHost(QHostAddress::LocalHost, port);
        if (!client.waitForConnected(500)) {
            client.abort();
            QThread::msleep(50);
        }
    }
    if (client.state() != QAbstractSocket::ConnectedState)
        return false;
    client.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

// One XML-RPC call on a kept-alive connection, as fldigi's and Hamlib's flrig clients make
// them: the answer's body once all of it has come.
QByteArray xmlrpcCall(QTcpSocket &socket, const QByteArray &method, const QByteArray &params)
{
    const QByteArray body = "<?xml version=\"1.0\"?><methodCall><methodName>" + method
                            + "</methodName><params>" + params + "</params></methodCall>";
    socket.write("POST /RPC2 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n"
                 "Content-Length: "
                 + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket.flush();
    QByteArray got;
    for (;;) {
        const qsizetype head = got.indexOf("\r\n\r\n");
        if (head >= 0) {
            static const QRegularExpression length(QStringLiteral("Content-length: *(\\d+)"),
                                                   QRegularExpression::CaseInsensitiveOption);
            const auto match = length.match(QString::fromLatin1(got.left(head)));
            if (match.hasMatch() && got.size() >= head + 4 + match.captured(1).toLongLong())
                return got.mid(head + 4);
        }
        if (!socket.waitForReadyRead(15000))
            throw std::runtime_error("no XML-RPC answer to " + method.toStdString());
        got += socket.readAll();
    }
}

// What a rigctl server does on a tty-double device for a client on a held TCP connection, run
// by the double: Hamlib's rigctld for the FT-847 (keying by its PTT frames) or the utility's
// listener (keying by the lines). Both drive the same kind of port, timed by the same log.
struct DoorServerFigures
{
    std::vector<double> keyed;     // T 1 to the radio keyed (lines up, or the PTT-on frame)
    std::vector<double> released;  // T 0 to its answer at the client
    std::vector<double> frequency; // F to the set-frequency frame
};

DoorServerFigures rigctlServerFigures(const QString &bin, bool ours, int requests)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const quint16 port = probe.serverPort();
        probe.close();
        QTemporaryDir config;
        const QString link = config.path() + QStringLiteral("/radio");
        writeStore(config.path(), link);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QStringList command{"--json", "--link", link, "--"};
        if (ours)
            command << bin + QStringLiteral("/zolvek-ptt") << "--listen"
                    << QStringLiteral("127.0.0.1:%1").arg(port);
        else
            command << "rigctld"
                    << "-m"
                    << "1001"
                    << "-r" << link << "-T"
                    << "127.0.0.1"
                    << "-t" << QString::number(port) << "-C"
                    << "write_delay=0,post_write_delay=0";
        Radio device(bin + QStringLiteral("/tty-double"), command, env);
        QTcpSocket client;
        if (!connectWithin(client, port, 10))
            continue; // the port was taken meanwhile: another
        const auto answered = [&client](const char *what) {
            while (!client.canReadLine())
                if (!client.waitForReadyRead(3000))
                    throw std::runtime_error(std::string("no answer to ") + what);
            client.readAll();
            return monotonicSeconds();
        };
        const auto keyedEvent = [ours](bool up) {
            return [ours, up](const QJsonObject &e) {
                if (ours)
                    return e.value("event") == "lines" && e.value("dtr").toBool() == up
                           && e.value("rts").toBool() == up;
                // The PTT frames: opcode 08 on, 88 off.
                return e.value("event") == "frame"
                       && e.value("hex").toString().endsWith(up ? "08" : "88");
            };
        };
        // rigctld reads the radio while it opens, and the double never answers: its first
        // answer waits those reads out (1 s each), which is no part of keying.
        client.write("T 0\n");
        client.flush();
        if (!client.waitForReadyRead(10000))
            throw std::runtime_error("no answer to the first T 0");
        while (!client.canReadLine() && client.waitForReadyRead(3000)) {
        }
        client.readAll();
        DoorServerFigures figures;
        for (int i = 0; i < requests; ++i) {
            double sent = monotonicSeconds();
            client.write("T 1\n");
            client.flush();
            figures.keyed.push_back((device.next(keyedEvent(true)).value("t").toDouble() - sent)
                                    * 1000);
            answered("T 1");
            sent = monotonicSeconds();
            client.write("T 0\n");
            client.flush();
            figures.released.push_back((answered("T 0") - sent) * 1000);
            device.next(keyedEvent(false));
            sent = monotonicSeconds();
            client.write("F " + QByteArray::number(7074000 + 10 * (i % 2)) + "\n");
            client.flush();
            const QJsonObject frame = device.next([](const QJsonObject &e) {
                return e.value("event") == "frame" && e.value("hex").toString().endsWith("01");
            });
            figures.frequency.push_back((frame.value("t").toDouble() - sent) * 1000);
            answered("F");
        }
        return figures;
    }
    throw std::runtime_error("no rigctl server listened");
}

// Reads and satellite tuning need a radio that answers: the virtual radio, reached by rigctld
// -m 1001 through a pseudo-terminal that socat bridges to it (its raw mode), and by the utility
// over RFC 2217. rigctld runs without its write delays, its fastest.
struct SatelliteFigures
{
    std::vector<double> keyed;   // T 1 to the radio keyed (lines up, or the PTT-on frame)
    std::vector<double> read;    // f to its answer
    std::vector<double> split;   // I to the satellite transmit VFO's set-frequency frame
    std::vector<double> doppler; // I and F five times a second each: each to its answer
};

SatelliteFigures satelliteFigures(const QString &bin, bool ours, int requests, int dopplerSeconds)
{
    QTemporaryDir dir;
    Radio device(bin + QStringLiteral("/ft847-sim"),
                 ours ? QStringList{"--json"} : QStringList{"--json", "--raw"});
    QProcess server;
    QProcess socat;
    server.setStandardErrorFile(QProcess::nullDevice());
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    if (ours) {
        writeStore(dir.path(), QStringLiteral("rfc2217://") + device.address());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        server.setProcessEnvironment(env);
        server.start(bin + QStringLiteral("/zolvek-ptt"),
                     {"--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    } else {
        const QString link = dir.path() + QStringLiteral("/radio");
        socat.start(QStringLiteral("socat"),
                    {"pty,raw,echo=0,link=" + link, "tcp:" + device.address()});
        const double up = monotonicSeconds() + 10;
        while (!QFileInfo::exists(link) && monotonicSeconds() < up)
            QThread::msleep(20);
        server.start(QStringLiteral("rigctld"),
                     {"-m", "1001", "-r", link, "-s", "4800", "-t", QString::number(port), "-C",
                      "write_delay=0,post_write_delay=0"});
    }
    QTcpSocket client;
    if (!connectWithin(client, port, 15))
        throw std::runtime_error("no rigctl server listened for the virtual radio");
    const auto answered = [&client](const char *what) {
        while (!client.canReadLine())
            if (!client.waitForReadyRead(15000)) // a slow answer is measured, not given up
                throw std::runtime_error(std::string("no answer to ") + what);
        client.readAll();
        return monotonicSeconds();
    };
    // rigctld answers a read from its cache for 500 ms after it last set or read: every read
    // here is to reach the radio.
    client.write("\\set_cache 0\n");
    client.flush();
    answered("\\set_cache");
    SatelliteFigures figures;
    for (int i = 0; i < requests; ++i) {
        client.write("T 0\n");
        client.flush();
        answered("T 0");
        double sent = monotonicSeconds();
        client.write("T 1\n");
        client.flush();
        const QJsonObject keyed = device.next([ours](const QJsonObject &e) {
            if (ours)
                return e.value("event") == "lines" && e.value("dtr").toBool()
                       && e.value("rts").toBool();
            return e.value("event") == "frame" && e.value("hex").toString().endsWith("08");
        });
        figures.keyed.push_back((keyed.value("t").toDouble() - sent) * 1000);
        answered("T 1");
        client.write("T 0\n");
        client.flush();
        answered("T 0");
        sent = monotonicSeconds();
        client.write("f\n");
        client.flush();
        figures.read.push_back((answered("f") - sent) * 1000);
        // Split is the radio's satellite mode: switched on by I, off again after.
        sent = monotonicSeconds();
        client.write("I " + QByteArray::number(145900000 + 10 * (i % 2)) + "\n");
        client.flush();
        const QJsonObject split = device.next([](const QJsonObject &e) {
            return e.value("event") == "frame" && e.value("hex").toString().endsWith("21");
        });
        figures.split.push_back((split.value("t").toDouble() - sent) * 1000);
        answered("I");
        client.write("S 0 Main\n");
        client.flush();
        answered("S");
    }
    // A satellite pass as Gpredict tracks it: both VFOs retuned for Doppler, paced.
    client.write("S 1 Sub\n");
    client.flush();
    answered("S");
    const double end = monotonicSeconds() + dopplerSeconds;
    for (int step = 0; monotonicSeconds() < end; ++step) {
        const double due = monotonicSeconds() + 0.1;
        const QByteArray command =
            (step % 2 ? "F " : "I ")
            + QByteArray::number((step % 2 ? 435900000 : 145900000) + 10 * (step % 50));
        const double sent = monotonicSeconds();
        client.write(command + "\n");
        client.flush();
        figures.doppler.push_back((answered(command.constData()) - sent) * 1000);
        const double left = due - monotonicSeconds();
        if (left > 0)
            QThread::usleep(static_cast<unsigned long>(left * 1e6));
    }
    client.write("S 0 Main\n");
    client.flush();
    answered("S");
    client.abort();
    server.terminate();
    if (!server.waitForFinished(5000))
        server.kill();
    socat.kill();
    socat.waitForFinished(2000);
    return figures;
}

// A free TCP port on this computer, for a server that is told its port.
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// The utility on the store in `configHome`, offscreen, its messages dropped.
void startUtility(QProcess &utility, const QString &bin, const QString &configHome,
                  const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    utility.setProcessEnvironment(env);
    utility.setStandardErrorFile(QProcess::nullDevice());
    utility.start(bin + QStringLiteral("/zolvek-ptt"), arguments);
}

// The same radio reached by each door of one utility: a key (request to the lines up at the
// radio) and a frequency read (request to its answer at the program), through the listener,
// the serial FT-847 port and flrig's XML-RPC. Each key follows a release the radio has seen.
struct DoorFigures
{
    std::vector<double> keyed[3];
    std::vector<double> read[3];
};

DoorFigures doorFigures(const QString &bin, int requests)
{
    QTemporaryDir dir;
    Radio device(bin);
    writeStore(dir.path(), QStringLiteral("rfc2217://") + device.address());
    const quint16 rigctl = freePort();
    const quint16 flrig = freePort();
    const QString link = dir.path() + QStringLiteral("/ft847");
    QProcess server;
    startUtility(server, bin, dir.path(),
                 {"--listen", QStringLiteral("127.0.0.1:%1").arg(rigctl), "--flrig",
                  QStringLiteral("127.0.0.1:%1").arg(flrig), "--cat-port", link});
    QTcpSocket listener, xmlrpc;
    if (!connectWithin(listener, rigctl, 15) || !connectWithin(xmlrpc, flrig, 15))
        throw std::runtime_error("the utility's doors did not open");
    const double up = monotonicSeconds() + 10;
    while (!QFileInfo::exists(link) && monotonicSeconds() < up)
        QThread::msleep(20);
    const int serial = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY);
    if (serial < 0)
        throw std::runtime_error("no serial FT-847 port");
    const auto post = [&xmlrpc](const QByteArray &method, const QByteArray &params) {
        xmlrpcCall(xmlrpc, method, params);
        return monotonicSeconds();
    };
    const auto line = [&listener](const QByteArray &command) {
        listener.write(command);
        listener.flush();
        while (!listener.canReadLine())
            if (!listener.waitForReadyRead(15000))
                throw std::runtime_error("no rigctl answer");
        listener.readAll();
        return monotonicSeconds();
    };
    const auto frame = [serial](const char *bytes, int answer) {
        if (::write(serial, bytes, 5) != 5)
            throw std::runtime_error("the serial port took no frame");
        char buffer[8];
        for (int got = 0; got < answer;) {
            pollfd ready{serial, POLLIN, 0};
            if (::poll(&ready, 1, 15000) != 1)
                throw std::runtime_error("no answer on the serial port");
            const ssize_t n = ::read(serial, buffer, sizeof buffer);
            if (n <= 0)
                throw std::runtime_error("no answer on the serial port");
            got += int(n);
        }
        return monotonicSeconds();
    };
    const QByteArray on = "<param><value><i4>1</i4></value></param>";
    const QByteArray off = "<param><value><i4>0</i4></value></param>";
    DoorFigures figures;
    for (int i = 0; i < requests; ++i) {
        for (int door = 0; door < 3; ++door) {
            const double sent = monotonicSeconds();
            if (door == 0)
                line("T 1\n");
            else if (door == 1)
                frame("\0\0\0\0\x08", 0);
            else
                post("rig.set_ptt", on);
            figures.keyed[door].push_back(
                (device.nextLines(true).value("t").toDouble() - sent) * 1000);
            if (door == 0)
                line("T 0\n");
            else if (door == 1)
                frame("\0\0\0\x01\x88", 0);
            else
                post("rig.set_ptt", off);
            device.nextLines(false);
            const double asked = monotonicSeconds();
            const double answered = door == 0   ? line("f\n")
                                    : door == 1 ? frame("\0\0\0\0\x03", 5)
                                                : post("rig.get_vfoA", QByteArray());
            figures.read[door].push_back((answered - asked) * 1000);
        }
    }
    ::close(serial);
    server.terminate();
    if (!server.waitForFinished(5000))
        server.kill();
    return figures;
}

// flrig lists serial ports by opening every /dev/ttyS* (one is this machine's console) and
// serves XML-RPC on every address: it is run only where each /dev/ttyS* is /dev/null and the
// network is the loopback alone, as scripts/bench arranges. The reason it is not run, or none.
QString flrigUnsafeHere()
{
    struct stat null
    {
    };
    if (::stat("/dev/null", &null) != 0)
        return QStringLiteral("no /dev/null");
    const QStringList ttys =
        QDir(QStringLiteral("/dev")).entryList({QStringLiteral("ttyS*")}, QDir::System);
    for (const QString &tty : ttys) {
        struct stat device
        {
        };
        if (::stat(QFile::encodeName(QStringLiteral("/dev/") + tty).constData(), &device) != 0
            || device.st_rdev != null.st_rdev)
            return QStringLiteral("/dev/%1 is a serial device here").arg(tty);
    }
    QStringList names;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
        names << interface.name();
    if (names != QStringList{QStringLiteral("lo")})
        return QStringLiteral("the network is more than the loopback (%1)").arg(names.join(' '));
    if (QStandardPaths::findExecutable(QStringLiteral("flrig")).isEmpty())
        return QStringLiteral("no flrig (package flrig)");
    return {};
}

// The same XML-RPC calls, in turn, to the utility's flrig door and to Debian's flrig 1.4.7 for
// the FT-847, each on a virtual radio of its own (flrig's through a pseudo-terminal that socat
// bridges to the radio's raw port): each call's answer, and a key to the radio keyed (our
// lines; flrig's PTT frame). flrig polls its radio all the while, as it does for its clients.
struct XmlrpcPeerCall
{
    const char *method;
    QByteArray params;
};
const XmlrpcPeerCall PeerCalls[] = {
    {"main.get_version", {}},
    {"rig.get_xcvr", {}},
    {"rig.get_modes", {}},
    {"rig.get_vfoA", {}},
    {"rig.get_mode", {}},
    {"rig.get_bw", {}},
    {"rig.get_smeter", {}},
    {"rig.get_ptt", {}},
    {"rig.get_split", {}},
    {"rig.get_AB", {}},
    {"rig.set_vfoA", "<param><value><double>14076000</double></value></param>"},
    {"rig.set_mode", "<param><value>USB</value></param>"},
    {"rig.set_ptt", "<param><value><i4>1</i4></value></param>"},
    {"rig.set_ptt", "<param><value><i4>0</i4></value></param>"},
};
constexpr int PeerCallCount = int(std::size(PeerCalls));

struct XmlrpcPeerFigures
{
    std::vector<double> answered[2][PeerCallCount]; // [ours, flrig][call]
    std::vector<double> keyed[2];
};

XmlrpcPeerFigures xmlrpcPeerFigures(const QString &bin, int rounds)
{
    QTemporaryDir dir;
    // Ours.
    Radio ourRadio(bin);
    writeStore(dir.path(), QStringLiteral("rfc2217://") + ourRadio.address());
    const quint16 ourPort = freePort();
    QProcess utility;
    startUtility(utility, bin, dir.path(),
                 {"--flrig", QStringLiteral("127.0.0.1:%1").arg(ourPort)});

    // flrig's: its radio's raw port bridged to a pseudo-terminal, and its prefs naming both.
    Radio theirRadio(bin + QStringLiteral("/ft847-sim"), {"--json", "--raw"});
    const QString link = dir.path() + QStringLiteral("/flrig-radio");
    QProcess socat;
    socat.start(QStringLiteral("socat"),
                {"pty,raw,echo=0,link=" + link, "tcp:" + theirRadio.address()});
    const double up = monotonicSeconds() + 10;
    while (!QFileInfo::exists(link) && monotonicSeconds() < up)
        QThread::msleep(20);
    const QString home = dir.path() + QStringLiteral("/home");
    QDir().mkpath(home + QStringLiteral("/.flrig"));
    const auto writePrefs = [&home](const char *name, const QString &entries) {
        QFile prefs(home + QStringLiteral("/.flrig/") + QLatin1String(name));
        prefs.open(QIODevice::WriteOnly);
        prefs.write("; FLTK preferences file format 1.0\n; vendor: w1hkj.com\n\n[.]\n\n"
                    + entries.toUtf8());
    };
    // flrig takes a port it found in its own search, which finds the terminal by its own name.
    writePrefs("flrig.prefs", QStringLiteral("xcvr_name:FT-847\n"));
    writePrefs("FT-847.prefs", QStringLiteral("version:1.4.7\nxcvr_serial_port:%1\n"
                                              "comm_stopbits:2\nptt_via_cat:1\n")
                                   .arg(QFileInfo(link).canonicalFilePath()));
    QProcess flrig;
    QProcessEnvironment flrigEnv = QProcessEnvironment::systemEnvironment();
    flrigEnv.insert(QStringLiteral("HOME"), home);
    flrig.setProcessEnvironment(flrigEnv);
    flrig.setStandardOutputFile(QProcess::nullDevice());
    flrig.setStandardErrorFile(QProcess::nullDevice());
    flrig.start(QStringLiteral("flrig"), {});
    const auto stopAll = [&] {
        for (QProcess *process : {&flrig, &utility}) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(2000);
        }
        socat.kill();
        socat.waitForFinished(2000);
    };

    XmlrpcPeerFigures figures;
    try {
        QTcpSocket ours, theirs;
        if (!connectWithin(ours, ourPort, 15))
            throw std::runtime_error("the utility's flrig door did not open");
        if (!connectWithin(theirs, 12345, 30))
            throw std::runtime_error("flrig did not serve XML-RPC on 12345");
        // flrig serves at once, but answers for its radio once it has read it.
        const double ready = monotonicSeconds() + 30;
        while (!xmlrpcCall(theirs, "rig.get_vfoA", {}).contains("14074000"))
            if (monotonicSeconds() > ready)
                throw std::runtime_error("flrig did not read its radio");
            else
                QThread::msleep(200);
        // The utility has opened its port with the lines low: each key is seen from there.
        ourRadio.nextLines(false);
        Radio *radios[2] = {&ourRadio, &theirRadio};
        QTcpSocket *sockets[2] = {&ours, &theirs};
        // Each round, each server in turn (the first every other round) is asked the calls in
        // order, as a client polls: the answer to one may serve the next.
        for (int round = 0; round < rounds; ++round)
            for (int turn = 0; turn < 2; ++turn)
                for (int call = 0; call < PeerCallCount; ++call) {
                    const int side = (turn + round) % 2;
                    const XmlrpcPeerCall &asked = PeerCalls[call];
                    const bool key = asked.params.contains("<i4>1</i4>")
                                     && QByteArray(asked.method) == "rig.set_ptt";
                    const bool release = asked.params.contains("<i4>0</i4>");
                    const double sent = monotonicSeconds();
                    xmlrpcCall(*sockets[side], asked.method, asked.params);
                    figures.answered[side][call].push_back((monotonicSeconds() - sent) * 1000);
                    if (!key && !release)
                        continue;
                    // The radio keyed (or left) before the next call: ours by the lines,
                    // flrig's by its PTT frame.
                    const QJsonObject seen =
                        side == 0
                            ? radios[0]->nextLines(key)
                            : radios[1]->next([key](const QJsonObject &e) {
                                  return e.value("event") == "frame"
                                         && e.value("hex").toString().endsWith(key ? "08" : "88");
                              });
                    if (key)
                        figures.keyed[side].push_back((seen.value("t").toDouble() - sent) * 1000);
                }
    } catch (...) {
        stopAll();
        throw;
    }
    stopAll();
    return figures;
}

// Hamlib's rigctld for the FT-847 on a pseudo-terminal: "T 1" over its TCP port, timed to its
// PTT-on frame (opcode 08) at the terminal, each after a "T 0" that was answered. Nothing answers
// its reads on a bare terminal, so it is first given a "T 0" to answer: its opening reads have
// then timed out (1 s each), and none of that wait is counted as keying.
std::vector<double> rigctldLatencies(bool noDelays, int requests)
{
    const PtyMaster pty;
    const int master = pty.fd;
    QStringList arguments{"-m", "1001", "-r", pty.slave()};
    if (noDelays)
        arguments << "-C"
                  << "write_delay=0,post_write_delay=0";
    QProcess rigctld;
    QTcpSocket client;
    startRigctld(rigctld, arguments, client);
    client.setSocketOption(QAbstractSocket::LowDelayOption, 1);

    // Frames at the terminal until one with this opcode has come.
    QByteArray pending;
    const auto frameWith = [&](std::uint8_t opcode) {
        char buffer[64];
        pollfd fd{master, POLLIN, 0};
        for (;;) {
            while (pending.size() >= 5) {
                const auto got = static_cast<std::uint8_t>(pending.at(4));
                pending.remove(0, 5);
                if (got == opcode)
                    return;
            }
            if (poll(&fd, 1, 5000) <= 0)
                throw std::runtime_error("rigctld sent no PTT frame");
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0)
                throw std::runtime_error("the terminal closed");
            pending.append(buffer, int(n));
        }
    };
    const auto answered = [&client] {
        while (!client.canReadLine())
            if (!client.waitForReadyRead(5000))
                throw std::runtime_error("rigctld did not answer");
        client.readAll();
    };

    std::vector<double> latencies;
    for (int i = 0; i < requests; ++i) {
        client.write("T 0\n");
        client.flush();
        frameWith(0x88);
        answered();
        const double sent = monotonicSeconds();
        client.write("T 1\n");
        client.flush();
        frameWith(0x08);
        latencies.push_back((monotonicSeconds() - sent) * 1000);
        answered();
    }
    rigctld.kill();
    rigctld.waitForFinished(2000);
    return latencies;
}

// The floor of the host's path: a ClientMessage from the same sender to a window of another
// client, timed to its arrival there.
std::vector<double> xMessageFloor(HostSender &sender, int messages)
{
    int screenNumber = 0;
    xcb_connection_t *receiver = xcb_connect(nullptr, &screenNumber);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(receiver));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t window = xcb_generate_id(receiver);
    xcb_create_window(receiver, XCB_COPY_FROM_PARENT, window, screens.data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_flush(receiver);
    sender.sync();
    std::vector<double> latencies;
    for (int i = 0; i < messages; ++i) {
        const double sent = monotonicSeconds();
        sender.send(window, 0, 1);
        while (true) {
            xcb_generic_event_t *event = xcb_poll_for_event(receiver);
            if (!event) {
                pollfd fd{xcb_get_file_descriptor(receiver), POLLIN, 0};
                poll(&fd, 1, 1000);
                continue;
            }
            const bool message = (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE;
            std::free(event);
            if (message)
                break;
        }
        latencies.push_back((monotonicSeconds() - sent) * 1000);
    }
    xcb_disconnect(receiver);
    return latencies;
}

// The floor of a Qt X11 client: qt-relay-floor turns each host message into a frame straight
// from its event filter, timed like the utility's transmit frame.
std::vector<double> qtRelayFloor(const QString &bin, Radio &radio, HostSender &sender, int frames)
{
    const QString title = QStringLiteral("zolvek-bench relay floor");
    const QStringList hostPort = radio.address().split(QLatin1Char(':'));
    QProcess relay;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    relay.setProcessEnvironment(env);
    relay.setStandardErrorFile(QProcess::nullDevice());
    relay.start(bin + QStringLiteral("/qt-relay-floor"),
                {hostPort.value(0), hostPort.value(1), title});
    if (!relay.waitForStarted(5000))
        throw std::runtime_error("qt-relay-floor did not start");
    radio.nextNamed("connected");
    std::uint32_t window = 0;
    for (const double deadline = monotonicSeconds() + 10;
         window == 0 && monotonicSeconds() < deadline;) {
        const auto windows = sender.findWindows(title.toStdString());
        if (windows.size() == 1)
            window = windows.front();
        else
            QThread::msleep(20);
    }
    if (window == 0)
        throw std::runtime_error("the relay's window did not appear");
    // The same turn-around as the utility's transmit figure: each transmit right after a
    // receive that the radio has seen.
    std::vector<double> latencies;
    for (int i = 0; i < frames; ++i) {
        sender.send(window, 0, 0);
        radio.nextNamed("frame");
        const double sent = monotonicSeconds();
        sender.send(window, 0, 1);
        const QJsonObject frame = radio.nextNamed("frame");
        latencies.push_back((frame.value("t").toDouble() - sent) * 1000);
    }
    relay.kill();
    relay.waitForFinished(2000);
    radio.nextNamed("disconnected");
    return latencies;
}

// The floor of the radio's path: five bytes written straight to the virtual radio's TCP port,
// timed to its frame event.
std::vector<double> radioFloor(Radio &radio, int frames)
{
    QTcpSocket socket;
    const QStringList hostPort = radio.address().split(QLatin1Char(':'));
    socket.connectToHost(hostPort.value(0), quint16(hostPort.value(1).toUInt()));
    if (!socket.waitForConnected(2000))
        throw std::runtime_error("cannot reach the radio directly");
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    radio.nextNamed("connected");
    std::vector<double> latencies;
    for (int i = 0; i < frames; ++i) {
        const double sent = monotonicSeconds();
        socket.write(QByteArray::fromHex("0100000007"));
        socket.flush();
        const QJsonObject frame = radio.nextNamed("frame");
        latencies.push_back((frame.value("t").toDouble() - sent) * 1000);
        socket.readAll();
    }
    socket.abort();
    radio.nextNamed("disconnected");
    return latencies;
}

// The median and the worst deviation from the delay, and the shortest wait on its own row: the
// delay must never end early and may end late by a little.
void settlingFigures(std::vector<Figure> &figures, const QString &name,
                     const std::vector<double> &waits)
{
    Figure figure = summarise(name, waits, "ms", false);
    const auto [shortest, longest] = std::minmax_element(waits.begin(), waits.end());
    figure.tail = std::max(*longest - 1200.0, 1200.0 - *shortest);
    figure.tailKind = "worst deviation from 1200";
    figures.push_back(figure);
    figures.push_back(
        Figure{name + " (shortest)", *shortest, *shortest, "min", "ms", int(waits.size())});
}

} // namespace

// Each door of one utility on one virtual radio: what a door adds to the listener's.
void addDoorFigures(std::vector<Figure> &figures, const QString &bin)
{
    const DoorFigures doors = doorFigures(bin, 100);
    const char *doorNames[] = {"the listener (rigctl)", "the serial FT-847 port", "flrig XML-RPC"};
    for (int door = 0; door < 3; ++door) {
        figures.push_back(summarise(
            QStringLiteral("Doors, key to lines up at the radio: %1").arg(doorNames[door]),
            doors.keyed[door], "ms", true));
        figures.push_back(summarise(
            QStringLiteral("Doors, frequency read to its answer: %1").arg(doorNames[door]),
            doors.read[door], "ms", true));
    }
    const QString unsafe = flrigUnsafeHere();
    if (!unsafe.isEmpty()) {
        std::fprintf(stderr, "zolvek-bench: flrig 1.4.7 beside the flrig door not run: %s\n",
                     qUtf8Printable(unsafe));
        return;
    }
    const XmlrpcPeerFigures peer = xmlrpcPeerFigures(bin, 50);
    const auto sideBySide = [&figures](const QString &what, const std::vector<double> &flrig,
                                       const std::vector<double> &ours) {
        figures.push_back(
            summarise(QStringLiteral("XML-RPC, %1: flrig 1.4.7").arg(what), flrig, "ms", true));
        figures.push_back(summarise(
            QStringLiteral("XML-RPC, %1: the utility's flrig door").arg(what), ours, "ms", true));
        figures.push_back(Figure{QStringLiteral("Ratio: XML-RPC, %1, our median / flrig").arg(what),
                                 percentile(ours, 0.5) / percentile(flrig, 0.5), 0, "", "x", 1});
    };
    sideBySide(QStringLiteral("rig.set_ptt 1 to the radio keyed (PTT frame; our lines)"),
               peer.keyed[1], peer.keyed[0]);
    for (int call = 0; call < PeerCallCount; ++call)
        sideBySide(QStringLiteral("%1%2 to its answer")
                       .arg(QLatin1String(PeerCalls[call].method))
                       .arg(PeerCalls[call].params.contains("<i4>1</i4>")   ? " 1"
                            : PeerCalls[call].params.contains("<i4>0</i4>") ? " 0"
                                                                            : ""),
                   peer.answered[1][call], peer.answered[0][call]);
}

int printFigures(const std::vector<Figure> &figures, const QString &jsonOut)
{
    std::printf("| Figure | Median | p99 or max | Unit | Samples |\n|---|---|---|---|---|\n");
    QJsonArray rows;
    for (const Figure &f : figures) {
        const QString tail = f.tailKind.isEmpty()
                                 ? QStringLiteral("")
                                 : QStringLiteral("%1 (%2)").arg(f.tail, 0, 'f', 3).arg(f.tailKind);
        std::printf("| %s | %.3f | %s | %s | %d |\n", qUtf8Printable(f.name), f.median,
                    qUtf8Printable(tail), qUtf8Printable(f.unit), f.samples);
        rows.append(QJsonObject{{"figure", f.name},
                                {"median", f.median},
                                {"tail", f.tail},
                                {"tail_kind", f.tailKind},
                                {"unit", f.unit},
                                {"samples", f.samples}});
    }
    QFile out(jsonOut);
    if (out.open(QIODevice::WriteOnly))
        out.write(QJsonDocument(rows).toJson());
    std::printf("\nFigures as JSON: %s\n", qUtf8Printable(jsonOut));
    return 0;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: zolvek-bench BIN_DIR JSON_OUT [--doors]\n");
        return 2;
    }
    const QString bin = QString::fromLocal8Bit(argv[1]);
    const QString jsonOut = QString::fromLocal8Bit(argv[2]);
    std::vector<Figure> figures;
    // The doors alone: a few minutes, no X display needed.
    if (argc > 3 && QByteArray(argv[3]) == "--doors") {
        try {
            addDoorFigures(figures, bin);
        } catch (const std::exception &error) {
            std::fprintf(stderr, "zolvek-bench: %s\n", error.what());
            return 1;
        }
        return printFigures(figures, jsonOut);
    }
    try {
        Radio radio(bin);
        HostSender sender;
        if (!sender.isOpen())
            throw std::runtime_error("no X display");

        // Start-up: process start to the receive frame, ten starts.
        std::vector<double> startups;
        for (int i = 0; i < 10; ++i) {
            Utility utility(bin, radio.address());
            const double started = utility.start();
            radio.nextNamed("frame");
            const QJsonObject receive = radio.nextNamed("frame");
            startups.push_back((receive.value("t").toDouble() - started) * 1000);
            utility.stop();
            radio.nextNamed("disconnected");
        }

        Utility utility(bin, radio.address());
        utility.start();
        radio.nextNamed("frame");
        radio.nextNamed("frame");
        const std::uint32_t window = waitForWindow(sender);

        // Transmit latency. Each transmit follows a receive whose lines drop the radio has
        // seen, so that every transmit raises the lines anew; it overtakes that receive's
        // settling delay, as a host's quick turn-around does.
        std::vector<double> toLines, toFrame;
        sender.send(window, 0, 1);
        radio.nextNamed("frame");
        for (int i = 0; i < 1000; ++i) {
            sender.send(window, 0, 0);
            radio.nextLines(false);
            const double sent = monotonicSeconds();
            sender.send(window, 0, 1);
            const QJsonObject lines = radio.nextLines(true);
            const QJsonObject frame = radio.nextNamed("frame");
            toLines.push_back((lines.value("t").toDouble() - sent) * 1000);
            toFrame.push_back((frame.value("t").toDouble() - sent) * 1000);
        }

        // Settling delay and what the waiting costs.
        std::vector<double> settling;
        double waitCpu = 0, waitWall = 0;
        for (int i = 0; i < 25; ++i) {
            sender.send(window, 0, 1);
            radio.nextNamed("frame");
            const double cpuBefore = utility.cpuSeconds();
            const double wallBefore = monotonicSeconds();
            sender.send(window, 0, 0);
            const QJsonObject down = radio.nextLines(false);
            const QJsonObject frame = radio.nextNamed("frame");
            waitWall += monotonicSeconds() - wallBefore;
            waitCpu += utility.cpuSeconds() - cpuBefore;
            const double gap = (frame.value("t").toDouble() - down.value("t").toDouble()) * 1000;
            settling.push_back(gap);
        }
        const double peak = utility.peakResidentMb();
        sender.send(window, 1, 0);
        utility.stop();
        std::vector<double> timed = utility.settlingAsTimed();
        if (timed.size() < settling.size())
            throw std::runtime_error("the utility logged " + std::to_string(timed.size())
                                     + " settling waits of " + std::to_string(settling.size()));
        timed.erase(timed.begin(), timed.end() - std::ptrdiff_t(settling.size()));

        radio.nextNamed("disconnected");

        // The same on a local serial device: how long the lines the driver raises at open stay
        // high (50 starts), then transmit latency to RTS and to the frame.
        std::vector<double> localOpen, localToRts, localToFrame;
        for (int i = 0; i < 50; ++i)
            localOpen.push_back(LocalStation(bin).highAfterOpen);
        {
            LocalStation local(bin);
            Radio &device = *local.device;
            const std::uint32_t localWindow = waitForWindow(sender);
            sender.send(localWindow, 0, 1);
            device.nextNamed("frame");
            for (int i = 0; i < 1000; ++i) {
                sender.send(localWindow, 0, 0);
                device.nextLines(false);
                const double sent = monotonicSeconds();
                sender.send(localWindow, 0, 1);
                const QJsonObject rts = device.next([](const QJsonObject &e) {
                    return e.value("event") == "lines" && e.value("rts").toBool();
                });
                const QJsonObject frame = device.nextNamed("frame");
                localToRts.push_back((rts.value("t").toDouble() - sent) * 1000);
                localToFrame.push_back((frame.value("t").toDouble() - sent) * 1000);
            }
            sender.send(localWindow, 1, 0);
        }

        const std::vector<double> xFloor = xMessageFloor(sender, 1000);
        const std::vector<double> tcpFloor = radioFloor(radio, 1000);
        const std::vector<double> qtFloor = qtRelayFloor(bin, radio, sender, 1000);
        const std::vector<double> rigDefault = rigctldLatencies(false, 200);
        const std::vector<double> rigNoDelay = rigctldLatencies(true, 200);
        const DoorServerFigures localRigctld = rigctlServerFigures(bin, false, 200);
        const DoorServerFigures localListener = rigctlServerFigures(bin, true, 200);
        const SatelliteFigures satRigctld = satelliteFigures(bin, false, 200, 60);
        const SatelliteFigures satListener = satelliteFigures(bin, true, 200, 60);

        figures.push_back(
            summarise("Transmit: host message to lines high at the radio", toLines, "ms", true));
        figures.push_back(summarise("Transmit: host message to transmit frame at the radio",
                                    toFrame, "ms", true));
        figures.push_back(summarise("Local port: host message to RTS raised at the device",
                                    localToRts, "ms", true));
        figures.push_back(summarise("Local port: host message to transmit frame at the device",
                                    localToFrame, "ms", true));
        figures.push_back(summarise("Local port: lines high after open (driver raise to lowered)",
                                    localOpen, "ms", true));
        settlingFigures(figures, "Settling: lines down to receive frame", settling);
        settlingFigures(figures, "Settling: the same waits as the utility timed them", timed);
        figures.push_back(Figure{"CPU while waiting (user+system / wall)",
                                 100.0 * waitCpu / waitWall, 100.0 * waitCpu / waitWall, "total",
                                 "%", int(settling.size())});
        figures.push_back(
            summarise("Start-up: process start to receive frame", startups, "ms", false));
        figures.push_back(Figure{"Peak resident set (VmHWM)", peak, peak, "max", "MB", 1});
        figures.push_back(
            summarise("rigctld -m 1001, default delays: T 1 to PTT frame", rigDefault, "ms", true));
        figures.push_back(summarise("rigctld -m 1001, no write delays: T 1 to PTT frame",
                                    rigNoDelay, "ms", true));
        const double ours = percentile(toFrame, 0.5);
        figures.push_back(Figure{"Ratio: our transmit frame median / rigctld default",
                                 ours / percentile(rigDefault, 0.5), 0, "", "x", 1});
        figures.push_back(Figure{"Ratio: our transmit frame median / rigctld no delays",
                                 ours / percentile(rigNoDelay, 0.5), 0, "", "x", 1});
        const auto sideBySide = [&figures](const QString &what, const std::vector<double> &theirs,
                                           const std::vector<double> &mine) {
            figures.push_back(summarise(QStringLiteral("Local port, %1: rigctld -m 1001, no "
                                                       "write delays")
                                            .arg(what),
                                        theirs, "ms", true));
            figures.push_back(
                summarise(QStringLiteral("Local port, %1: the utility's listener").arg(what), mine,
                          "ms", true));
            figures.push_back(
                Figure{QStringLiteral("Ratio: %1, our listener median / rigctld").arg(what),
                       percentile(mine, 0.5) / percentile(theirs, 0.5), 0, "", "x", 1});
        };
        sideBySide("T 1 to the radio keyed (PTT frame; our lines)", localRigctld.keyed,
                   localListener.keyed);
        sideBySide("T 0 to its answer", localRigctld.released, localListener.released);
        sideBySide("F to the set-frequency frame", localRigctld.frequency, localListener.frequency);
        const auto virtualRadio = [&figures](const QString &what, const std::vector<double> &theirs,
                                             const std::vector<double> &mine) {
            figures.push_back(summarise(
                QStringLiteral("Virtual radio, %1: rigctld -m 1001, no write delays").arg(what),
                theirs, "ms", true));
            figures.push_back(
                summarise(QStringLiteral("Virtual radio, %1: the utility's listener").arg(what),
                          mine, "ms", true));
            figures.push_back(
                Figure{QStringLiteral("Ratio: %1, our listener median / rigctld").arg(what),
                       percentile(mine, 0.5) / percentile(theirs, 0.5), 0, "", "x", 1});
        };
        virtualRadio("T 1 to the radio keyed (PTT frame; our lines)", satRigctld.keyed,
                     satListener.keyed);
        virtualRadio("f (a radio read) to its answer", satRigctld.read, satListener.read);
        virtualRadio("I to the satellite TX frame", satRigctld.split, satListener.split);
        virtualRadio("Doppler, I and F 5/s each for 60 s, to each answer", satRigctld.doppler,
                     satListener.doppler);
        addDoorFigures(figures, bin);
        figures.push_back(summarise("Virtual radio, Doppler: rigctld -m 1001's slowest answer",
                                    satRigctld.doppler, "ms", false));
        figures.push_back(summarise("Virtual radio, Doppler: the utility's slowest answer",
                                    satListener.doppler, "ms", false));
        figures.push_back(
            summarise("Floor: host message to another X client (no utility)", xFloor, "ms", true));
        figures.push_back(
            summarise("Floor: 5 bytes over TCP to the radio (no utility)", tcpFloor, "ms", true));
        figures.push_back(
            summarise("Floor: host message to a frame from a bare Qt X11 client (no utility)",
                      qtFloor, "ms", true));
        figures.push_back(Figure{"Ratio: bare Qt X11 client floor median / rigctld no delays",
                                 percentile(qtFloor, 0.5) / percentile(rigNoDelay, 0.5), 0, "", "x",
                                 1});
        const double wire = 5 * (1 + 8 + 0 + 2) / 4800.0 * 1000;
        figures.push_back(
            Figure{"Wire time of one frame at 4800,n,8,2 (reference)", wire, wire, "", "ms", 1});
    } catch (const std::exception &error) {
        std::fprintf(stderr, "zolvek-bench: %s (after %zu figures)\n", error.what(),
                     figures.size());
        return 1;
    }

    return printFigures(figures, jsonOut);
}
