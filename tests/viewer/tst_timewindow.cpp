#include "timewindow.h"

#include <QtTest>

// The recorded period is [1000, 101000]; the window starts as [50000, 60000], at least 60 s.
class TestTimeWindow : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
    void followsOnlyFromTheEnd();
};

void TestTimeWindow::steps_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");

    QTest::newRow("zoom in about the left edge") << "zoom" << 50000.0 << 2.0 << 50000.0 << 55000.0;
    QTest::newRow("zoom in about a point keeps it in place")
        << "zoom" << 52000.0 << 4.0 << 51500.0 << 54000.0;
    QTest::newRow("zoom in stops at the minimum span")
        << "zoom" << 55000.0 << 1e6 << 54970.0 << 55030.0;
    QTest::newRow("zoom out stops at the whole period")
        << "zoom" << 55000.0 << 1e-3 << 1000.0 << 101000.0;
    QTest::newRow("zoom out about the first sample stays inside")
        << "zoomFrom" << 1500.0 << 0.1 << 1000.0 << 11000.0;
    QTest::newRow("scroll") << "scroll" << -2500.0 << 0.0 << 47500.0 << 57500.0;
    QTest::newRow("scroll past the end stops at it")
        << "scroll" << 1e6 << 0.0 << 91000.0 << 101000.0;
    QTest::newRow("start") << "start" << 0.0 << 0.0 << 1000.0 << 11000.0;
    QTest::newRow("end") << "end" << 0.0 << 0.0 << 91000.0 << 101000.0;
    QTest::newRow("typed range") << "range" << 20000.0 << 20500.0 << 20000.0 << 20500.0;
    QTest::newRow("typed range backwards") << "range" << 20500.0 << 20000.0 << 20000.0 << 20500.0;
    QTest::newRow("typed range shorter than the minimum")
        << "range" << 20000.0 << 20001.0 << 20000.0 << 20060.0;
    QTest::newRow("typed range beyond the period") << "range" << 0.0 << 1e9 << 1000.0 << 101000.0;
    QTest::newRow("view-port fractions") << "fractions" << 0.25 << 0.5 << 26000.0 << 76000.0;
}

// Catches a zoom that drifts away from the pointer, a window that leaves the recorded period or
// shrinks below a minute, and view-port fractions counted from the wrong origin.
void TestTimeWindow::steps()
{
    QFETCH(QString, step);
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(double, from);
    QFETCH(double, to);
    TimeWindow w;
    w.setLimits(1000, 101000);
    w.setMinimumSpan(60);
    w.setRange(50000, 60000);
    if (step == QLatin1String("zoom"))
        w.zoomAt(a, b);
    else if (step == QLatin1String("zoomFrom"))
        (w.setRange(1000, 2000), w.zoomAt(a, b));
    else if (step == QLatin1String("scroll"))
        w.scrollBy(a);
    else if (step == QLatin1String("start"))
        w.toStart();
    else if (step == QLatin1String("end"))
        w.toEnd();
    else if (step == QLatin1String("range"))
        w.setRange(a, b);
    else
        w.setFractions(a, b);
    QCOMPARE(w.from(), from);
    QCOMPARE(w.to(), to);
}

// Catches new samples that pull a window away from the past the user is looking at, or that do
// not scroll in while the window shows the newest data.
void TestTimeWindow::followsOnlyFromTheEnd()
{
    TimeWindow w;
    w.setLimits(1000, 101000);
    w.setRange(91000, 101000);
    QVERIFY(w.isAtEnd());
    w.setLimits(1000, 101030);
    QVERIFY(w.follow(101000));
    QCOMPARE(w.to(), 101030.0);
    QCOMPARE(w.span(), 10000.0);
    w.setRange(50000, 60000);
    w.setLimits(1000, 101060);
    QVERIFY(!w.follow(101030));
    QCOMPARE(w.from(), 50000.0);
}

QTEST_GUILESS_MAIN(TestTimeWindow)
#include "tst_timewindow.moc"
