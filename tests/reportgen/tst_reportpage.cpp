#include "haccppage.h"
#include "novalue.h"
#include "reportfixture.h"
#include "reportpage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <limits>

using namespace ReportFixture;

namespace {

ReportChannel channel(const QString& number, const QString& column, const QString& name = "Temp",
                      const QString& device = "Room", const QString& unit = "Humidity(%)")
{
    ReportChannel channel;
    channel.serial = number;
    channel.column = column;
    channel.name = name;
    channel.device = device;
    channel.unit = unit;
    return channel;
}

QMap<qint64, SampleRow> rowsEvery(const QString& first, int seconds, int count, int columns)
{
    QMap<qint64, SampleRow> rows;
    const qint64 start = localSecs(first);
    for (int i = 0; i < count; ++i) {
        const qint64 t = start + qint64(i) * seconds;
        SampleRow row = newSampleRow(
            QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        for (int c = 0; c < columns; ++c)
            row.values[c] = 20.0 + c + i / 100.0;
        rows.insert(t, row);
    }
    return rows;
}

QJsonArray parseArray(const QString& text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        qWarning() << error.errorString() << text.left(300);
    return doc.array();
}

} // namespace

class TestReportPage : public QObject
{
    Q_OBJECT

private slots:
    void minPeriod_data();
    void minPeriod();
    void chartDataText();
    void chartPointsPerStep_data();
    void chartPointsPerStep();
    void chartGapsAndEmptyChannels();
    void chartNodesSecondsApart();
    void chartExtremeValues();
    void chartBreaks_data();
    void chartBreaks();
    void graphListText_data();
    void graphListText();
    void tableRows();
    void tableCells();
    void haccpSections();
    void channelInfoEscaped_data();
    void channelInfoEscaped();
    void jsonStaysValidWithQuotes();
};

void TestReportPage::minPeriod_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<QString>("code");
    QTest::newRow("1 s") << 1000 << "1mm";
    QTest::newRow("5 s") << 5000 << "1mm";
    QTest::newRow("10 s") << 10000 << "1mm";
    QTest::newRow("1 min") << 60000 << "1mm";
    QTest::newRow("5 min") << 300000 << "5mm";
    QTest::newRow("10 min") << 600000 << "10mm";
    QTest::newRow("missing") << 0 << "";
    QTest::newRow("not offered") << 2000 << "";
}

// Catches a wrong smallest-period code for an interval.
void TestReportPage::minPeriod()
{
    QFETCH(int, interval);
    QFETCH(QString, code);
    QCOMPARE(ReportPage::minPeriodCode(interval), code);
}

// Catches a data set whose text differs from the documented form (order, decimals, line feeds).
void TestReportPage::chartDataText()
{
    QMap<qint64, SampleRow> rows;
    SampleRow a = newSampleRow(QStringLiteral("2026-01-10 00:00:00"));
    a.values[0] = 21.5;
    a.values[1] = 45.254;
    rows.insert(localSecs(a.timeText), a);
    SampleRow b = newSampleRow(QStringLiteral("2026-01-10 00:01:00"));
    b.values[0] = -3;
    b.values[1] = 0;
    rows.insert(localSecs(b.timeText), b);
    const bool empty[ReportColumns] = {false, false, false, false};
    const QString text = ReportPage::chartData(
        rows, {channel("1234", "channel1"), channel("1234", "channel2")}, empty, 1000);
    QCOMPARE(text, QStringLiteral("[{\"datetime\":\"2026-01-10 00:00:00\",\"1234_channel1\":21.50,"
                                  "\"1234_channel2\":45.25},\n"
                                  "{\"datetime\":\"2026-01-10 00:01:00\",\"1234_channel1\":-3.00,"
                                  "\"1234_channel2\":0.00}]"));
}

void TestReportPage::chartPointsPerStep_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("sampleSeconds");
    QTest::addColumn<QStringList>("times");
    QStringList minutes{QStringLiteral("00:00:30")};
    for (int m = 1; m <= 12; ++m)
        minutes.append(QStringLiteral("00:%1:00").arg(m, 2, 10, QLatin1Char('0')));
    QTest::newRow("1 s: one per minute") << 1000 << 1 << minutes;
    QTest::newRow("10 s: one per minute") << 10000 << 10 << minutes;
    QTest::newRow("1 min: one per minute")
        << 60000 << 60 << QStringList{"00:00:30", "00:01:30", "00:02:30", "00:03:30", "00:04:30",
                                      "00:05:30", "00:06:30", "00:07:30", "00:08:30", "00:09:30",
                                      "00:10:30", "00:11:30", "00:12:30"};
    QTest::newRow("5 min: one per 300 s")
        << 300000 << 60 << QStringList{"00:00:30", "00:05:30", "00:10:30"};
    QTest::newRow("10 min: one per 600 s") << 600000 << 60 << QStringList{"00:00:30", "00:10:30"};
}

// Catches a chart that gets a point per sample, or steps that ignore the interval.
void TestReportPage::chartPointsPerStep()
{
    QFETCH(int, interval);
    QFETCH(int, sampleSeconds);
    QFETCH(QStringList, times);
    // Samples from 00:00:30 to 00:12:30.
    const auto rows =
        rowsEvery(QStringLiteral("2026-01-10 00:00:30"), sampleSeconds, 720 / sampleSeconds + 1, 1);
    const bool empty[ReportColumns] = {false, false, false, false};
    const QJsonArray points =
        parseArray(ReportPage::chartData(rows, {channel("7", "channel1")}, empty, interval));
    QStringList got;
    for (const QJsonValue& p : points)
        got.append(p.toObject().value(QStringLiteral("datetime")).toString().mid(11));
    QCOMPARE(got, times);
}

// Catches gaps filled with the marker value and empty channels that still get fields.
void TestReportPage::chartGapsAndEmptyChannels()
{
    auto rows = rowsEvery(QStringLiteral("2026-01-10 00:00:00"), 60, 3, 3);
    rows[localSecs(QStringLiteral("2026-01-10 00:01:00"))].values[0] = NoValue;
    const bool empty[ReportColumns] = {false, true, false, false};
    const QJsonArray points = parseArray(ReportPage::chartData(
        rows, {channel("A", "channel1"), channel("B", "channel1"), channel("C", "channel2")}, empty,
        60000));
    QCOMPARE(points.size(), 3);
    QVERIFY(points.at(0).toObject().contains(QStringLiteral("A_channel1")));
    QVERIFY(!points.at(1).toObject().contains(QStringLiteral("A_channel1")));
    for (const QJsonValue& p : points) {
        QVERIFY(!p.toObject().contains(QStringLiteral("B_channel1")));
        QVERIFY(p.toObject().contains(QStringLiteral("C_channel2")));
    }
    QCOMPARE(points.at(1).toObject().value(QStringLiteral("C_channel2")).toDouble(), 22.01);
}

// Catches an extreme value written with all its digits, and one that is no number written into
// the JSON (which then does not parse: no chart at all).
void TestReportPage::chartExtremeValues()
{
    auto rows = rowsEvery(QStringLiteral("2026-01-10 00:00:00"), 60, 3, 2);
    rows.first().values[0] = 1e308;
    rows.first().values[1] = std::numeric_limits<double>::infinity();
    rows.last().values[0] = std::numeric_limits<double>::quiet_NaN();
    const bool empty[ReportColumns] = {false, false, false, false};
    const QString text = ReportPage::chartData(
        rows, {channel("A", "channel1"), channel("A", "channel2")}, empty, 60000);
    QVERIFY(text.startsWith(
        QStringLiteral("[{\"datetime\":\"2026-01-10 00:00:00\",\"A_channel1\":1.00e+308}")));
    const QJsonArray points = parseArray(text);
    QCOMPARE(points.size(), 3);
    QCOMPARE(points.at(0).toObject().value(QStringLiteral("A_channel1")).toDouble(), 1e308);
    QVERIFY(!points.at(2).toObject().contains(QStringLiteral("A_channel1")));
    QVERIFY(points.at(2).toObject().contains(QStringLiteral("A_channel2")));
}

Q_DECLARE_METATYPE(QList<ChartBreak>)

void TestReportPage::chartBreaks_data()
{
    // Two channels sampled every minute from 09:00 to 09:20 and from 14:10 to 14:30 (the
    // second channel's samples 2 s after the first's); points a minute apart.
    QTest::addColumn<QList<ChartBreak>>("breaks");
    QTest::addColumn<QStringList>("breakPoints"); // times of the points without members
    auto t = [](const char* time) { return localSecs(QLatin1String("2026-01-10 ") + time); };
    QTest::newRow("none") << QList<ChartBreak>{} << QStringList{};
    QTest::newRow("both channels stopped")
        << QList<ChartBreak>{{0, t("09:20:00"), t("14:10:00"), t("09:21:00")},
                             {1, t("09:20:02"), t("14:10:02"), t("09:21:02")}}
        << QStringList{"2026-01-10 09:21:00"};
    // Breaking the other line too would cut it where it has samples.
    QTest::newRow("only one of two lines breaks")
        << QList<ChartBreak>{{0, t("09:20:00"), t("14:10:00"), t("09:21:00")}} << QStringList{};
    QTest::newRow("shorter than a chart step")
        << QList<ChartBreak>{{0, t("09:05:00"), t("09:05:40"), t("09:05:10")},
                             {1, t("09:05:02"), t("09:05:42"), t("09:05:12")}}
        << QStringList{};
    QTest::newRow("break time kept between the points")
        << QList<ChartBreak>{{0, t("09:20:00"), t("14:10:00"), t("15:00:00")},
                             {1, t("09:20:02"), t("14:10:02"), t("16:00:00")}}
        << QStringList{"2026-01-10 14:09:59"};
    QTest::newRow("the earlier of two breaks")
        << QList<ChartBreak>{{0, t("09:20:00"), t("14:10:00"), t("09:25:00")},
                             {1, t("09:20:02"), t("14:10:02"), t("09:22:00")}}
        << QStringList{"2026-01-10 09:22:00"};
}

// Catches a chart line drawn across a stop, or a break that cuts a line where it has samples,
// and break points that change the other points.
void TestReportPage::chartBreaks()
{
    QFETCH(QList<ChartBreak>, breaks);
    QFETCH(QStringList, breakPoints);
    QMap<qint64, SampleRow> rows;
    for (const auto& part : {rowsEvery(QStringLiteral("2026-01-10 09:00:00"), 60, 21, 1),
                             rowsEvery(QStringLiteral("2026-01-10 14:10:00"), 60, 21, 1)}) {
        for (auto it = part.constBegin(); it != part.constEnd(); ++it) {
            rows.insert(it.key(), *it);
            SampleRow second = newSampleRow(QDateTime::fromSecsSinceEpoch(it.key() + 2)
                                                .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
            second.values[1] = it->values[0] + 30;
            rows.insert(it.key() + 2, second);
        }
    }
    const bool empty[ReportColumns] = {false, false, false, false};
    const QList<ReportChannel> channels{channel("A", "channel1"), channel("B", "channel1")};
    const QString plain = ReportPage::chartData(rows, channels, empty, 60000);
    const QString text = ReportPage::chartData(rows, channels, empty, 60000, breaks);
    QStringList found;
    QStringList others;
    for (const QJsonValue& p : parseArray(text)) {
        const QJsonObject point = p.toObject();
        if (point.size() == 1)
            found.append(point.value(QStringLiteral("datetime")).toString());
        else
            others.append(QString::fromUtf8(QJsonDocument(point).toJson(QJsonDocument::Compact)));
    }
    QCOMPARE(found, breakPoints);
    QStringList plainPoints;
    for (const QJsonValue& p : parseArray(plain))
        plainPoints.append(
            QString::fromUtf8(QJsonDocument(p.toObject()).toJson(QJsonDocument::Compact)));
    QCOMPARE(others, plainPoints);
    // The break point is a line of its own, between its neighbours.
    for (const QString& time : breakPoints)
        QVERIFY(text.contains(QStringLiteral("},\n{\"datetime\":\"") + time +
                              QStringLiteral("\"},\n{")));
}

// Catches a node whose samples are stamped a few seconds after another's and so never opens a
// step: its line must still be drawn, from its first value in each step.
void TestReportPage::chartNodesSecondsApart()
{
    QMap<qint64, SampleRow> rows;
    const qint64 start = localSecs(QStringLiteral("2026-01-10 00:00:00"));
    for (int m = 0; m < 3; ++m) {
        for (int offset : {0, 1, 7}) {
            const qint64 t = start + m * 60 + offset;
            SampleRow row = newSampleRow(
                QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
            if (offset == 0)
                row.values[0] = 10 + m;
            else if (m != 1)
                row.values[1] = 20 + m + offset / 100.0; // no value for B in minute 1
            rows.insert(t, row);
        }
    }
    const bool empty[ReportColumns] = {false, false, false, false};
    const QString text = ReportPage::chartData(
        rows, {channel("A", "channel1"), channel("B", "channel1")}, empty, 1000);
    QCOMPARE(text, QStringLiteral("[{\"datetime\":\"2026-01-10 00:00:00\",\"A_channel1\":10.00,"
                                  "\"B_channel1\":20.01},\n"
                                  "{\"datetime\":\"2026-01-10 00:01:00\",\"A_channel1\":11.00},\n"
                                  "{\"datetime\":\"2026-01-10 00:02:00\",\"A_channel1\":12.00,"
                                  "\"B_channel1\":22.01}]"));
}

void TestReportPage::graphListText_data()
{
    QTest::addColumn<QList<bool>>("emptyFlags");
    QTest::addColumn<bool>("limits"); // the first channel has critical limits 2 to 8
    QTest::addColumn<QString>("expected");
    const QString first = QStringLiteral(
        "{\"type\":\"smoothedLine\", \"title\":\"Temp\", \"valueField\":\"A_channel1\", "
        "\"lineAlpha\":0.9, \"connect\":false, \"hidden\":false}");
    const QString second = QStringLiteral(
        "{\"type\":\"smoothedLine\", \"title\":\"Hum\", \"valueField\":\"A_channel2\", "
        "\"lineAlpha\":0.9, \"connect\":false, \"hidden\":false}");
    QTest::newRow("both") << QList<bool>{false, false} << false
                          << QStringLiteral("[%1,\n%2]").arg(first, second);
    QTest::newRow("last empty") << QList<bool>{false, true} << false
                                << QStringLiteral("[%1]").arg(first);
    QTest::newRow("first empty") << QList<bool>{true, false} << false
                                 << QStringLiteral("[%1]").arg(second);
    QTest::newRow("none") << QList<bool>{true, true} << false << QStringLiteral("[]");
    QString limited = first;
    limited.replace(QStringLiteral("false}"), QStringLiteral("false, \"lower\":2.00, "
                                                             "\"upper\":8.00}"));
    QTest::newRow("with limits") << QList<bool>{false, false} << true
                                 << QStringLiteral("[%1,\n%2]").arg(limited, second);
}

// Catches a graph list with a dangling separator, entries for channels without rows, or
// critical limits that do not reach the chart.
void TestReportPage::graphListText()
{
    QFETCH(QList<bool>, emptyFlags);
    QFETCH(bool, limits);
    QFETCH(QString, expected);
    bool empty[ReportColumns] = {false, false, false, false};
    for (int i = 0; i < emptyFlags.size(); ++i)
        empty[i] = emptyFlags.at(i);
    ReportChannel temperature = channel("A", "channel1", "Temp");
    temperature.limited = limits;
    temperature.lower = 2;
    temperature.upper = 8;
    const QString text =
        ReportPage::graphList({temperature, channel("A", "channel2", "Hum")}, empty);
    QCOMPARE(text, expected);
    QCOMPARE(parseArray(text).size(), emptyFlags.count(false));
}

// Catches a table without 24 body rows (25 on the fall-back day), or with periods beyond the 25th.
void TestReportPage::tableRows()
{
    QMap<qint64, PeriodRow> rows;
    for (int i = 0; i < 3; ++i) {
        PeriodRow row = newPeriodRow(QStringLiteral("label %1").arg(i));
        row.avg[0] = 1;
        row.min[0] = 0;
        row.max[0] = 2;
        rows.insert(i * 3600, row);
    }
    QString html = ReportPage::reportTable(rows);
    QCOMPARE(html.count(QStringLiteral("<tr>")), 25);
    QVERIFY(html.contains(QStringLiteral(
        "<tr><td class='first'>3</td><td class='C'>label 2</td><td>1.00/0.00/2.00</td>"
        "<td></td><td></td><td></td></tr>")));
    QVERIFY(html.contains(QStringLiteral(
        "<tr><td class='first'>4</td><td class='C'></td><td></td><td></td><td></td><td></td>"
        "</tr>")));
    QVERIFY(html.endsWith(QStringLiteral("<td class='first'>24</td><td class='C'></td><td></td>"
                                         "<td></td><td></td><td></td></tr></table>")));

    // The fall-back day's 25 hours each have their row; a day never has more.
    for (int i = 3; i < 25; ++i)
        rows.insert(i * 3600, newPeriodRow(QStringLiteral("label %1").arg(i)));
    html = ReportPage::reportTable(rows);
    QCOMPARE(html.count(QStringLiteral("<tr>")), 26);
    QVERIFY(html.contains(QStringLiteral("<td class='first'>25</td><td class='C'>label 24</td>")));
    for (int i = 25; i < 30; ++i)
        rows.insert(i * 3600, newPeriodRow(QStringLiteral("label %1").arg(i)));
    html = ReportPage::reportTable(rows);
    QCOMPARE(html.count(QStringLiteral("<tr>")), 26);
    QVERIFY(html.contains(QStringLiteral("label 24")));
    QVERIFY(!html.contains(QStringLiteral("label 25")));

    // A report of days has one row per day, a month's 31 too.
    rows.insert(30 * 3600, newPeriodRow(QStringLiteral("label 30")));
    html = ReportPage::dayTable(rows);
    QCOMPARE(html.count(QStringLiteral("<tr>")), 32);
    QVERIFY(html.contains(QStringLiteral("<th class='top'>Date</th>")));
    QVERIFY(html.contains(QStringLiteral("<td class='first'>31</td><td class='C'>label 30</td>")));
}

// Catches HACCP sections that lose an excursion's notes, show limits or time out of limits for
// a channel without limits, wrap durations at a day, miss the signature block, list gaps under
// a minute one by one (thousands of rows) or lose their count, or do not say how gaps count.
void TestReportPage::haccpSections()
{
    ReportChannel cold = channel("A", "channel1", "Cold");
    cold.limited = true;
    cold.lower = 2;
    cold.upper = 8;
    const QList<ReportChannel> channels{cold, channel("B", "channel2", "Hum", "Hall")};
    ReportTables tables;
    PeriodRow day = newPeriodRow(QStringLiteral("2026-01-10"));
    day.min[0] = 1.5;
    day.max[0] = 9.5;
    day.avg[0] = 5.25;
    day.outSeconds[0] = 97205;
    day.min[1] = 40;
    day.max[1] = 60;
    day.avg[1] = 50;
    tables.periodRows.insert(0, day);
    tables.excursions.append({0, true, localSecs("2026-01-10 10:00:00"),
                              localSecs("2026-01-11 13:00:05"), 9.5, 840, true, true});
    tables.gaps.append({1, localSecs("2026-01-10 10:06:00"), localSecs("2026-01-10 10:20:00")});
    // Under a minute: counted, not listed; a minute: listed.
    for (const qint64 seconds : {10, 20, 59}) {
        const qint64 start = localSecs("2026-01-10 11:00:00") + seconds * 10;
        tables.gaps.append({1, start, start + seconds});
    }
    tables.gaps.append({0, localSecs("2026-01-10 12:00:00"), localSecs("2026-01-10 12:01:00")});

    const QString limits = HaccpPage::limitsSection(channels, tables);
    QVERIFY(limits.contains(QStringLiteral("<td class='L'>1. Cold [Room]</td><td>2.00</td>"
                                           "<td>8.00</td>")));
    QVERIFY(limits.contains(QStringLiteral("27:00:05")));
    QVERIFY(limits.contains(QStringLiteral("<td class='L'>2. Hum [Hall]</td><td>not set</td>"
                                           "<td>not set</td><td>-</td><td>0</td><td>4</td>")));

    const QString table = HaccpPage::dayTable(tables.periodRows, channels);
    QVERIFY(table.contains(QStringLiteral("<td>1.50/9.50/5.25<br/><span style='color:#cc0000;'>"
                                          "out 27:00:05</span></td><td>40.00/60.00/50.00</td>"
                                          "<td></td><td></td></tr>")));

    const QString lists = HaccpPage::listsSection(channels, tables, 60000);
    QVERIFY(lists.contains(QStringLiteral(
        "<td>2026-01-10 10:00:00</td><td>2026-01-11 13:00:05</td><td>27:00:05</td><td>9.50</td>"
        "<td class='L'>above the upper limit; began before the period; includes 0:14:00 "
        "without data; still open at the period's end</td>")));
    QVERIFY(lists.contains(QStringLiteral("<td class='L'>2. Hum [Hall]</td><td>2026-01-10 "
                                          "10:06:00</td><td>2026-01-10 10:20:00</td>"
                                          "<td>0:14:00</td>")));
    QVERIFY(lists.contains(QStringLiteral("<td class='L'>1. Cold [Room]</td><td>2026-01-10 "
                                          "12:00:00</td><td>2026-01-10 12:01:00</td>"
                                          "<td>0:01:00</td>")));
    QVERIFY(!lists.contains(QStringLiteral("2026-01-10 11:")));
    QVERIFY(lists.contains(QStringLiteral("<td class='L'>2. Hum [Hall]</td><td class='L' "
                                          "colspan='3'>3 gaps shorter than 1 minute, 0:01:29 in "
                                          "all</td>")));
    QVERIFY(lists.contains(QStringLiteral("longer than two sampling intervals (1 min each). Gaps "
                                          "of 1 minute or more are listed")));
    for (const char* field : {">Checked by<", ">Date<", ">Corrective action<"})
        QVERIFY2(lists.contains(QLatin1String(field)), field);
    tables.excursions.clear();
    tables.gaps.clear();
    QVERIFY(
        HaccpPage::listsSection(channels, tables, 1000).contains(QStringLiteral("No excursion.")));
    QVERIFY(
        HaccpPage::listsSection(channels, tables, 1000).contains(QStringLiteral("No data gap.")));
    // Only short gaps: counted, and the list does not claim there is none.
    tables.gaps.append({0, localSecs("2026-01-10 12:00:00"), localSecs("2026-01-10 12:00:05")});
    const QString counted = HaccpPage::listsSection(channels, tables, 1000);
    QVERIFY(!counted.contains(QStringLiteral("No data gap.")));
    QVERIFY(counted.contains(QStringLiteral("1 gap shorter than 1 minute, 0:00:05 in all")));
    QVERIFY(counted.contains(QStringLiteral("(1 sec each)")));

    // A file without the event log lists no events at all; one with it says when there are none,
    // and its table comes before the signature block.
    QVERIFY(!counted.contains(QStringLiteral("Alarm Events")));
    tables.alarmLog = true;
    const QString none = HaccpPage::listsSection(channels, tables, 1000);
    QVERIFY(none.contains(QStringLiteral("No alarm event.")));
    QVERIFY(none.indexOf(QStringLiteral("Alarm Events")) <
            none.indexOf(QStringLiteral("Verification")));
    AlarmEventRecord node;
    node.serial = QStringLiteral("B");
    node.kind = AlarmKind::NoData;
    node.start = localSecs("2026-01-10 12:00:00");
    tables.alarmEvents.append(node);
    const QString active = HaccpPage::listsSection(channels, tables, 1000);
    QVERIFY(!active.contains(QStringLiteral("No alarm event.")));
    QVERIFY(active.contains(QStringLiteral("<td class='L'>Hall</td><td class='L'>whole node</td>"
                                           "<td>no data</td><td>-</td><td>2026-01-10<br/>12:00:00"
                                           "</td><td>still active</td><td>-</td>"
                                           "<td>not acknowledged</td>")));
}

// Catches an empty column shown as numbers, a real 0.00 average hidden as empty, or an extreme
// value printed with all its digits.
void TestReportPage::tableCells()
{
    PeriodRow row = newPeriodRow(QStringLiteral("2026-01-10 00:00-00:59"));
    row.avg[1] = 0.0;
    row.min[1] = -1;
    row.max[1] = 1;
    row.avg[2] = 12.345;
    row.min[2] = 10;
    row.max[2] = 14.999;
    row.avg[3] = std::numeric_limits<double>::infinity();
    row.min[3] = -3.4e38;
    row.max[3] = 1e308;
    const QString html = ReportPage::reportTable({{0, row}});
    QVERIFY(html.contains(
        QStringLiteral("<td class='C'>2026-01-10 00:00-00:59</td><td></td><td>0.00/-1.00/1.00</td>"
                       "<td>12.35/10.00/15.00</td><td>inf/-3.40e+38/1.00e+308</td></tr>")));
}

void TestReportPage::channelInfoEscaped_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("info");
    const QString degree(QChar(0x00B0));
    QTest::newRow("plain") << "Temperature"
                           << "Cold room" << ("Temperature(" + degree + "C)")
                           << ("Temperature [Cold room], Temperature(" + degree + "C)");
    QTest::newRow("markup in names")
        << "<b>T</b> & co"
        << "<script>alert(1)</script>"
        << "\"ppm\""
        << "&lt;b&gt;T&lt;/b&gt; &amp; co [&lt;script&gt;alert(1)&lt;/script&gt;], &quot;ppm&quot;";
    QTest::newRow("apostrophe") << "O'Neil"
                                << "Lab's"
                                << "x"
                                << "O&#39;Neil [Lab&#39;s], x";
    QTest::newRow("no device, no unit") << "Humidity"
                                        << ""
                                        << ""
                                        << "Humidity [], ";
}

// Catches names inserted into the page as markup (they must show as typed, no script runs).
void TestReportPage::channelInfoEscaped()
{
    QFETCH(QString, name);
    QFETCH(QString, device);
    QFETCH(QString, unit);
    QFETCH(QString, info);
    ReportChannel channel = ReportChannel::fromKey(QStringLiteral("9_channel2"));
    channel.name = name;
    channel.device = device;
    channel.unit = unit;
    QCOMPARE(ReportPage::channelInfo(channel), info);
}

// Catches names and numbers with quotes or backslashes that break the page's JSON.
void TestReportPage::jsonStaysValidWithQuotes()
{
    const QList<ReportChannel> channels{channel(QStringLiteral("a\"b"), QStringLiteral("channel1"),
                                                QStringLiteral("Say \"hi\"\\ "),
                                                QStringLiteral("x"), QStringLiteral("u"))};
    const bool empty[ReportColumns] = {false, false, false, false};
    const QJsonArray graphs = parseArray(ReportPage::graphList(channels, empty));
    QCOMPARE(graphs.size(), 1);
    QCOMPARE(graphs.at(0).toObject().value(QStringLiteral("title")).toString(),
             QStringLiteral("Say \"hi\"\\ "));
    const QString field = graphs.at(0).toObject().value(QStringLiteral("valueField")).toString();
    QCOMPARE(field, QStringLiteral("a\"b_channel1"));
    const QJsonArray points = parseArray(ReportPage::chartData(
        rowsEvery(QStringLiteral("2026-01-10 00:00:00"), 60, 2, 1), channels, empty, 60000));
    QCOMPARE(points.size(), 2);
    QVERIFY(points.at(0).toObject().contains(field));
}

QTEST_GUILESS_MAIN(TestReportPage)
#include "tst_reportpage.moc"
