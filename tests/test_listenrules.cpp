// Where a network door listens and whom it lets in: an allow list means what it says, and a
// mistake in it is refused rather than read as something else.
#include "net/listenrules.h"
#include "tests/testsupport.h"

#include <QTest>

class TestListenRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void allowList_data();
    void allowList();
    void everyAddressIsBothFamilies();
};

void TestListenRules::allowList_data()
{
    QTest::addColumn<QString>("allow");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QString>("outcome"); // "in", "out", or part of the refusal
    QTest::newRow("a computer") << "10.9.9.2" << "10.9.9.2" << "in";
    QTest::newRow("its network") << "10.9.9.0/24" << "10.9.9.77" << "in";
    QTest::newRow("another network") << "10.9.9.0/24" << "10.9.8.1" << "out";
    QTest::newRow("IPv4 client of a dual-stack door") << "10.9.9.2" << "::ffff:10.9.9.2" << "in";
    QTest::newRow("IPv4 written as IPv6") << "::ffff:10.9.9.0/120" << "10.9.9.5" << "in";
    QTest::newRow("IPv6 network") << "2001:db8::/32" << "2001:db8::5" << "in";
    QTest::newRow("short IPv4 form") << "10.9.9" << "10.9.0.9" << "not an address";
    QTest::newRow("prefix letting everyone in") << "10.9.9.2/0" << "" << "lets every computer in";
    QTest::newRow("prefix out of range") << "10.9.9.0/33" << "" << "number of bits";
    QTest::newRow("a name") << "radio.example.com" << "" << "not an address";
}

void TestListenRules::allowList()
{
    QFETCH(QString, allow);
    QFETCH(QString, peer);
    QFETCH(QString, outcome);
    ListenRules rules;
    QString why;
    const bool set = rules.set(QStringLiteral("0.0.0.0:4532"), allow, &why);
    if (outcome != "in" && outcome != "out") {
        QVERIFY(!set);
        QVERIFY2(why.contains(outcome), qPrintable(why));
        return;
    }
    QVERIFY2(set, qPrintable(why));
    QCOMPARE(rules.allows(QHostAddress(peer)), outcome == "in");
}

// [::] is every address of both families, so IPv4 clients arrive as well; still only with an
// allow list.
void TestListenRules::everyAddressIsBothFamilies()
{
    ListenRules rules;
    QString why;
    QVERIFY(!rules.set(QStringLiteral("[::]:4532"), QString(), &why));
    QVERIFY(rules.set(QStringLiteral("[::]:4532"), QStringLiteral("192.0.2.0/24"), &why));
    QCOMPARE(rules.host(), QHostAddress(QHostAddress::Any));
}

ZOLVEK_TEST_MAIN(TestListenRules, false)

#include "test_listenrules.moc"
