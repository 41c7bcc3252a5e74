#include "floordiv.h"
#include "samplesummary.h"
#include "viewerfixture.h"

#include <QBuffer>
#include <QtTest>

#include <cmath>

using ViewerFixture::Row;

namespace {

// One node's rows: runs of `count` samples `step` seconds apart (a step of 0: a gap of `count`
// seconds); every `nullEvery`-th row has no value.
QVector<Row> rowsOf(qint64 time, const QVector<QPair<int, int>>& runs, double base,
                    int nullEvery = 0)
{
    QVector<Row> rows;
    for (const auto& [count, step] : runs) {
        for (int i = 0; step > 0 && i < count; ++i, time += step) {
            Row r;
            r.id = rows.size() + 1;
            r.time = time;
            r.value[0] = std::round((base + 6 * std::sin(r.id / 9.0)) * 100) / 100;
            r.present[0] = nullEvery == 0 || r.id % nullEvery != 0;
            rows << r;
        }
        time += step > 0 ? 0 : count;
    }
    return rows;
}

void addRows(SampleSummary* summary, const QVector<Row>& rows, int from, int to)
{
    for (int i = from; i < to; ++i)
        summary->add(StoredRow{
            rows[i].id, "N1", 2, rows[i].time, {rows[i].value[0], 0}, {rows[i].present[0], false}});
    summary->markIds(rows[from].id, rows[to - 1].id);
}

} // namespace

Q_DECLARE_METATYPE(QVector<ViewerFixture::Row>)

// The viewer's summary counts the values outside each channel's alarm range as it takes rows in;
// the views that read rows instead count with SampleSummary::isOutside.
class TestSampleSummary : public QObject
{
    Q_OBJECT

private slots:
    void outsideCount_data();
    void outsideCount();
    void meanKinetic_data();
    void meanKinetic();
    void otherVersionsRebuilt_data();
    void otherVersionsRebuilt();
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

void TestSampleSummary::meanKinetic_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("scale"); // 0 degC, 1 degF, -1 a humidity channel
    QTest::addColumn<double>("energy");
    QTest::addColumn<QVector<Row>>("rows");
    const qint64 t0 = 1780000000;
    using Runs = QVector<QPair<int, int>>;
    QTest::newRow("regular, 1 s") << 1 << 0 << 0.0 << rowsOf(t0, Runs{{900, 1}}, 22);
    QTest::newRow("a gap of 17 min")
        << 1 << 0 << 0.0 << rowsOf(t0, Runs{{300, 1}, {1020, 0}, {400, 1}}, 22);
    QTest::newRow("missing values") << 1 << 0 << 0.0 << rowsOf(t0, Runs{{700, 1}}, 22, 7);
    QTest::newRow("interval changed 10 s, 1 s, 30 s, at 10 s")
        << 10 << 0 << 0.0 << rowsOf(t0 + 5, Runs{{70, 10}, {200, 1}, {50, 30}}, 22);
    QTest::newRow("10 s off the bucket edges")
        << 10 << 0 << 0.0 << rowsOf(t0 + 7, Runs{{300, 10}, {3, 0}, {90, 10}}, 5);
    QTest::newRow("degF") << 1 << 1 << 0.0 << rowsOf(t0, Runs{{800, 1}}, 75);
    QTest::newRow("own energy 120 kJ/mol") << 1 << 0 << 120.0 << rowsOf(t0, Runs{{800, 1}}, 30);
    QTest::newRow("humidity: no figure") << 1 << -1 << 0.0 << rowsOf(t0, Runs{{300, 1}}, 55);
}

// Catches kinetic sums that weigh a sample otherwise than up to the next one (at most an
// interval) at bucket edges, batch borders, gaps or changed intervals, that use another scale
// or energy, that give a humidity channel a figure, or that the summary's file loses.
void TestSampleSummary::meanKinetic()
{
    QFETCH(int, interval);
    QFETCH(int, scale);
    QFETCH(double, energy);
    QFETCH(QVector<Row>, rows);
    const MeanKineticTemperature mkt(MeanKineticTemperature::Scale(qMax(0, scale)), energy);
    SampleSummary summary(interval);
    summary.setAlarmRange("N1", 1, 0, 0);
    if (scale >= 0)
        summary.setTemperature("N1", 1, mkt.scale(), energy);
    // Two batches, the newer first, split inside a bucket, as the summary is built.
    SampleSummary batch[2] = {summary.emptyCopy(), summary.emptyCopy()};
    const int split = rows.size() / 2 + 7;
    addRows(&batch[0], rows, split, rows.size());
    addRows(&batch[1], rows, 0, split);
    summary.merge(batch[0]);
    summary.merge(batch[1]);
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::ReadWrite) && summary.save(&buffer) && buffer.seek(0));
    SampleSummary loaded;
    QVERIFY(loaded.load(&buffer) && loaded.sameSettings(summary));
    // The rows' own way, as a view reads them: three stretches joined out of order.
    ChannelStats part[3];
    for (int i = 0; i < rows.size() && scale >= 0; ++i)
        if (rows[i].present[0])
            part[i * 3 / rows.size()].addTerm(mkt.term(rows[i].value[0]), rows[i].time, interval);
    part[1].merge(part[2]);
    part[1].merge(part[0]);
    const qint64 fromKey = floorDiv(rows.first().time, summary.bucketSeconds());
    const qint64 toKey = floorDiv(rows.last().time, summary.bucketSeconds());
    const qint64 end = (toKey + 1) * summary.bucketSeconds();
    const double expected = ViewerFixture::kineticBrute(rows, 1, rows.first().time, end, interval,
                                                        scale == 1, energy == 0 ? 83.144 : energy);
    const double figures[] = {summary.bucketStats(0, 1, fromKey, toKey).meanKinetic(mkt, end),
                              loaded.bucketStats(0, 1, fromKey, toKey).meanKinetic(mkt, end),
                              part[1].meanKinetic(mkt, end)};
    for (double figure : figures)
        QVERIFY2(scale < 0 ? std::isnan(figure) : std::fabs(figure - expected) < 1e-6,
                 qPrintable(QStringLiteral("%1, rows %2").arg(figure, 0, 'f', 9).arg(expected)));
}

void TestSampleSummary::otherVersionsRebuilt_data()
{
    QTest::addColumn<quint32>("version");
    QTest::newRow("3: buckets without kinetic sums") << quint32(3);
    QTest::newRow("a newer one") << quint32(5);
}

// Catches a summary file of another version read as this one (its buckets misread): it is
// refused, so that the summary is built again from the rows.
void TestSampleSummary::otherVersionsRebuilt()
{
    QFETCH(quint32, version);
    SampleSummary summary(1);
    summary.setTemperature("N1", 1, MeanKineticTemperature::Scale::Celsius, 0);
    addRows(&summary, rowsOf(1780000000, {{300, 1}}, 20), 0, 300);
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::ReadWrite) && summary.save(&buffer) && buffer.seek(4));
    QDataStream(&buffer) << version; // after the file's mark
    SampleSummary loaded;
    QVERIFY(buffer.seek(0) && !loaded.load(&buffer) && loaded.isEmpty());
}

QTEST_GUILESS_MAIN(TestSampleSummary)
#include "tst_samplesummary.moc"
