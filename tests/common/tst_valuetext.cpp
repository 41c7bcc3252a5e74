#include "valuetext.h"

#include <QtTest>

#include <limits>

class TestValueText : public QObject
{
    Q_OBJECT

private slots:
    void texts_data();
    void texts();
};

void TestValueText::texts_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("measured") << 21.5 << "21.50";
    QTest::newRow("negative") << -18.254 << "-18.25";
    QTest::newRow("zero") << 0.0 << "0.00";
    QTest::newRow("large, still fixed") << 123456789.126 << "123456789.13";
    QTest::newRow("just below the bound") << 999999999.99 << "999999999.99";
    QTest::newRow("the bound") << 1e9 << "1.00e+09";
    QTest::newRow("negative bound") << -1e9 << "-1.00e+09";
    QTest::newRow("corrupted row") << 1e308 << "1.00e+308";
    QTest::newRow("largest double") << std::numeric_limits<double>::max() << "1.80e+308";
    QTest::newRow("near the largest float") << -3.4e38 << "-3.40e+38";
    QTest::newRow("no-value marker as a number") << 1.7e308 << "1.70e+308";
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "inf";
    QTest::newRow("negative infinite") << -std::numeric_limits<double>::infinity() << "-inf";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "nan";
}

// Catches a value printed with all its digits (a 309-character cell), a bound that moves, or
// small values that lose their two decimals.
void TestValueText::texts()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(valueText(value), text);
}

QTEST_GUILESS_MAIN(TestValueText)
#include "tst_valuetext.moc"
