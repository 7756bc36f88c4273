#include "tests/localstation.h"

#include "tests/testsupport.h"

#include <QFile>
#include <algorithm>
#include <csignal>

LocalStation::~LocalStation()
{
    if (log.process().state() != QProcess::NotRunning) {
        ::kill(pid_t(utilityPid()), SIGKILL);
        log.process().waitForFinished(5000);
    }
}

bool LocalStation::start(bool leftByAnother)
{
    const QString link = m_config.path() + QStringLiteral("/radio");
    writeTestPorts(m_config.path(), link);
    log.process().setProcessEnvironment(utilityEnvironment(m_config.path(), true));
    log.process().setStandardErrorFile(errorFile());
    QStringList device{"--json", "--link", link};
    if (leftByAnother)
        device << "--left-by-another";
    return log.JsonProcess::start(binaryPath("tty-double"),
                                  device + QStringList{"--", binaryPath("zolvek-ptt")})
           && waitForFrames(2);
}

qint64 LocalStation::utilityPid()
{
    const qint64 pid = log.process().processId();
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    return children.open(QIODevice::ReadOnly) ? children.readAll().trimmed().toLongLong() : 0;
}

bool LocalStation::waitForFrames(int count, int timeoutMs)
{
    return log.waitFor(
        [count](const JsonProcess::Events &events) {
            return std::count_if(
                       events.begin(), events.end(),
                       [](const QJsonObject &event) { return event.value("event") == "frame"; })
                   >= count;
        },
        timeoutMs);
}

int LocalStation::indexOf(const QString &event, int from)
{
    const auto &events = log.events();
    for (int i = from; i < events.size(); ++i)
        if (events[i].value("event") == event)
            return i;
    return -1;
}
