#include "settings/options.h"
#include "settings/settingsstore.h"
#include "settings/storelocation.h"
#include "tests/testsupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QTest>

class TestSettingsStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { testStore().reset(); }
    void firstRunDefaults();
    void storedValueWins();
    void storingTwiceKeepsOneEntry();
    void textKeptAsIs_data();
    void textKeptAsIs();
    void handEditedValues_data();
    void handEditedValues();
    void locationFollowsXdgConfigHome();
    void privateToUser_data();
    void privateToUser();
    void survivesNewProcess();
    void survivesKill();
};

void TestSettingsStore::firstRunDefaults()
{
    QCOMPARE(GetSetting(Options::ComPort, "1"), "1");
    QCOMPARE(GetSetting(Options::Settings, "4800,n,8,2"), "4800,n,8,2");
    QCOMPARE(GetSetting(Options::Settings, ""), "");
    QCOMPARE(GetSetting(Options::Min, "0"), "0");
    QCOMPARE(GetSetting(Options::Top, "0"), "0");
}

void TestSettingsStore::storedValueWins()
{
    QVERIFY(SaveSetting(Options::ComPort, "3"));
    QCOMPARE(GetSetting(Options::ComPort, "1"), "3");
    // An entry stored as empty text exists: its default is not used.
    QVERIFY(SaveSetting(Options::Min, ""));
    QCOMPARE(GetSetting(Options::Min, "0"), "");
}

void TestSettingsStore::storingTwiceKeepsOneEntry()
{
    QVERIFY(SaveSetting(Options::Top, "1"));
    QVERIFY(SaveSetting(Options::Top, "1"));
    const QByteArray raw = testStore().readRaw();
    QCOMPARE(raw.count("Top="), 1);
    QCOMPARE(GetSetting(Options::Top, "0"), "1");
}

void TestSettingsStore::textKeptAsIs_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("settings") << "4800,n,8,2";
    QTest::newRow("blanks") << "  4800 , n,8, 2 ";
    QTest::newRow("refused by the port") << "4800,x";
    QTest::newRow("quotes and equals") << "a=\"b\";c";
    QTest::newRow("non-ASCII") << QStringLiteral("Kanal ä 日本");
    QTest::newRow("control characters") << QStringLiteral("a\tb\x01");
    QTest::newRow("brackets") << "[Win]";
    QTest::newRow("long") << QString(5000, QLatin1Char('x'));
}

void TestSettingsStore::textKeptAsIs()
{
    QFETCH(QString, value);
    QVERIFY(SaveSetting(Options::Settings, value));
    QCOMPARE(GetSetting(Options::Settings, "default"), value);
}

void TestSettingsStore::handEditedValues_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unquoted settings") << QByteArray("Settings=4800,n,8,2") << "4800,n,8,2";
    QTest::newRow("quoted settings") << QByteArray("Settings=\"9600,e,7,1\"") << "9600,e,7,1";
    QTest::newRow("plain") << QByteArray("Settings=abc") << "abc";
    QTest::newRow("empty") << QByteArray("Settings=") << "";
    // A damaged or mistyped file cannot make the window stall or fill memory.
    QTest::newRow("longer than any option")
        << "Settings=" + QByteArray(1 << 20, 'x') << QString(MaxValueLength, QLatin1Char('x'));
}

void TestSettingsStore::handEditedValues()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, expected);
    testStore().writeRaw("[Com]\n" + line + "\n");
    QCOMPARE(GetSetting(Options::Settings, "default"), expected);
}

void TestSettingsStore::locationFollowsXdgConfigHome()
{
    QCOMPARE(settingsLocation(Options::App), testStore().configHome() + "/KELD/settings.ini");
    QVERIFY(SaveSetting(Options::ComPort, "2"));
    QVERIFY(testStore().readRaw().contains("ComPort=2"));
}

void TestSettingsStore::privateToUser_data()
{
    QTest::addColumn<bool>("madeByOthers");
    QTest::newRow("made by the utility") << false;
    QTest::newRow("made 0755/0644 by a script") << true;
}

void TestSettingsStore::privateToUser()
{
    QFETCH(bool, madeByOthers);
    const QString folder = testStore().configHome() + (madeByOthers ? "/script" : "/fresh");
    if (madeByOthers) {
        QDir().mkpath(folder + "/KELD");
        QFile file(folder + "/KELD/settings.ini");
        QVERIFY(file.open(QIODevice::WriteOnly));
        QFile::setPermissions(folder + "/KELD", QFile::Permissions(0x7755));
        file.setPermissions(QFile::Permissions(0x6644));
    }
    qputenv("XDG_CONFIG_HOME", folder.toLocal8Bit());
    QVERIFY(SaveSetting(Options::ComPort, "2"));
    QVERIFY(SaveSetting(Options::ComPort, "3")); // rewritten
    const QFileInfo dir(folder + "/KELD");
    const QFileInfo file(folder + "/KELD/settings.ini");
    qputenv("XDG_CONFIG_HOME", testStore().configHome().toLocal8Bit());
    QCOMPARE(dir.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
             QFile::Permissions());
    QCOMPARE(file.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
             QFile::Permissions());
}

namespace {

QString runWriter(const QStringList &args, int *exitCode = nullptr,
                  QProcess::ExitStatus *status = nullptr)
{
    QProcess process;
    process.start(QStringLiteral(STORE_WRITER), args);
    process.waitForFinished(10000);
    if (exitCode)
        *exitCode = process.exitCode();
    if (status)
        *status = process.exitStatus();
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

void TestSettingsStore::survivesNewProcess()
{
    QVERIFY(SaveSetting(Options::Settings, "1200,e,7,1"));
    QCOMPARE(runWriter({"get", "Com", "Settings", "x"}), "1200,e,7,1");
    int code = -1;
    runWriter({"set", "Win", "Top", "1"}, &code);
    QCOMPARE(code, 0);
    QCOMPARE(GetSetting(Options::Top, "0"), "1");
}

void TestSettingsStore::survivesKill()
{
    QProcess::ExitStatus status = QProcess::NormalExit;
    runWriter({"set", "Com", "ComPort", "4", "kill"}, nullptr, &status);
    QCOMPARE(status, QProcess::CrashExit);
    QCOMPARE(GetSetting(Options::ComPort, "1"), "4");
    // The rest of the store is intact.
    QVERIFY(testStore().readRaw().contains("[Ports]"));
}

ZOLVEK_TEST_MAIN(TestSettingsStore, false)
#include "test_settingsstore.moc"
