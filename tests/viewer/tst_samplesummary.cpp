#include "samplesummary.h"

#include <QtTest>

// The viewer's summary counts the values outside each channel's alarm range as it takes rows in;
// the views that read rows instead count with SampleSummary::isOutside.
class TestSampleSummary : public QObject
{
    Q_OBJECT

private slots:
    void outsideCount_data();
    void outsideCount();
};

void TestSampleSummary::outsideCount_data()
{
    // Limits as the project keeps them: single precision.
    QTest::addColumn<float>("min");
    QTest::addColumn<float>("max");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("outside");
    QTest::newRow("inside") << 15.0f << 30.0f << 21.5 << false;
    QTest::newRow("above") << 15.0f << 30.0f << 30.01 << true;
    QTest::newRow("below") << 15.0f << 30.0f << 14.99 << true;
    QTest::newRow("equal limits: no range") << 0.0f << 0.0f << -100.0 << false;
    QTest::newRow("inverted: every value") << 30.0f << 15.0f << 20.0 << true;
    QTest::newRow("maximum -18.10 itself") << -30.0f << -18.1f << -18.10 << false;
    QTest::newRow("maximum 2.10 itself") << 0.0f << 2.1f << 2.10 << false;
    QTest::newRow("minimum -2.10 itself") << -2.1f << 30.0f << -2.10 << false;
    QTest::newRow("a hundredth above 2.10") << 0.0f << 2.1f << 2.11 << true;
}

// Catches: a view's time or count out of range that takes a value equal to a limit as shown
// (-18.10 against -18.10, 2.10 against 2.10) for outside because the limit is single precision,
// and a summary that counts otherwise than the rows read for a narrow view.
void TestSampleSummary::outsideCount()
{
    QFETCH(float, min);
    QFETCH(float, max);
    QFETCH(double, value);
    QFETCH(bool, outside);
    const QByteArray serial("N1");
    SampleSummary summary(1);
    summary.setAlarmRange(serial, 1, min, max);
    StoredRow row;
    row.id = 1;
    row.serial = serial.constData();
    row.serialLength = serial.size();
    row.time = 1780000000;
    row.value[0] = value;
    row.present[0] = true;
    summary.add(row);
    const qint64 key = row.time / summary.bucketSeconds();
    const ChannelStats stats = summary.bucketStats(summary.findSerial(serial), 1, key, key);
    QCOMPARE(stats.count, quint64(1));
    QCOMPARE(stats.outside, quint64(outside ? 1 : 0));
    QCOMPARE(SampleSummary::isOutside(min, max, value), outside);
}

QTEST_GUILESS_MAIN(TestSampleSummary)
#include "tst_samplesummary.moc"
