#include "tests/jsonprocess.h"

#include "tests/testsupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>

JsonProcess::~JsonProcess()
{
    stop();
}

bool JsonProcess::start(const QString &program, const QStringList &arguments, int timeoutMs)
{
    m_events.clear();
    m_pending.clear();
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setReadChannel(QProcess::StandardOutput);
    m_process.start(program, arguments);
    return m_process.waitForStarted(timeoutMs);
}

void JsonProcess::collect()
{
    m_pending += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(end).trimmed();
        m_pending.remove(0, end + 1);
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            m_events.append(doc.object());
    }
}

const JsonProcess::Events &JsonProcess::events()
{
    collect();
    return m_events;
}

bool JsonProcess::waitFor(const std::function<bool(const Events &)> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        collect();
        if (done(m_events))
            return true;
        if (deadline.hasExpired())
            return false;
        if (m_process.state() == QProcess::NotRunning) {
            collect();
            return done(m_events);
        }
        // Keep this process's own event loop turning: the code under test may live in it.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        m_process.waitForReadyRead(10);
    }
}

QJsonObject JsonProcess::waitForEvent(const QString &name, int timeoutMs)
{
    QJsonObject found;
    waitFor(
        [&](const Events &events) {
            for (const QJsonObject &event : events) {
                if (event.value(QStringLiteral("event")).toString() == name) {
                    found = event;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

void JsonProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(2000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

bool SimProcess::start(const QString &listen, const QStringList &radio)
{
    if (!JsonProcess::start(
            binaryPath(QStringLiteral("ft847-sim")),
            QStringList{QStringLiteral("--json"), QStringLiteral("--listen"), listen} + radio))
        return false;
    const QJsonObject listening = waitForEvent(QStringLiteral("listening"));
    m_address = listening.value(QStringLiteral("address")).toString();
    return !m_address.isEmpty();
}

JsonProcess::Events SimProcess::named(const QString &name)
{
    Events result;
    for (const QJsonObject &event : events()) {
        if (event.value(QStringLiteral("event")).toString() == name)
            result.append(event);
    }
    return result;
}

QStringList SimProcess::radioActions(bool strict)
{
    QStringList actions;
    bool dtr = false, rts = false;
    bool rtsStepPending = false;
    for (const QJsonObject &event : events()) {
        const QString name = event.value(QStringLiteral("event")).toString();
        if (name == QLatin1String("lines")) {
            const bool newDtr = event.value(QStringLiteral("dtr")).toBool();
            const bool newRts = event.value(QStringLiteral("rts")).toBool();
            if (rtsStepPending && newRts == rts && newDtr != dtr)
                actions.removeLast();
            else if (strict && newDtr != dtr && newRts == rts)
                actions << QStringLiteral("DTR moved before RTS");
            rtsStepPending = newRts != rts && newDtr == dtr;
            dtr = newDtr;
            rts = newRts;
            actions << QStringLiteral("lines dtr=%1 rts=%2").arg(dtr).arg(rts);
        } else if (name == QLatin1String("frame")) {
            rtsStepPending = false;
            actions << QStringLiteral("frame ") + event.value(QStringLiteral("hex")).toString();
        }
    }
    return actions;
}

QString binaryPath(const QString &name)
{
    return QStringLiteral(ZOLVEK_BIN_DIR "/") + name;
}

QString sourcePath(const QString &relative)
{
    return QStringLiteral(ZOLVEK_SOURCE_DIR "/") + relative;
}

QString systemPython()
{
    return QStringLiteral("/usr/bin/python3");
}

QProcessEnvironment utilityEnvironment(const QString &configHome, bool onDisplay)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"),
               onDisplay ? QStringLiteral("xcb") : QStringLiteral("offscreen"));
    return env;
}

QString runCommand(const QString &program, const QStringList &arguments, int timeoutMs,
                   int *exitCode)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
    }
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

Station::~Station()
{
    if (utility.state() != QProcess::NotRunning) {
        utility.kill();
        utility.waitForFinished(3000);
    }
}

quint16 Station::listenerPort(int timeoutMs)
{
    static const QRegularExpression said(QStringLiteral("rigctl listener on [0-9.]+:(\\d+)"));
    QFile errors(errorFile);
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (errors.isOpen() || errors.open(QIODevice::ReadOnly)) {
            errors.seek(0);
            const auto found = said.match(QString::fromUtf8(errors.readAll()));
            if (found.hasMatch())
                return quint16(found.captured(1).toUInt());
        }
        QThread::msleep(20);
    }
    return 0;
}

bool Station::start(bool onDisplay)
{
    if (!sim.start())
        return false;
    writeTestPorts(m_config.path(), sim.url());
    m_onDisplay = onDisplay;
    return startUtility();
}

bool Station::startUtility()
{
    const int before = frames();
    QProcessEnvironment env = utilityEnvironment(m_config.path(), m_onDisplay);
    for (const QString &entry : environment)
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    utility.setProcessEnvironment(env);
    utility.setProcessChannelMode(errorFile.isEmpty() ? QProcess::ForwardedErrorChannel
                                                      : QProcess::SeparateChannels);
    if (!errorFile.isEmpty())
        utility.setStandardErrorFile(errorFile, QIODevice::Append);
    utility.start(binaryPath(QStringLiteral("zolvek-ptt")), arguments);
    return utility.waitForStarted(5000) && waitForFrames(before + 2);
}

bool Station::stopUtility()
{
    utility.terminate();
    return utility.waitForFinished(5000);
}

int Station::frames()
{
    return int(sim.named(QStringLiteral("frame")).size());
}

bool Station::waitForFrames(int count, int timeoutMs)
{
    return sim.waitFor(
        [count](const JsonProcess::Events &events) {
            int frames = 0;
            for (const QJsonObject &event : events)
                frames += event.value(QStringLiteral("event")).toString() == QLatin1String("frame");
            return frames >= count;
        },
        timeoutMs);
}
