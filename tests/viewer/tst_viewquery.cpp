#include "sampledatabasegenerator.h"
#include "summarycache.h"
#include "viewerfixture.h"
#include "viewersamplereader.h"
#include "viewquery.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace ViewerFixture;

// A month of two nodes at a 10 s interval with every fault the generator knows, read with and
// without the range index; views from the whole month down to minutes are compared with the
// rows themselves (run under a zone with summer time).
class TestViewQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void envelope_data();
    void envelope();
    void spikesSurviveTheWholeMonth_data();
    void spikesSurviveTheWholeMonth();
    void pointsBreakAtGaps();

private:
    QTemporaryDir m_dir;
    SampleDatabaseGenerator::Result m_generated;
    QString m_project[2]; // without and with the index
    std::shared_ptr<SummaryCache> m_cache[2];
    QVector<Row> m_rows[2]; // per node, read the plain way
};

void TestViewQuery::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
    SampleDatabaseGenerator::Options options;
    options.projectPath = m_dir.filePath(QStringLiteral("plain/Month.tpc"));
    options.seconds = 30 * 86400;
    options.end = 1780000000;
    options.nodes = 2;
    options.interval = 10;
    options.seed = 7;
    options.gaps = 3;
    options.nullRows = 6;
    options.spikes = 6;
    options.excursions = 3;
    m_generated = SampleDatabaseGenerator::generate(options);
    QVERIFY2(m_generated.ok, qPrintable(m_generated.error));
    options.projectPath = m_dir.filePath(QStringLiteral("indexed/Month.tpc"));
    options.index = true;
    QVERIFY(SampleDatabaseGenerator::generate(options).ok);
    m_project[0] = m_dir.filePath(QStringLiteral("plain/Month.tpc"));
    m_project[1] = options.projectPath;
    for (int i = 0; i < 2; ++i) {
        m_cache[i] = buildSummary(m_project[i]);
        QVERIFY(m_cache[i]);
    }
    for (int n = 0; n < 2; ++n)
        m_rows[n] =
            nodeRows(m_generated.databasePath, SampleDatabaseGenerator::serialOf(n).toUtf8());
    QCOMPARE(m_rows[0].size() + m_rows[1].size(), int(m_generated.rows));
}

void TestViewQuery::envelope_data()
{
    QTest::addColumn<bool>("indexed");
    QTest::addColumn<double>("span");
    QTest::addColumn<double>("endBefore"); // seconds before the last sample
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("kind");

    const struct
    {
        const char* name;
        double span;
        double endBefore;
        int columns;
        int kind;
    } views[] = {
        {"whole month, coarse buckets", 30 * 86400.0 + 3000, -1000.5, 997,
         ViewQuery::Series::Columns},
        {"four days, fine buckets", 4 * 86400.0, 3 * 86400.0 + 17.25, 1200,
         ViewQuery::Series::Columns},
        {"six hours, rows per pixel", 6 * 3600.0, 12 * 86400.0 + 3.5, 700,
         ViewQuery::Series::Columns},
        {"half an hour, the samples", 1800.0, 5 * 86400.0, 1000, ViewQuery::Series::Points},
        {"one minute", 60.0, 20 * 86400.0 + 0.5, 1000, ViewQuery::Series::Points},
    };
    for (bool indexed : {false, true})
        for (const auto& v : views)
            QTest::newRow(qPrintable(QString::fromLatin1(v.name) +
                                     (indexed ? QStringLiteral(", index") : QString())))
                << indexed << v.span << v.endBefore << v.columns << v.kind;
}

// Catches a chart that loses or misplaces the extremes of the samples under a pixel column, or
// statistics (the mean kinetic temperature too) that differ from the rows, at any zoom level,
// with or without the index.
void TestViewQuery::envelope()
{
    QFETCH(bool, indexed);
    QFETCH(double, span);
    QFETCH(double, endBefore);
    QFETCH(int, columns);
    QFETCH(int, kind);

    QString path = m_generated.databasePath;
    if (indexed)
        path.replace(QStringLiteral("/plain/"), QStringLiteral("/indexed/"));
    // Two connections: the four channels are read two at a time, as the viewer reads them.
    ViewerSampleReader store;
    ViewerSampleReader second;
    QVERIFY(store.open(path) && second.open(path));
    QCOMPARE(store.hasIndex(), indexed);
    ViewQuery query({&store, &second}, m_cache[indexed ? 1 : 0].get());
    ViewQuery::Request request;
    request.to = double(m_generated.last) - endBefore;
    request.from = request.to - span;
    request.columns = columns;
    request.intervalSeconds = 10;
    for (int n = 0; n < 2; ++n)
        for (int c = 1; c <= 2; ++c)
            request.channels << ViewQuery::Channel{
                SampleDatabaseGenerator::serialOf(n).toUtf8(),
                c,
                c == 1 ? 15.0f : 30.0f,
                c == 1 ? 30.0f : 70.0f,
                c == 1 ? MeanKineticTemperature::scaleOf(TemperatureC) : std::nullopt,
                0};
    const ViewQuery::Result result = query.run(request);
    QCOMPARE(result.series.size(), 4);
    const double width = span / columns;
    for (int s = 0; s < 4; ++s) {
        const ViewQuery::Series& series = result.series[s];
        const QVector<Row>& rows = m_rows[s / 2];
        const int channel = s % 2 + 1;
        QVERIFY(series.complete);
        QCOMPARE(int(series.kind), kind);
        if (kind == ViewQuery::Series::Columns) {
            QCOMPARE(series.columns.size(), columns);
            for (int i = 0; i < columns; ++i) {
                const SampleSummary::Column& col = series.columns[i];
                // Each column's samples lie under its own pixel: its span starts inside the
                // pixel and the spans follow each other without a hole.
                const double left = request.from + i * width;
                QVERIFY(col.from >= left - 1e-6 && col.from < left + width);
                if (i + 1 < columns)
                    QCOMPARE(col.to, series.columns[i + 1].from);
                const Brute b = brute(rows, channel, col.from, col.to);
                QCOMPARE(col.count == 0, b.count == 0);
                if (b.count == 0)
                    continue;
                if (col.min != b.min || col.max != b.max)
                    QFAIL(qPrintable(QStringLiteral("column %1 [%2, %3): %4..%5, rows %6..%7")
                                         .arg(i)
                                         .arg(col.from)
                                         .arg(col.to)
                                         .arg(col.min)
                                         .arg(col.max)
                                         .arg(b.min)
                                         .arg(b.max)));
            }
        } else {
            // Every sample in the range is there, in order.
            const Brute b = brute(rows, channel, qint64(std::ceil(request.from)),
                                  qint64(std::floor(request.to)) + 1);
            int inRange = 0;
            for (int i = 0; i < series.times.size(); ++i)
                if (series.times[i] >= request.from && series.times[i] <= request.to &&
                    !std::isnan(series.values[i]))
                    ++inRange;
            QCOMPARE(quint64(inRange), b.count);
        }
        const Brute b = brute(rows, channel, qint64(std::ceil(request.from)),
                              qint64(std::floor(request.to)) + 1, channel == 1 ? 15.0f : 30.0f,
                              channel == 1 ? 30.0f : 70.0f);
        QCOMPARE(series.stats.count, b.count);
        QCOMPARE(series.stats.min, b.min);
        QCOMPARE(series.stats.minTime, b.minTime);
        QCOMPARE(series.stats.max, b.max);
        QCOMPARE(series.stats.maxTime, b.maxTime);
        QCOMPARE(series.stats.outside, b.outside);
        QVERIFY(std::fabs(series.stats.average() - b.sum / double(b.count)) < 1e-9);
        // The temperature's mean kinetic temperature, from the summary or the rows alike.
        const double mkt = kineticBrute(rows, channel, qint64(std::ceil(request.from)),
                                        qint64(std::floor(request.to)) + 1, 10);
        QVERIFY2(channel == 2 ? std::isnan(series.meanKinetic)
                              : std::fabs(series.meanKinetic - mkt) < 1e-6,
                 qPrintable(QStringLiteral("%1, rows %2").arg(series.meanKinetic).arg(mkt)));
    }
}

void TestViewQuery::spikesSurviveTheWholeMonth_data()
{
    QTest::addColumn<int>("columns");
    QTest::newRow("1000 pixels") << 1000;
    QTest::newRow("300 pixels") << 300;
}

// Catches a zoomed-out chart that thins samples out instead of keeping each pixel's extremes: a
// single sample far off the others must still reach its pixel.
void TestViewQuery::spikesSurviveTheWholeMonth()
{
    QFETCH(int, columns);
    ViewerSampleReader store;
    QVERIFY(store.open(m_generated.databasePath));
    ViewQuery query(&store, m_cache[0].get());
    ViewQuery::Request request;
    request.from = double(m_generated.first) - 0.5;
    request.to = double(m_generated.last) + 0.5;
    request.columns = columns;
    int spikes = 0;
    for (const SampleDatabaseGenerator::Event& e : m_generated.events) {
        if (e.kind != QLatin1String("spike"))
            continue;
        ++spikes;
        request.channels = {
            ViewQuery::Channel{e.serial.toUtf8(), e.channel, 0, 0, std::nullopt, 0}};
        const ViewQuery::Result result = query.run(request);
        const ViewQuery::Series& series = result.series.first();
        QCOMPARE(int(series.kind), int(ViewQuery::Series::Columns));
        const int pixel =
            int((double(e.from) - request.from) / (request.to - request.from) * columns);
        bool found = false;
        for (int i = qMax(0, pixel - 1); i <= qMin(columns - 1, pixel); ++i) {
            const SampleSummary::Column& col = series.columns[i];
            if (e.from >= col.from && e.from < col.to)
                found = col.min == e.value || col.max == e.value;
        }
        QVERIFY2(found, qPrintable(e.serial + QStringLiteral(" spike at %1").arg(e.from)));
        QVERIFY(series.stats.min <= e.value && series.stats.max >= e.value);
    }
    QVERIFY(spikes >= 4);
}

// Catches a line drawn across a stretch without samples or across a row without values.
void TestViewQuery::pointsBreakAtGaps()
{
    ViewerSampleReader store;
    QVERIFY(store.open(m_generated.databasePath));
    ViewQuery query(&store, m_cache[0].get());
    int checked = 0;
    for (const SampleDatabaseGenerator::Event& e : m_generated.events) {
        // A gap at either end of the recording has no sample beyond it to break the line to.
        if ((e.kind != QLatin1String("gap") && e.kind != QLatin1String("null")) ||
            e.from - 10 < m_generated.first || e.to + 10 > m_generated.last)
            continue;
        ViewQuery::Request request;
        request.from = double(e.from) - 300;
        request.to = double(e.to) + 300;
        request.columns = 2000;
        request.intervalSeconds = 10;
        request.channels = {ViewQuery::Channel{e.serial.toUtf8(), 1, 0, 0, std::nullopt, 0}};
        const ViewQuery::Series series = query.run(request).series.first();
        QCOMPARE(int(series.kind), int(ViewQuery::Series::Points));
        bool broken = false;
        for (int i = 0; i < series.times.size(); ++i)
            if (std::isnan(series.values[i]) && series.times[i] >= e.from - 10 &&
                series.times[i] <= e.to + 10)
                broken = true;
        QVERIFY2(broken, qPrintable(e.kind + QLatin1Char(' ') + e.serial));
        // Apart from the breaks, consecutive samples are never more than two intervals apart.
        for (int i = 1; i < series.times.size(); ++i)
            if (!std::isnan(series.values[i]) && !std::isnan(series.values[i - 1]))
                QVERIFY(series.times[i] - series.times[i - 1] <= 20);
        ++checked;
    }
    QVERIFY(checked >= 3);
}

QTEST_GUILESS_MAIN(TestViewQuery)
#include "tst_viewquery.moc"
