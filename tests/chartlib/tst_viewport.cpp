// View-port manager arithmetic and image-map hot spots.
#include <chartapi.h>
#include <viewport.h>

#include <QtTest>

namespace {

// Plot area 100..500 x 50..250 on a 600 x 300 chart.
ViewPort *makeViewPort()
{
    ViewPort *vp = CViewPortManager_create();
    CViewPortManager_setChartMetrics(vp, "600,300,100,50,400,200");
    return vp;
}

} // namespace

class TstViewPort : public QObject
{
    Q_OBJECT

private slots:
    void plotAreaHitTest_data();
    void plotAreaHitTest();
    void noChartMeansNoPlotArea();
    void zoomAtKeepsThePointInPlace();
    void zoomStopsAtItsLimits();
    void dragScrollsWithinTheRange_data();
    void dragScrollsWithinTheRange();
    void zoomToFillsThePlotArea();
    void hotSpots_data();
    void hotSpots();
};

void TstViewPort::plotAreaHitTest_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("in");
    QTest::addColumn<bool>("extended");
    QTest::newRow("centre") << 300 << 150 << true << true;
    QTest::newRow("left edge") << 100 << 150 << true << true;
    QTest::newRow("right edge") << 500 << 250 << true << true;
    QTest::newRow("just left") << 99 << 150 << false << true;
    QTest::newRow("margin below") << 300 << 250 + ViewPort::ExtendedMargin << false << true;
    QTest::newRow("past the margin") << 500 + ViewPort::ExtendedMargin + 1 << 150 << false << false;
    QTest::newRow("far away") << 10 << 10 << false << false;
}

// Fault caught: off-by-one edges, or a margin so wide the cursor never leaves the plot area.
void TstViewPort::plotAreaHitTest()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(bool, in);
    QFETCH(bool, extended);
    ViewPort *vp = makeViewPort();
    QCOMPARE(CViewPortManager_inPlotArea(vp, x, y), in);
    QCOMPARE(CViewPortManager_inExtendedPlotArea(vp, x, y), extended);
    CViewPortManager_destroy(vp);
}

// Fault caught: a stale plot area kept after the chart is gone.
void TstViewPort::noChartMeansNoPlotArea()
{
    ViewPort *vp = makeViewPort();
    CViewPortManager_setChartMetrics(vp, nullptr);
    QVERIFY(!CViewPortManager_inPlotArea(vp, 300, 150));
    QVERIFY(!CViewPortManager_inExtendedPlotArea(vp, 300, 150));
    QCOMPARE(CViewPortManager_getPlotAreaWidth(vp), 0);
    CViewPortManager_setChartMetrics(vp, "garbage");
    QVERIFY(!CViewPortManager_inPlotArea(vp, 300, 150));
    CViewPortManager_destroy(vp);
}

// Fault caught: zooming that shifts the data under the pointer.
void TstViewPort::zoomAtKeepsThePointInPlace()
{
    ViewPort *vp = makeViewPort();
    const double fx = (200.0 - 100) / 400; // a quarter into the plot
    const double before = vp->getViewPortLeft() + fx * vp->getViewPortWidth();
    QVERIFY(CViewPortManager_zoomAt(vp, Chart::HorizontalAxis, 200, 100, 2.0));
    QCOMPARE(vp->getViewPortWidth(), 0.5);
    QCOMPARE(vp->getViewPortHeight(), 1.0);
    QVERIFY(qAbs(vp->getViewPortLeft() + fx * vp->getViewPortWidth() - before) < 1e-9);
    QVERIFY(CViewPortManager_zoomAt(vp, Chart::HorizontalAxis, 200, 100, 0.5));
    QCOMPARE(vp->getViewPortWidth(), 1.0);
    QCOMPARE(vp->getViewPortLeft(), 0.0);
    CViewPortManager_destroy(vp);
}

// Fault caught: zooming past the limits, or "can zoom" answers that contradict them.
void TstViewPort::zoomStopsAtItsLimits()
{
    ViewPort *vp = makeViewPort();
    QVERIFY(!CViewPortManager_canZoomOut(vp, Chart::BothAxes));
    QVERIFY(!CViewPortManager_zoomAt(vp, Chart::BothAxes, 300, 150, 0.5));
    vp->setZoomInWidthLimit(0.25);
    QVERIFY(CViewPortManager_canZoomIn(vp, Chart::HorizontalAxis));
    QVERIFY(CViewPortManager_zoomAt(vp, Chart::HorizontalAxis, 300, 150, 10));
    QCOMPARE(vp->getViewPortWidth(), 0.25);
    QVERIFY(!CViewPortManager_canZoomIn(vp, Chart::HorizontalAxis));
    QVERIFY(CViewPortManager_canZoomIn(vp, Chart::VerticalAxis));
    QVERIFY(!CViewPortManager_zoomAt(vp, Chart::HorizontalAxis, 300, 150, 2));
    QVERIFY(CViewPortManager_canZoomOut(vp, Chart::HorizontalAxis));
    vp->setViewPortWidth(5);
    vp->setViewPortLeft(-1);
    CViewPortManager_validateViewPort(vp);
    QCOMPARE(vp->getViewPortWidth(), 1.0);
    QCOMPARE(vp->getViewPortLeft(), 0.0);
    CViewPortManager_destroy(vp);
}

void TstViewPort::dragScrollsWithinTheRange_data()
{
    QTest::addColumn<int>("dx");
    QTest::addColumn<double>("left");
    QTest::addColumn<bool>("moved");
    // Zoomed to half width starting at 0.25; 400 pixels of plot show 0.5 of the range.
    QTest::newRow("right by 100 px shows earlier data") << 100 << 0.125 << true;
    QTest::newRow("left by 100 px shows later data") << -100 << 0.375 << true;
    QTest::newRow("far right stops at the start") << 1000 << 0.0 << true;
    QTest::newRow("far left stops at the end") << -1000 << 0.5 << true;
    QTest::newRow("no travel") << 0 << 0.25 << false;
}

// Fault caught: scrolling the wrong way, past the data, or reporting a move that did not happen.
void TstViewPort::dragScrollsWithinTheRange()
{
    QFETCH(int, dx);
    QFETCH(double, left);
    QFETCH(bool, moved);
    ViewPort *vp = makeViewPort();
    vp->setViewPortWidth(0.5);
    vp->setViewPortLeft(0.25);
    CViewPortManager_startDrag(vp);
    QCOMPARE(CViewPortManager_dragTo(vp, Chart::HorizontalAxis, dx, 40), moved);
    QVERIFY(qAbs(vp->getViewPortLeft() - left) < 1e-9);
    QCOMPARE(vp->getViewPortTop(), 0.0); // vertical travel ignored for horizontal scrolling
    CViewPortManager_destroy(vp);
}

// Fault caught: a selection frame zooming to the wrong part of the range.
void TstViewPort::zoomToFillsThePlotArea()
{
    ViewPort *vp = makeViewPort();
    QVERIFY(CViewPortManager_zoomTo(vp, Chart::BothAxes, 300, 150, 200, 100));
    QVERIFY(qAbs(vp->getViewPortLeft() - 0.25) < 1e-9);
    QVERIFY(qAbs(vp->getViewPortWidth() - 0.25) < 1e-9);
    QVERIFY(qAbs(vp->getViewPortTop() - 0.25) < 1e-9);
    QVERIFY(qAbs(vp->getViewPortHeight() - 0.25) < 1e-9);
    CViewPortManager_destroy(vp);
}

void TstViewPort::hotSpots_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("spot");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("rectangle") << 15 << 15 << 1 << "detail.html" << "Room <1> & \"hall\"";
    QTest::newRow("circle") << 100 << 104 << 2 << "" << "Sensor 2";
    QTest::newRow("polygon") << 205 << 12 << 3 << "x.html" << QString::fromUtf8("T\xC2\xB0");
    QTest::newRow("outside everything") << 150 << 150 << 0 << QString() << QString();
}

// Fault caught: wrong hot spot for a point, or entity-escaped and UTF-8 titles mangled.
void TstViewPort::hotSpots()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, spot);
    QFETCH(QString, path);
    QFETCH(QString, title);
    const QByteArray map =
        "<map><area shape=\"rect\" coords=\"10,10,20,20\" href=\"detail.html?id=3\" "
        "title=\"Room &lt;1&gt; &amp; &quot;hall&quot;\">"
        "<area shape='circle' coords='100,100,5' title='Sensor 2'>"
        "<AREA SHAPE=poly COORDS=\"200,0,220,0,210,30\" path=\"x.html\" title=\"T\xC2\xB0\"></map>";
    ImageMapHandler *h = CImageMapHandler_create(map.constData());
    QCOMPARE(CImageMapHandler_getHotSpot(h, x, y), spot);
    const char *p = CImageMapHandler_getValue(h, "path");
    const char *t = CImageMapHandler_getValue(h, "title");
    QCOMPARE(p ? QString::fromUtf8(p) : QString(), path);
    QCOMPARE(t ? QString::fromUtf8(t) : QString(), title);
    CImageMapHandler_destroy(h);
}

QTEST_GUILESS_MAIN(TstViewPort)
#include "tst_viewport.moc"
