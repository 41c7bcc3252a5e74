// Number and chart-time formatting of labels and cursor texts.
#include <chartapi.h>
#include <valueformat.h>

#include <QtTest>

class TstValueFormat : public QObject
{
    Q_OBJECT

private slots:
    void formats_data();
    void formats();
    void chartTimeEpoch();
    void axisLabelsUseTheAxisKind();
};

void TstValueFormat::formats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    const double t = CChart_chartTime2(1765000000) + 0.25; // 2025-12-06 05:46:40.25 UTC
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
    QTest::newRow("no value: number") << "{value|2.}" << NoValue << "";
    QTest::newRow("no value: clock") << "{value|hh:nn:ss}" << NoValue << "";
    QTest::newRow("other fields kept") << "{x} {value|0}" << 3.0 << "{x} 3";
}

// Fault caught: cursor and axis texts in the wrong format, "-0.00", or garbage for the marker.
void TstValueFormat::formats()
{
    QFETCH(QString, format);
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(ValueFormat::formatTemplate(format, value), expected);
}

// Fault caught: a chart-time epoch that is not 0001-01-01 (the recorder stores these times).
void TstValueFormat::chartTimeEpoch()
{
    QCOMPARE(ValueFormat::formatDate(CChart_chartTime2(0), QStringLiteral("yyyy-mm-dd hh:nn:ss")),
             QStringLiteral("1970-01-01 00:00:00"));
    QCOMPARE(ValueFormat::formatDate(0.0, QStringLiteral("yyyy-mm-dd hh:nn:ss")),
             QStringLiteral("0001-01-01 00:00:00"));
    QCOMPARE(CChart_chartTime2(86400) - CChart_chartTime2(0), 86400.0);
}

// Fault caught: getFormattedLabel ignoring its pattern, or one result overwriting the previous.
void TstValueFormat::axisLabelsUseTheAxisKind()
{
    XYChart *c = CXYChart_create(300, 200, 0xFFFFFF, Chart::Transparent, 0);
    Axis *x = CXYChart_xAxis(c);
    const double t = CChart_chartTime2(1765000000);
    CAxis_setDateScale(x, t - 60, t, 0, 0);
    QCOMPARE(QString::fromUtf8(CAxis_getFormattedLabel(x, t, "hh:nn:ss")), QStringLiteral("05:46:40"));
    QCOMPARE(QString::fromUtf8(CAxis_getFormattedLabel(x, t, "yyyy-mm-dd hh:nn:ss")),
             QStringLiteral("2025-12-06 05:46:40"));
    QCOMPARE(QString::fromUtf8(CBaseChart_formatValue(c, 23.456, "{value|2.}")), QStringLiteral("23.46"));
    // Several texts from one object, used together, each keep their own value.
    const char *clock = CAxis_getFormattedLabel(x, t, "hh:nn:ss");
    const char *year = CAxis_getFormattedLabel(x, t, "yyyy");
    QCOMPARE(QString::fromUtf8(clock) + QLatin1Char(' ') + QString::fromUtf8(year), QStringLiteral("05:46:40 2025"));
    CBaseChart_destroy(c);
}

QTEST_MAIN(TstValueFormat)
#include "tst_valueformat.moc"
