#pragma once

#include "tests/jsonprocess.h"

#include <QTemporaryDir>

// zolvek-ptt under tty-double, its COM1 the double's device; the double's log is the radio's.
class LocalStation
{
public:
    ~LocalStation();

    // `leftByAnother`: the device starts as another program may have left it (HUPCL cleared,
    // lines up, other settings).
    bool start(bool leftByAnother = false);
    qint64 utilityPid();
    bool waitForFrames(int count, int timeoutMs = 5000);
    int indexOf(const QString &event, int from = 0);
    double time(int index) { return log.events().at(index).value("t").toDouble(); }
    QString errorFile() const { return m_config.path() + QStringLiteral("/errors"); }

private:
    QTemporaryDir m_config;

public:
    SimProcess log;
};
