#include "tests/testsupport.h"

#include "ft847/ft847radio.h"

#include "serial/commcontrol.h"
#include "serial/porterror.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <chrono>
#include <utility>

TempStore::TempStore()
{
    m_hadPrevious = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    m_previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
    reset();
}

TempStore::~TempStore()
{
    if (m_hadPrevious)
        qputenv("XDG_CONFIG_HOME", m_previous);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString TempStore::iniPath() const
{
    return m_dir.path() + QStringLiteral("/KELD/settings.ini");
}

void TempStore::writeRaw(const QByteArray &iniText)
{
    QDir().mkpath(m_dir.path() + QStringLiteral("/KELD"));
    QFile file(iniPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(iniText);
}

QByteArray TempStore::readRaw() const
{
    QFile file(iniPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TempStore::reset()
{
    writeTestPorts(m_dir.path());
}

QByteArray testPortsMap(const QString &configHome, const QString &com1)
{
    QByteArray ports("[Ports]\n");
    for (int port = CommControl::FirstPort; port <= CommControl::LastPort; ++port) {
        const QString device = port == 1 && !com1.isEmpty()
                                   ? com1
                                   : QStringLiteral("%1/missing-com%2").arg(configHome).arg(port);
        ports += QStringLiteral("COM%1=%2\n").arg(port).arg(device).toUtf8();
    }
    return ports;
}

void writeTestPorts(const QString &configHome, const QString &com1)
{
    QDir().mkpath(configHome + QStringLiteral("/KELD"));
    QFile file(configHome + QStringLiteral("/KELD/settings.ini"));
    if (QFileInfo(file).isSymLink()) // a test's store reached through a link
        file.remove();
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(testPortsMap(configHome, com1));
}

void TempStore::mapPort(int port, const QString &device)
{
    QByteArray text = readRaw();
    const QByteArray key = QStringLiteral("COM%1=").arg(port).toUtf8();
    const QByteArray line = "\n" + key;
    const qsizetype at = text.indexOf(line);
    QVERIFY(at >= 0);
    const qsizetype end = text.indexOf('\n', at + 1);
    text.replace(at + 1, end - at - 1, QByteArray(key + device.toUtf8()));
    writeRaw(text);
}

void FakePortLog::record(const QString &action)
{
    actions.append(action);
    times.append(std::chrono::duration_cast<std::chrono::nanoseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
                     .count());
}

QStringList FakePortLog::take()
{
    times.clear();
    return std::exchange(actions, {});
}

namespace {

class FakePortBackend : public PortBackend
{
public:
    FakePortBackend(std::shared_ptr<FakePortLog> log, QString address)
        : m_log(std::move(log))
        , m_address(std::move(address))
    {
    }

    void open(const LineSettings &settings, bool dtr, bool rts) override
    {
        check(m_log->failOpen, QStringLiteral("open"));
        ++m_log->openCount;
        m_log->record(QStringLiteral("open %1 %2 dtr=%3 rts=%4")
                          .arg(m_address, settings.toText())
                          .arg(int(dtr))
                          .arg(int(rts)));
    }
    void close() override
    {
        check(m_log->failClose, QStringLiteral("close"));
        m_log->record(QStringLiteral("close"));
    }
    void applySettings(const LineSettings &settings) override
    {
        check(m_log->failSettings, QStringLiteral("settings"));
        m_log->record(QStringLiteral("settings ") + settings.toText());
    }
    void setDtr(bool high) override
    {
        check(m_log->failLines, QStringLiteral("dtr"));
        m_log->record(QStringLiteral("dtr %1").arg(int(high)));
    }
    void setRts(bool high) override
    {
        check(m_log->failLines, QStringLiteral("rts"));
        m_log->record(QStringLiteral("rts %1").arg(int(high)));
    }
    void write(const QByteArray &bytes) override
    {
        check(m_log->failWrite, QStringLiteral("write"));
        m_log->record(QStringLiteral("write ") + QString::fromLatin1(bytes.toHex()));
    }
    void holdOutput() override
    {
        if (m_log->recordHolds)
            m_log->record(QStringLiteral("hold"));
    }
    void releaseOutput() override
    {
        check(m_log->failRelease, QStringLiteral("release"));
        if (m_log->recordHolds)
            m_log->record(QStringLiteral("release"));
    }

private:
    void check(bool fail, const QString &what)
    {
        if (fail) {
            m_log->record(QStringLiteral("failed ") + what);
            throw PortError(PortError::PortUnavailable, QStringLiteral("fake %1 failed").arg(what));
        }
    }

    std::shared_ptr<FakePortLog> m_log;
    QString m_address;
};

} // namespace

PortBackendFactory fakePortFactory(std::shared_ptr<FakePortLog> log)
{
    return [log](const QString &address) -> std::unique_ptr<PortBackend> {
        return std::make_unique<FakePortBackend>(log, address);
    };
}

PortBackendFactory safePortFactory()
{
    return [](const QString &address) {
        // The console and serial ports of Unix, and every COM port of Windows.
        static const QRegularExpression machinePort(
            QStringLiteral(R"(^(/dev/ttyS[0-9]*|(\\\\[.?]\\)?COM[0-9]+:?)$)"),
            QRegularExpression::CaseInsensitiveOption);
        const QString canonical = QFileInfo(address.trimmed()).canonicalFilePath();
        if (machinePort.match(address.trimmed()).hasMatch()
            || machinePort.match(canonical).hasMatch()) {
            const QString why =
                QStringLiteral("a test reached for the machine's serial port %1").arg(address);
            QTest::qFail(qPrintable(why), __FILE__, __LINE__);
            throw PortError(PortError::PortUnavailable, why);
        }
        return createPortBackend(address);
    };
}

namespace {
TempStore *g_store = nullptr;
}

TempStore &testStore()
{
    Q_ASSERT(g_store);
    return *g_store;
}

int runTest(int argc, char **argv, QObject *test, bool widgets)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TempStore store;
    g_store = &store;
    if (widgets) {
        QApplication app(argc, argv);
        return QTest::qExec(test, argc, argv);
    }
    QCoreApplication app(argc, argv);
    return QTest::qExec(test, argc, argv);
}

bool startupFramesSent(const FakePortLog &log)
{
    if (!QTest::qWaitFor([&log] { return log.actions.contains("write 0300000007"); }, 5000))
        return false;
    QTest::qWait(Ft847::PacingMs + Ft847Radio::PacingMarginMs);
    return true;
}
