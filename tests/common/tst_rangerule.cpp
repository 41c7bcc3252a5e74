#include "novalue.h"
#include "rangerule.h"

#include <QtTest>

#include <limits>

// The one out-of-range rule that the node's flag, the alarms, the viewer and the reports share.
class TestRangeRule : public QObject
{
    Q_OBJECT

private slots:
    void states_data();
    void states();
    void excursionEnds_data();
    void excursionEnds();
};

namespace {

const double Infinity = std::numeric_limits<double>::infinity();

QString stateText(RangeRule::State state)
{
    switch (state) {
    case RangeRule::State::High:
        return QStringLiteral("high");
    case RangeRule::State::Low:
        return QStringLiteral("low");
    case RangeRule::State::Inside:
        break;
    }
    return QStringLiteral("inside");
}

} // namespace

void TestRangeRule::states_data()
{
    // Limits as the project keeps them: single precision.
    QTest::addColumn<float>("min");
    QTest::addColumn<float>("max");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("state");
    QTest::newRow("maximum -18.10 itself") << -30.0f << -18.1f << -18.10 << "inside";
    QTest::newRow("just above -18.10") << -30.0f << -18.1f << -18.09 << "high";
    QTest::newRow("maximum 2.10 itself") << 0.0f << 2.1f << 2.10 << "inside";
    QTest::newRow("just above 2.10") << 0.0f << 2.1f << 2.11 << "high";
    QTest::newRow("minimum -2.10 itself") << -2.1f << 30.0f << -2.10 << "inside";
    QTest::newRow("just below -2.10") << -2.1f << 30.0f << -2.11 << "low";
    QTest::newRow("minimum 2.20 itself") << 2.2f << 30.0f << 2.20 << "inside";
    QTest::newRow("just below 2.20") << 2.2f << 30.0f << 2.19 << "low";
    QTest::newRow("a third decimal as shown: 2.104 is 2.10") << 0.0f << 2.1f << 2.104 << "inside";
    QTest::newRow("a third decimal as shown: 2.106 is 2.11") << 0.0f << 2.1f << 2.106 << "high";
    QTest::newRow("inside") << 10.0f << 30.0f << 21.5 << "inside";
    QTest::newRow("equal limits switch it off") << 5.0f << 5.0f << 7.0 << "inside";
    QTest::newRow("equal limits at zero") << 0.0f << 0.0f << -100.0 << "inside";
    QTest::newRow("inverted: above the maximum is high") << 30.0f << 10.0f << 20.0 << "high";
    QTest::newRow("inverted: below the maximum is low") << 30.0f << 10.0f << 5.0 << "low";
    QTest::newRow("no value") << 10.0f << 30.0f << NoValue << "inside";
    QTest::newRow("not a number") << 10.0f << 30.0f << std::numeric_limits<double>::quiet_NaN()
                                  << "inside";
    QTest::newRow("infinite is high") << 10.0f << 30.0f << Infinity << "high";
    QTest::newRow("corrupted row beyond the largest float limit")
        << -3.4e38f << 3.4e38f << 1e308 << "high";
    QTest::newRow("corrupted row below the smallest float limit")
        << -3.4e38f << 3.4e38f << -1e308 << "low";
}

// Catches: a value equal to a limit as shown ("-18.10", "2.10") taken for high or low because
// the limit was widened from single precision, bounds off by a hundredth, switched-off or
// inverted ranges judged otherwise than the recorder always did, no value out of range, and
// huge values that overflow the comparison.
void TestRangeRule::states()
{
    QFETCH(float, min);
    QFETCH(float, max);
    QFETCH(double, value);
    QFETCH(QString, state);
    const RangeRule rule(min, max);
    QCOMPARE(stateText(rule.stateOf(value)), state);
    QCOMPARE(rule.isOutside(value), state != QLatin1String("inside"));
    // The limits stay as given: an alarm event records them so.
    QCOMPARE(rule.min(), double(min));
    QCOMPARE(rule.max(), double(max));
}

void TestRangeRule::excursionEnds_data()
{
    QTest::addColumn<float>("min");
    QTest::addColumn<float>("max");
    QTest::addColumn<double>("deadband");
    QTest::addColumn<bool>("high"); // the excursion's side
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("ends");
    QTest::newRow("high: at the limit, no deadband")
        << 10.0f << 30.0f << 0.0 << true << 30.0 << true;
    QTest::newRow("high: back by less than the deadband")
        << 10.0f << 30.0f << 1.5 << true << 29.0 << false;
    QTest::newRow("high: back by the deadband") << 10.0f << 30.0f << 1.5 << true << 28.5 << true;
    QTest::newRow("high: back by the deadband from -18.10")
        << -30.0f << -18.1f << 0.5 << true << -18.60 << true;
    QTest::newRow("high: a hundredth short of the deadband from -18.10")
        << -30.0f << -18.1f << 0.5 << true << -18.59 << false;
    QTest::newRow("low: back by less than the deadband")
        << 10.0f << 30.0f << 2.0 << false << 11.0 << false;
    QTest::newRow("low: back by the deadband from 2.20")
        << 2.2f << 30.0f << 0.3 << false << 2.50 << true;
    QTest::newRow("still beyond") << 10.0f << 30.0f << 0.0 << true << 31.0 << false;
    QTest::newRow("beyond the other limit") << 10.0f << 30.0f << 0.0 << true << 5.0 << false;
    QTest::newRow("no value") << 10.0f << 30.0f << 0.0 << false << NoValue << false;
}

// Catches: an alarm that ends before the value is back by its deadband, or never ends when it
// is back by exactly the deadband as shown, and an excursion ended by a jump to the other side
// (which is a new excursion) or by a missing value.
void TestRangeRule::excursionEnds()
{
    QFETCH(float, min);
    QFETCH(float, max);
    QFETCH(double, deadband);
    QFETCH(bool, high);
    QFETCH(double, value);
    QFETCH(bool, ends);
    const RangeRule rule(min, max, deadband);
    QCOMPARE(rule.ends(high ? RangeRule::State::High : RangeRule::State::Low, value), ends);
}

QTEST_GUILESS_MAIN(TestRangeRule)
#include "tst_rangerule.moc"
