#include "settings/textconv.h"
#include "tests/testsupport.h"

#include <QTest>

class TestTextConv : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void toInt16_data();
    void toInt16();
    void refused_data();
    void refused();
    void toDouble_data();
    void toDouble();
    void wholeSeconds_data();
    void wholeSeconds();
};

void TestTextConv::toInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << "3" << 3;
    QTest::newRow("blanks around") << " 3 " << 3;
    QTest::newRow("tab") << "\t4" << 4;
    QTest::newRow("one point zero") << "1.0" << 1;
    QTest::newRow("half to even down") << "2.5" << 2;
    QTest::newRow("half to even up") << "3.5" << 4;
    QTest::newRow("negative half") << "-0.5" << 0;
    QTest::newRow("negative") << "-1" << -1;
    QTest::newRow("plus sign") << "+2" << 2;
    QTest::newRow("exponent") << "1e2" << 100;
    QTest::newRow("leading point") << ".6" << 1;
    QTest::newRow("upper limit") << "32767" << 32767;
    QTest::newRow("lower limit") << "-32768" << -32768;
    QTest::newRow("rounds into range") << "32767.4" << 32767;
    QTest::newRow("leading zeros") << "007" << 7;
}

void TestTextConv::toInt16()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(int(textToInt16(text)), expected);
}

void TestTextConv::refused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");
    const int mismatch = ConversionError::TypeMismatch;
    const int overflow = ConversionError::Overflow;
    QTest::newRow("empty") << "" << mismatch;
    QTest::newRow("blank") << "   " << mismatch;
    QTest::newRow("word") << "abc" << mismatch;
    QTest::newRow("trailing junk") << "3x" << mismatch;
    QTest::newRow("two numbers") << "1 2" << mismatch;
    QTest::newRow("nan") << "nan" << mismatch;
    QTest::newRow("inf") << "inf" << mismatch;
    QTest::newRow("hex") << "&H3" << mismatch;
    QTest::newRow("comma decimal") << "1,5" << mismatch;
    QTest::newRow("lone sign") << "-" << mismatch;
    QTest::newRow("lone point") << "." << mismatch;
    QTest::newRow("too large") << "32768" << overflow;
    QTest::newRow("too small") << "-32769" << overflow;
    QTest::newRow("rounds out of range") << "32767.5" << overflow;
    QTest::newRow("huge exponent") << "1e999" << overflow;
    QTest::newRow("many digits") << QString(400, QLatin1Char('9')) << overflow;
}

void TestTextConv::refused()
{
    QFETCH(QString, text);
    QFETCH(int, number);
    try {
        textToInt16(text);
        QFAIL("no error raised");
    } catch (const ConversionError &error) {
        QCOMPARE(error.number(), number);
    }
}

void TestTextConv::toDouble_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("integer") << "3" << 3.0;
    QTest::newRow("fraction") << "2.5" << 2.5;
    QTest::newRow("blanks") << "  -1.25 " << -1.25;
    QTest::newRow("tiny underflows to zero") << "1e-400" << 0.0;
}

void TestTextConv::toDouble()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(textToDouble(text), expected);
}

// A transmit time-out in seconds: digits alone, up to a day; -1 stands for refused.
void TestTextConv::wholeSeconds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("off") << "0" << 0;
    QTest::newRow("blanks") << " 90 " << 90;
    QTest::newRow("a day") << "86400" << 86400;
    QTest::newRow("over a day") << "86401" << -1;
    QTest::newRow("negative") << "-1" << -1;
    QTest::newRow("plus") << "+5" << -1;
    QTest::newRow("fraction") << "1.5" << -1;
    QTest::newRow("exponent") << "1e3" << -1;
    QTest::newRow("words") << "ten" << -1;
    QTest::newRow("full-width digit") << QString::fromUtf8("\xef\xbc\x95") << -1;
    QTest::newRow("huge") << "99999999999999999999" << -1;
}

void TestTextConv::wholeSeconds()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(textToWholeNumber(text, 86400).value_or(-1), expected);
}

ZOLVEK_TEST_MAIN(TestTextConv, false)
#include "test_textconv.moc"
