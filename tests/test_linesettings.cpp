#include "serial/linesettings.h"
#include "serial/porterror.h"
#include "tests/testsupport.h"

#include <QTest>

class TestLineSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
};

void TestLineSettings::accepted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical");
    QTest::addColumn<int>("baud");
    QTest::newRow("default") << "4800,n,8,2"
                             << "4800,n,8,2" << 4800;
    QTest::newRow("as created") << "9600,n,8,1"
                                << "9600,n,8,1" << 9600;
    QTest::newRow("upper parity") << "9600,E,7,1"
                                  << "9600,e,7,1" << 9600;
    QTest::newRow("blanks") << " 19200 , o , 8 , 1 "
                            << "19200,o,8,1" << 19200;
    QTest::newRow("mark") << "1200,m,7,2"
                          << "1200,m,7,2" << 1200;
    QTest::newRow("space five bits") << "110,s,5,1.5"
                                     << "110,s,5,1.5" << 110;
    QTest::newRow("fastest") << "256000,n,8,1"
                             << "256000,n,8,1" << 256000;
    QTest::newRow("14400") << "14400,n,8,1"
                           << "14400,n,8,1" << 14400;
    QTest::newRow("115200") << "115200,n,6,1"
                            << "115200,n,6,1" << 115200;
    QTest::newRow("leading zero") << "04800,n,8,2"
                                  << "4800,n,8,2" << 4800;
}

void TestLineSettings::accepted()
{
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    QFETCH(int, baud);
    const LineSettings settings = LineSettings::parse(text);
    QCOMPARE(settings.toText(), canonical);
    QCOMPARE(settings.baud, baud);
    QCOMPARE(LineSettings::parse(settings.toText()), settings);
}

void TestLineSettings::refused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("empty") << ""
                           << "expected baud,parity,data,stop";
    QTest::newRow("three fields") << "4800,n,8"
                                  << "expected baud,parity,data,stop";
    QTest::newRow("five fields") << "4800,n,8,2,1"
                                 << "expected baud,parity,data,stop";
    QTest::newRow("odd rate") << "4801,n,8,2"
                              << "baud rate";
    QTest::newRow("zero rate") << "0,n,8,2"
                               << "baud rate";
    QTest::newRow("negative rate") << "-4800,n,8,2"
                                   << "baud rate";
    QTest::newRow("empty rate") << ",n,8,2"
                                << "baud rate";
    QTest::newRow("rate with letters") << "48OO,n,8,2"
                                       << "baud rate";
    QTest::newRow("huge rate") << "99999999999999,n,8,2"
                               << "baud rate";
    QTest::newRow("rate above list") << "460800,n,8,1"
                                     << "baud rate";
    QTest::newRow("parity word") << "4800,none,8,2"
                                 << "parity";
    QTest::newRow("parity x") << "4800,x,8,2"
                              << "parity";
    QTest::newRow("empty parity") << "4800,,8,2"
                                  << "parity";
    QTest::newRow("four data bits") << "4800,n,4,2"
                                    << "data bits";
    QTest::newRow("nine data bits") << "4800,n,9,2"
                                    << "data bits";
    QTest::newRow("three stop bits") << "4800,n,8,3"
                                     << "stop bits";
    QTest::newRow("stop 2.0") << "4800,n,8,2.0"
                              << "stop bits";
    QTest::newRow("empty stop") << "4800,n,8,"
                                << "stop bits";
    QTest::newRow("semicolons") << "4800;n;8;2"
                                << "expected baud,parity,data,stop";
}

void TestLineSettings::refused()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    try {
        LineSettings::parse(text);
        QFAIL("accepted");
    } catch (const PortError &error) {
        QCOMPARE(error.number(), PortError::InvalidPropertyValue);
        QVERIFY2(error.message().contains(field), qPrintable(error.message()));
    }
}

ZOLVEK_TEST_MAIN(TestLineSettings, false)
#include "test_linesettings.moc"
