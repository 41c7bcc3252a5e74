// Mean kinetic temperature against figures computed apart (the formula evaluated in Python), to
// 0.005 of a degree: a wrong constant, kelvin offset, weighting or scale shows as a wrong figure.
#include "meankinetictemperature.h"

#include <QtTest>

#include <cmath>

using Scale = MeanKineticTemperature::Scale;

class TestMeanKineticTemperature : public QObject
{
    Q_OBJECT

private slots:
    void vectors_data();
    void vectors();
    void scales_data();
    void scales();
    void mergeEqualsOneSeries();
};

void TestMeanKineticTemperature::vectors_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<double>("energy");
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<QVector<double>>("seconds");
    QTest::addColumn<double>("expected"); // NaN: none

    const int c = int(Scale::Celsius);
    const int f = int(Scale::Fahrenheit);
    const double d = MeanKineticTemperature::DefaultActivationEnergy;
    const double none = std::nan("");
    QTest::newRow("2, 8, 2, 8 degC equally spaced")
        << c << d << QVector<double>{2, 8, 2, 8} << QVector<double>{600, 600, 600, 600} << 5.536;
    QTest::newRow("23 h at 5 degC then 1 h at 15 degC")
        << c << d << QVector<double>{5, 15} << QVector<double>{23 * 3600, 3600} << 5.764;
    QTest::newRow("2 h at 20, 4 h at 2, 1 h at 25 degC")
        << c << d << QVector<double>{20, 2, 25} << QVector<double>{7200, 14400, 3600} << 15.678;
    QTest::newRow("the same in degF") << f << d << QVector<double>{35.6, 46.4, 35.6, 46.4}
                                      << QVector<double>{1, 1, 1, 1} << 41.966;
    QTest::newRow("own activation energy 60 kJ/mol")
        << c << 60.0 << QVector<double>{20, 2, 25} << QVector<double>{2, 4, 1} << 14.337;
    QTest::newRow("own activation energy 120 kJ/mol")
        << c << 120.0 << QVector<double>{20, 2, 25} << QVector<double>{2, 4, 1} << 17.318;
    QTest::newRow("a freezer below zero")
        << c << d << QVector<double>{-20, -30} << QVector<double>{1, 3} << -25.774;
    QTest::newRow("one constant value is itself")
        << c << d << QVector<double>{4.25} << QVector<double>{86400} << 4.25;
    // What must not count: no time, a value that is no temperature, an energy out of bounds
    // (the default holds).
    QTest::newRow("a value without time counts nothing")
        << c << d << QVector<double>{5, 40} << QVector<double>{23 * 3600, 0} << 5.0;
    QTest::newRow("not a number and below absolute zero count nothing")
        << c << d << QVector<double>{5, none, -300, std::numeric_limits<double>::infinity()}
        << QVector<double>{10, 10, 10, 10} << 5.0;
    QTest::newRow("negative time counts nothing")
        << c << d << QVector<double>{5, 30} << QVector<double>{10, -10} << 5.0;
    QTest::newRow("an energy of 0 keeps the default")
        << c << 0.0 << QVector<double>{2, 8, 2, 8} << QVector<double>{1, 1, 1, 1} << 5.536;
    QTest::newRow("an energy of NaN keeps the default")
        << c << none << QVector<double>{5, 15} << QVector<double>{23, 1} << 5.764;
    QTest::newRow("nothing: no figure") << c << d << QVector<double>{} << QVector<double>{} << none;
    QTest::newRow("only values without time: no figure")
        << c << d << QVector<double>{5, 6} << QVector<double>{0, 0} << none;
}

void TestMeanKineticTemperature::vectors()
{
    QFETCH(int, scale);
    QFETCH(double, energy);
    QFETCH(QVector<double>, values);
    QFETCH(QVector<double>, seconds);
    QFETCH(double, expected);

    MeanKineticTemperature mkt(Scale(scale), energy);
    for (int i = 0; i < values.size(); ++i)
        mkt.add(values.at(i), seconds.at(i));
    if (std::isnan(expected)) {
        QVERIFY(mkt.isEmpty());
        QVERIFY(std::isnan(mkt.value()));
        return;
    }
    QVERIFY2(std::abs(mkt.value() - expected) < 0.005, qPrintable(QString::number(mkt.value())));
}

void TestMeanKineticTemperature::scales_data()
{
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("scale"); // -1: none

    QTest::newRow("degC") << int(TemperatureC) << int(Scale::Celsius);
    QTest::newRow("degF") << int(TemperatureF) << int(Scale::Fahrenheit);
    QTest::newRow("humidity is no temperature") << int(Humidity) << -1;
    QTest::newRow("a custom unit is never one") << int(Custom) << -1;
    QTest::newRow("undefined") << int(Undefined) << -1;
}

void TestMeanKineticTemperature::scales()
{
    QFETCH(int, unit);
    QFETCH(int, scale);
    const auto found = MeanKineticTemperature::scaleOf(ChannelUnit(unit));
    QCOMPARE(found ? int(*found) : -1, scale);
}

void TestMeanKineticTemperature::mergeEqualsOneSeries()
{
    // Pieces read apart (days in parallel, summary buckets) join to the figure of one series.
    MeanKineticTemperature whole(Scale::Celsius);
    MeanKineticTemperature first(Scale::Celsius);
    MeanKineticTemperature second(Scale::Celsius);
    for (int i = 0; i < 100; ++i) {
        const double value = 2 + (i % 7);
        whole.add(value, 10);
        (i < 40 ? first : second).add(value, 10);
    }
    MeanKineticTemperature joined(Scale::Celsius);
    joined.merge(first);
    joined.addSums(second.weightedTerms(), second.seconds());
    QVERIFY(std::abs(joined.value() - whole.value()) < 1e-9);
}

QTEST_APPLESS_MAIN(TestMeanKineticTemperature)
#include "tst_meankinetictemperature.moc"
