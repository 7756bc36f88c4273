#pragma once

#include "serial/portbackend.h"
#include "serial/porterror.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A throwaway options store for one test process. Every COM number the port object accepts is
// mapped to a path that does not exist, so nothing can fall back to a real serial device.
class TempStore
{
public:
    TempStore();
    ~TempStore();
    TempStore(const TempStore &) = delete;
    TempStore &operator=(const TempStore &) = delete;

    QString configHome() const { return m_dir.path(); }
    QString iniPath() const;
    // Empties the store and maps every port to a missing device again.
    void reset();
    void mapPort(int port, const QString &device);
    void writeRaw(const QByteArray &iniText);
    QByteArray readRaw() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

// A [Ports] section that maps every COM number the port object accepts to a missing path in
// `configHome`, except COM1 when `com1` is given; scripts/lib/zolvekcontract.py writes the same.
QByteArray testPortsMap(const QString &configHome, const QString &com1 = QString());
// Writes a fresh store into `configHome` holding only that map.
void writeTestPorts(const QString &configHome, const QString &com1 = QString());

// What a fake port was asked to do, one line an action: "open ADDRESS SETTINGS dtr=0 rts=0",
// "close", "settings TEXT", "dtr 1", "rts 0", "write 0300000007". Failures can be switched on
// per kind of action.
struct FakePortLog
{
    QStringList actions;
    QList<qint64> times; // monotonic nanoseconds, one per action
    bool failOpen = false;
    bool failClose = false;
    bool failSettings = false;
    bool failLines = false;
    bool failWrite = false;
    bool failRelease = false; // sending what was held
    bool recordHolds = false; // adds "hold" and "release" lines
    int openCount = 0;

    void record(const QString &action);
    QStringList take();
};

PortBackendFactory fakePortFactory(std::shared_ptr<FakePortLog> log);
// Start-up's frames have reached the fake port and the radio's pacing lets the next frame leave
// at once; false when they never came.
bool startupFramesSent(const FakePortLog &log);

// The real port backends for tests; the machine's own serial ports are never opened (/dev/ttyS*,
// the system console among them, or a link to one): reaching for one fails the
// running test, since it means the store's mapping was lost.
PortBackendFactory safePortFactory();

// The error number `action` raised through the port object, 0 when it raised none.
template <typename Action> int raisedNumber(Action &&action)
{
    try {
        action();
    } catch (const PortError &error) {
        return error.number();
    }
    return 0;
}

// The store that runTest made for this process.
TempStore &testStore();

// Runs the test class with the offscreen platform and a throwaway options store.
int runTest(int argc, char **argv, QObject *test, bool widgets);

#define ZOLVEK_TEST_MAIN(TestClass, widgets)                                                       \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestClass test;                                                                            \
        return runTest(argc, argv, &test, widgets);                                                \
    }
