#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal: the port object opens the slave path; the test reads the master side.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    // Reads what has arrived within the time limit, until `count` bytes or the limit.
    QByteArray read(int count, int timeoutMs = 2000);

private:
    int m_master = -1;
    QString m_slavePath;
};
