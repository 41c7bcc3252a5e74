// Number and chart-time formatting of labels and cursor texts, run in several time zones.
#include <chartapi.h>
#include <clockchanges.h>
#include <valueformat.h>

#include <QtTest>

namespace {

// The chart time of an instant, with its milliseconds, as the recorder makes it.
double chartTimeOf(const QDateTime& instant)
{
    return CChart_chartTime2(int(instant.toSecsSinceEpoch())) + instant.time().msec() / 1000.0;
}

// A reading of the local clock.
double localChartTime(int year, int month, int day, int h, int m, int s, int ms = 0)
{
    return chartTimeOf(QDateTime(QDate(year, month, day), QTime(h, m, s, ms), Qt::LocalTime));
}

} // namespace

class TstValueFormat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void formats_data();
    void formats();
    void chartTimeEpoch();
    void axisLabelsUseTheAxisKind();
};

void TstValueFormat::initTestCase()
{
    QVERIFY(ClockChanges::zoneInEffect());
}

void TstValueFormat::formats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    const double t = localChartTime(2025, 12, 6, 5, 46, 40, 250);
    QTest::newRow("two decimals") << "{value|2.}" << 23.456 << "23.46";
    QTest::newRow("two decimals, negative") << "{value|2.}" << -3.5 << "-3.50";
    QTest::newRow("rounds to zero without sign") << "{value|2.}" << -0.001 << "0.00";
    QTest::newRow("no decimals") << "{value|0}" << 7.6 << "8";
    QTest::newRow("thousands") << "{value|0,.}" << 1234567.0 << "1,234,567";
    QTest::newRow("comma decimal point") << "{value|1.,}" << 1234.25 << "1.234,3";
    QTest::newRow("text around") << "T={value|1.} C" << 21.04 << "T=21.0 C";
    QTest::newRow("clock") << "{value|hh:nn:ss}" << t << "05:46:40";
    QTest::newRow("date and clock") << "yyyy-mm-dd hh:nn:ss" << t << "2025-12-06 05:46:40";
    QTest::newRow("month name") << "{value|mmm dd}" << t << "Dec 06";
    QTest::newRow("milliseconds") << "{value|hh:nn:ss.fff}" << t << "05:46:40.250";
    QTest::newRow("just below a second") << "{value|hh:nn:ss}" << t - 0.2500001 << "05:46:40";
    QTest::newRow("no value: number") << "{value|2.}" << Chart::NoValue << "";
    QTest::newRow("no value: clock") << "{value|hh:nn:ss}" << Chart::NoValue << "";
    QTest::newRow("other fields kept") << "{x} {value|0}" << 3.0 << "{x} 3";
    // Around each clock change of the zone the test runs in, the text is the local clock's.
    for (const qint64 change : ClockChanges::inYear(2026)) {
        for (const int seconds : {-3601, -1, 0, 1800, 3600}) {
            const QDateTime local = QDateTime::fromMSecsSinceEpoch(change + seconds * 1000);
            QTest::addRow("%s", qPrintable(local.toString(Qt::ISODate)))
                << "{value|yyyy-mm-dd hh:nn:ss}" << chartTimeOf(local)
                << local.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        }
    }
}

// Fault caught: cursor and axis texts in the wrong format, in UTC or an hour off around a clock
// change instead of on the local clock, "-0.00", or garbage for the marker.
void TstValueFormat::formats()
{
    QFETCH(QString, format);
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(ValueFormat::formatTemplate(format, value), expected);
}

// Fault caught: a chart-time epoch that is not 0001-01-01 UTC (the recorder stores these times).
void TstValueFormat::chartTimeEpoch()
{
    const QDateTime unixEpoch = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    QCOMPARE(CChart_chartTime2(0),
             double(QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC).secsTo(unixEpoch)));
    QCOMPARE(ValueFormat::formatDate(CChart_chartTime2(0), QStringLiteral("yyyy-mm-dd hh:nn:ss")),
             unixEpoch.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    QCOMPARE(CChart_chartTime2(86400) - CChart_chartTime2(0), 86400.0);
}

// Fault caught: getFormattedLabel ignoring its pattern, or one result overwriting the previous.
void TstValueFormat::axisLabelsUseTheAxisKind()
{
    XYChart* c = CXYChart_create(300, 200, 0xFFFFFF, Chart::Transparent, 0);
    Axis* x = CXYChart_xAxis(c);
    const double t = localChartTime(2025, 12, 6, 5, 46, 40);
    CAxis_setDateScale(x, t - 60, t, 0, 0);
    QCOMPARE(QString::fromUtf8(CAxis_getFormattedLabel(x, t, "hh:nn:ss")),
             QStringLiteral("05:46:40"));
    QCOMPARE(QString::fromUtf8(CAxis_getFormattedLabel(x, t, "yyyy-mm-dd hh:nn:ss")),
             QStringLiteral("2025-12-06 05:46:40"));
    QCOMPARE(QString::fromUtf8(CBaseChart_formatValue(c, 23.456, "{value|2.}")),
             QStringLiteral("23.46"));
    // Several texts from one object, used together, each keep their own value.
    const char* clock = CAxis_getFormattedLabel(x, t, "hh:nn:ss");
    const char* year = CAxis_getFormattedLabel(x, t, "yyyy");
    QCOMPARE(QString::fromUtf8(clock) + QLatin1Char(' ') + QString::fromUtf8(year),
             QStringLiteral("05:46:40 2025"));
    CBaseChart_destroy(c);
}

QTEST_MAIN(TstValueFormat)
#include "tst_valueformat.moc"
