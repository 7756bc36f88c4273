// Stored options from a damaged or hand-edited store, run through real start-ups; and a store
// that cannot be written.
#include "app/form1.h"
#include "app/listcombobox.h"
#include "app/valuecheckbox.h"
#include "serial/commcontrol.h"
#include "settings/options.h"
#include "settings/settingsstore.h"
#include "tests/form1controls.h"
#include "tests/jsonprocess.h"
#include "tests/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <sys/mount.h>
#include <unistd.h>

namespace {

struct StartResult
{
    bool survived = false;
    QString tried;        // the missing device it tried to open, if any
    QJsonObject settings; // what the radio was set to, if it connected
    QByteArray errors;
    QByteArray storeAfter;
};

// One real start-up of zolvek-ptt with `store` (after the port map) as its options.
StartResult startWith(SimProcess &radio, const QByteArray &store, const QStringList &arguments = {})
{
    QTemporaryDir config;
    QDir().mkpath(config.path() + "/KELD");
    QFile file(config.path() + "/KELD/settings.ini");
    file.open(QIODevice::WriteOnly);
    file.write(testPortsMap(config.path(), radio.url()) + store);
    file.close();

    const qsizetype before = radio.events().size();
    QProcess utility;
    utility.setProcessEnvironment(utilityEnvironment(config.path()));
    utility.start(binaryPath("zolvek-ptt"), arguments);
    utility.waitForStarted(5000);
    StartResult result;
    // Up when it has either reached the radio or failed to open its port.
    const auto reached = [before](const JsonProcess::Events &events) {
        for (qsizetype i = before; i < events.size(); ++i)
            if (events[i].value("event") == "frame")
                return true;
        return false;
    };
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000 && !radio.waitFor(reached, 20)) {
        result.errors += utility.readAllStandardError();
        if (result.errors.contains("missing-com") || utility.state() != QProcess::Running)
            break;
    }
    QTest::qWait(300);
    result.survived = utility.state() == QProcess::Running;
    utility.kill();
    utility.waitForFinished(3000);
    result.errors += utility.readAllStandardError();
    radio.waitFor(
        [&](const JsonProcess::Events &events) {
            return events.size() > before && events.last().value("event") == "disconnected";
        },
        300);
    const auto events = radio.events();
    for (qsizetype i = before; i < events.size(); ++i)
        if (events[i].value("event") == "settings")
            result.settings = events[i];
    const auto match =
        QRegularExpression("missing-com(\\d+)").match(QString::fromUtf8(result.errors));
    if (match.hasMatch())
        result.tried = "COM" + match.captured(1);
    else if (result.errors.isEmpty() || !result.errors.contains("Cannot open"))
        result.tried = "COM1";
    QFile after(config.path() + "/KELD/settings.ini");
    after.open(QIODevice::ReadOnly);
    result.storeAfter = after.readAll();
    return result;
}

} // namespace

class TestHostileStore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void startUps_data();
    void startUpOptionSaid_data();
    void startUpOptionSaid();
    void startUps();
    void storeThatCannotBeRead_data();
    void storeThatCannotBeRead();
    void storeThatCannotBeWritten_data();
    void storeThatCannotBeWritten();

private:
    SimProcess m_radio;
};

void TestHostileStore::initTestCase()
{
    QVERIFY(m_radio.start());
}

void TestHostileStore::startUps_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QString>("port");     // the port it must use
    QTest::addColumn<int>("baud");         // what the radio is set to (0: not reached)
    QTest::addColumn<QByteArray>("keeps"); // a line the store must still hold afterwards

    const auto comPort = [](const QByteArray &value) -> QByteArray {
        return "[Com]\nComPort=" + value + "\n";
    };
    const auto settings = [](const QByteArray &value) -> QByteArray {
        return "[Com]\nSettings=" + value + "\n";
    };
    QTest::newRow("nothing stored") << QByteArray() << "COM1" << 4800 << QByteArray("[Ports]");
    QTest::newRow("port empty") << comPort("") << "COM1" << 4800 << QByteArray("ComPort=");
    QTest::newRow("port blanks") << comPort("   ") << "COM1" << 4800 << QByteArray();
    QTest::newRow("port 1.0") << comPort("1.0") << "COM1" << 4800 << QByteArray("ComPort=1.0");
    QTest::newRow("port 2.5") << comPort("2.5") << "COM2" << 0 << QByteArray("ComPort=2.5");
    QTest::newRow("port -1") << comPort("-1") << "COM1" << 4800 << QByteArray();
    QTest::newRow("port 0") << comPort("0") << "COM1" << 4800 << QByteArray();
    QTest::newRow("port 4") << comPort("4") << "COM4" << 0 << QByteArray();
    QTest::newRow("port 5") << comPort("5") << "COM5" << 0 << QByteArray();
    QTest::newRow("port 32768") << comPort("32768") << "COM1" << 4800 << QByteArray();
    QTest::newRow("port 1e999") << comPort("1e999") << "COM1" << 4800 << QByteArray();
    QTest::newRow("port nan") << comPort("nan") << "COM1" << 4800 << QByteArray();
    QTest::newRow("port inf") << comPort("inf") << "COM1" << 4800 << QByteArray();
    QTest::newRow("port &H3") << comPort("&H3") << "COM1" << 4800 << QByteArray();
    QTest::newRow("port 1 MB") << comPort(QByteArray(1 << 20, '7')) << "COM1" << 4800
                               << QByteArray();
    QTest::newRow("port full-width digit")
        << comPort("\xef\xbc\x93") << "COM1" << 4800 << QByteArray();
    QTest::newRow("port control characters")
        << comPort("\x01\x02") << "COM1" << 4800 << QByteArray();
    QTest::newRow("port invalid UTF-8") << comPort("\xff\xfe") << "COM1" << 4800 << QByteArray();
    QTest::newRow("settings empty") << settings("") << "COM1" << 9600 << QByteArray();
    QTest::newRow("settings blanks") << settings("   ") << "COM1" << 9600 << QByteArray();
    QTest::newRow("settings unquoted") << settings("1200,e,7,1") << "COM1" << 1200 << QByteArray();
    QTest::newRow("settings refused")
        << settings("4800,x,8,2") << "COM1" << 9600 << QByteArray("Settings=4800,x,8,2");
    QTest::newRow("settings 1 MB")
        << settings(QByteArray(1 << 20, ',')) << "COM1" << 9600 << QByteArray();
    QTest::newRow("settings non-ASCII")
        << settings("4800,\xc3\xa9,8,2") << "COM1" << 9600 << QByteArray();
    QTest::newRow("settings invalid UTF-8")
        << settings("\xff\xfe\xfd") << "COM1" << 9600 << QByteArray();
    QTest::newRow("settings control characters")
        << settings("4800,n,8,2\x07") << "COM1" << 9600 << QByteArray();
    QTest::newRow("min 2.5") << QByteArray("[Win]\nMin=2.5\nTop=1.0\n") << "COM1" << 4800
                             << QByteArray("Min=2");
    QTest::newRow("min and top junk")
        << QByteArray("[Win]\nMin=yes\nTop=\x01\n") << "COM1" << 4800 << QByteArray("Min=yes");
    QTest::newRow("top 32768") << QByteArray("[Win]\nTop=32768\nMin=-5\n") << "COM1" << 4800
                               << QByteArray("Top=32768");
    QTest::newRow("position at the ends of int")
        << QByteArray("[Win]\nPosition=2147483647,-2147483648\n") << "COM1" << 4800 << QByteArray();
    QTest::newRow("duplicated keys")
        << QByteArray("[Com]\nComPort=1\nComPort=1\n") << "COM1" << 4800 << QByteArray();
    QTest::newRow("garbage lines")
        << QByteArray("[Com\n==\n\x00\xff[[\n[Win]]\nMin\n") << "COM1" << 4800 << QByteArray();
    QTest::newRow("unbalanced quotes")
        << QByteArray("[Com]\nSettings=\"4800,n,8,2\n") << "COM1" << 0 << QByteArray();
}

void TestHostileStore::startUps()
{
    QFETCH(QByteArray, store);
    QFETCH(QString, port);
    QFETCH(int, baud);
    QFETCH(QByteArray, keeps);
    const StartResult result = startWith(m_radio, store);
    QVERIFY2(result.survived, result.errors.constData());
    QVERIFY(!result.errors.contains("/dev/tty"));
    QCOMPARE(result.tried, port);
    // The radio reports settings that change; a client that leaves it at 9600 sends none.
    if (baud)
        QCOMPARE(result.settings.isEmpty() ? 9600 : result.settings.value("baud").toInt(), baud);
    QVERIFY(result.storeAfter.contains("[Ports]"));
    if (!keeps.isEmpty())
        QVERIFY2(result.storeAfter.contains(keeps), result.storeAfter.left(300).constData());
}

void TestHostileStore::startUpOptionSaid_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("store -5") << QByteArray("[Ptt]\nTransmitTimeout=-5\n") << QStringList()
                              << QByteArray("[Ptt] TransmitTimeout \"-5\" is not a whole number");
    QTest::newRow("command line 1.5, store fine")
        << QByteArray("[Ptt]\nTransmitTimeout=30\n") << QStringList{"--tx-timeout", "1.5"}
        << QByteArray("--tx-timeout \"1.5\" is not a whole number");
    QTest::newRow("store 86401") << QByteArray("[Ptt]\nTransmitTimeout=86401\n") << QStringList()
                                 << QByteArray("\"86401\" is not a whole number of seconds");
    // Listening where other computers reach it needs a list of who may connect.
    QTest::newRow("store: open listen, no allow list")
        << QByteArray("[Host]\nListen=0.0.0.0:0\n") << QStringList()
        << QByteArray("no rigctl listener: 0.0.0.0:0 is reachable from other computers");
    QTest::newRow("store: open listen, allow list")
        << QByteArray("[Host]\nListen=0.0.0.0:0\nListenAllow=192.0.2.0/24\n") << QStringList()
        << QByteArray("rigctl listener on 0.0.0.0:");
    QTest::newRow("command line allow list over the store's")
        << QByteArray("[Host]\nListenAllow=192.0.2.0/33\n")
        << QStringList{"--listen", "0.0.0.0:0", "--listen-allow", "192.0.2.7"}
        << QByteArray("rigctl listener on 0.0.0.0:");
}

// A damaged time-out, or a listen address refused, is skipped and said; the utility comes up as
// usual.
void TestHostileStore::startUpOptionSaid()
{
    QFETCH(QByteArray, store);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, said);
    const StartResult result = startWith(m_radio, store, arguments);
    QVERIFY2(result.survived, result.errors.constData());
    QCOMPARE(result.settings.value("baud").toInt(), 4800);
    QVERIFY2(result.errors.contains(said), result.errors.constData());
}

// Stores that cannot be read at all: the window comes up on the defaults. Run in-process with
// a fake port, since without a readable store there is no port map either.
void TestHostileStore::storeThatCannotBeRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a folder where the file should be") << "folder";
    QTest::newRow("a link that leads nowhere") << "loop";
}

void TestHostileStore::storeThatCannotBeRead()
{
    QFETCH(QString, kind);
    QTemporaryDir config;
    QDir().mkpath(config.path() + "/KELD");
    const QString file = config.path() + "/KELD/settings.ini";
    if (kind == "folder")
        QVERIFY(QDir().mkpath(file));
    else
        QVERIFY(QFile::link(file, file));
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    auto log = std::make_shared<FakePortLog>();
    Form1 form(fakePortFactory(log));
    form.Form_Load();
    form.show();
    qputenv("XDG_CONFIG_HOME", testStore().configHome().toLocal8Bit());
    QCOMPARE(Text1(form)->text(), "4800,n,8,2");
    QCOMPARE(Combo1(form)->ListIndex(), 0);
    QCOMPARE(Check1(form)->Value(), 0);
    QVERIFY(comport(form).PortOpen());
    // The fake port only records the name it was given; no device is opened.
    QVERIFY(log->actions.first().startsWith("open /dev/ttyS0 ")); // the fake: never opened
}

void TestHostileStore::storeThatCannotBeWritten_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder cannot be made") << "blocked";
    QTest::newRow("disk full") << "full";
    QTest::newRow("read-only folder") << "readonly";
}

void TestHostileStore::storeThatCannotBeWritten()
{
    QFETCH(QString, kind);
    QTemporaryDir base;
    QString configHome = base.path() + "/config";
    bool mounted = false;
    if (kind == "blocked") {
        QFile blocker(base.path() + "/config");
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
    } else if (kind == "full") {
        if (geteuid() != 0)
            QSKIP("needs root to mount a small tmpfs");
        QDir().mkpath(configHome);
        QVERIFY(::mount("tmpfs", configHome.toLocal8Bit(), "tmpfs", 0, "size=16k") == 0);
        mounted = true;
        QDir().mkpath(configHome + "/KELD");
        QFile store(configHome + "/KELD/settings.ini");
        QVERIFY(store.open(QIODevice::WriteOnly));
        store.write("[Win]\nMin=0\n");
        store.close();
        QFile filler(configHome + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(1024, 'x')) > 0 && filler.flush()) {
        }
    } else {
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders; covered by the other rows");
        QDir().mkpath(configHome + "/KELD");
        QFile::setPermissions(configHome + "/KELD", QFile::ReadOwner | QFile::ExeOwner);
    }
    qputenv("XDG_CONFIG_HOME", configHome.toLocal8Bit());
    auto log = std::make_shared<FakePortLog>();
    {
        Form1 form(fakePortFactory(log));
        form.Form_Load();
        form.show();
        form.Command1_Click();
        // Said at once where the store's folder refuses; a full disk shows only on writing.
        QCOMPARE(saveFailedBox(form) != nullptr, kind != "full");

        Check2(form)->setValue(1); // "Top": the change applies, the store refuses it
        QMessageBox *notice = saveFailedBox(form);
        QVERIFY(notice);
        QVERIFY(notice->isVisible());
        QVERIFY(!notice->isModal());
        QVERIFY(notice->text().contains("cannot be saved"));
        Text1(form)->setText("9600,n,8,1");
        Check1(form)->setValue(1);
        QCOMPARE(form.findChildren<QMessageBox *>().size(), 1); // once per run
        notice->close();
        QTRY_VERIFY(!saveFailedBox(form));
        Text1(form)->setText("1200,n,8,1");
        QVERIFY(!saveFailedBox(form));
        // Still at work: the new settings reached the port.
        QVERIFY(comport(form).PortOpen());
        QCOMPARE(comport(form).Settings(), "1200,n,8,1");
    }
    qputenv("XDG_CONFIG_HOME", testStore().configHome().toLocal8Bit());
    if (mounted)
        QVERIFY(::umount(configHome.toLocal8Bit()) == 0);
}

ZOLVEK_TEST_MAIN(TestHostileStore, true)
#include "test_hostile_store.moc"
