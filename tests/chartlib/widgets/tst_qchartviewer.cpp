// The chart viewer driven with synthetic mouse, wheel and timer events.
#include <chartcursors.h>
#include <qchartviewer.h>
#include <qchartviewerlabel.h>

#include <chartapi.h>
#include <chartcore.h>
#include <demochart.h>
#include <drawarea.h>

#include <QApplication>
#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(QMouseEvent*)
Q_DECLARE_METATYPE(QWheelEvent*)

namespace {

constexpr int Interval = 10000;
constexpr int HostW = 600;
constexpr int HostH = 220;

// Holds the panel's arrays and redraws the chart as the panel does on viewPortChanged().
struct Panel
{
    double times[DemoChart::HistoryLength];
    double values[DemoChart::HistoryLength];
    QChartViewer* viewer = nullptr;
    int draws = 0;

    explicit Panel(QChartViewer* v, int gapFrom = -1, int gapTo = -1) : viewer(v)
    {
        DemoChart::fillWave(times, values, 1765000000, Interval, 22.0, 2.0, gapFrom, gapTo);
    }
    ~Panel()
    {
        BaseChart* c = viewer->assignedChart();
        viewer->assignChart(nullptr);
        delete c;
    }
    XYChart* chart() const { return static_cast<XYChart*>(viewer->assignedChart()); }
    void draw()
    {
        ++draws;
        XYChart* c = DemoChart::build(HostW, HostH, times, values, 0xFF0000, "CH1", Interval);
        const int x = viewer->isPointerOnPlotArea() ? viewer->plotPointerX()
                                                    : CPlotArea_getRightX(CXYChart_getPlotArea(c));
        DemoChart::drawTrackCursor(c, x, Interval);
        delete viewer->assignedChart();
        viewer->assignChart(c);
    }
    void follow()
    {
        DemoChart::drawTrackCursor(chart(), viewer->plotPointerX(), Interval);
        viewer->refreshImage();
    }
    void connect()
    {
        QObject::connect(viewer, &QChartViewer::viewPortChanged, viewer, [this]() { draw(); });
        QObject::connect(viewer, &QChartViewer::mouseMovePlotArea, viewer, [this]() { follow(); });
    }
};

void moveTo(QWidget* w, QPoint at, Qt::MouseButtons buttons = Qt::NoButton)
{
    QMouseEvent e(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void sendButton(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint at)
{
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent e(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void leave(QWidget* w)
{
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

class WheelCatcher : public QWidget
{
public:
    int wheels = 0;

protected:
    void wheelEvent(QWheelEvent* event) override
    {
        ++wheels;
        event->accept();
    }
};

QImage shown(QChartViewer& v)
{
    return v.pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TstQChartViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void withoutChartShowsNothing();
    void metaCastYieldsViewPortManager();
    void assignedChartIsShown();
    void burstOfMovesEndsWithNewest();
    void leavingPlotAreaSignalsOncePerExit();
    void leavingWidgetSignalsPlotAreaThenChart();
    void wheelReachesParentWithoutReceiver();
    void releasesEmitClicked_data();
    void releasesEmitClicked();
    void holdOffCoalescesRequests();
    void holdOffIgnoresEmptyRequests();
    void requestsDuringSignalAreIgnored();
    void rendersInsideMoveAreDeferred();
    void dynamicLayerModes_data();
    void dynamicLayerModes();
    void trackCursorFollowsMouse();
    void trackCursorShowsNoValue();
    void emptyChartCursorHasNoLegend();
    void valueLabelSideFollowsCursor_data();
    void valueLabelSideFollowsCursor();
    void dragScrollMovesViewPort();
    void zoomInFrameAndZoom();
    void cursorsFromOwnBitmaps();
    void hostSignalsEveryResize();

private:
    std::unique_ptr<QWidget> m_parent;
};

void TstQChartViewer::initTestCase()
{
    qRegisterMetaType<QMouseEvent*>();
    qRegisterMetaType<QWheelEvent*>();
    qRegisterMetaType<QEvent*>();
}

void TstQChartViewer::init()
{
    m_parent = std::make_unique<WheelCatcher>();
    m_parent->resize(HostW + 20, HostH + 20);
    m_parent->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_parent.get()));
}

// Fault caught: a stale pixmap or plot area shown when no chart is assigned.
void TstQChartViewer::withoutChartShowsNothing()
{
    QChartViewer v(m_parent.get());
    v.show();
    QVERIFY(v.pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(CViewPortManager_getPlotAreaWidth(v.getInternalPtr()), 0);
    moveTo(&v, QPoint(50, 50));
    v.flushPendingMove();
    QVERIFY(!v.isPointerOnPlotArea());
    v.refreshViewPort(true, true);
    QVERIFY(v.pixmap(Qt::ReturnByValue).isNull());
}

// Fault caught: the view-port manager base not reachable through the meta-object cast.
void TstQChartViewer::metaCastYieldsViewPortManager()
{
    QChartViewer v(m_parent.get());
    QCOMPARE(v.qt_metacast("ViewPortManager"),
             static_cast<void*>(static_cast<ViewPortManager*>(&v)));
}

// Fault caught: the chart image not shown at its size, or the manager not told the plot area.
void TstQChartViewer::assignedChartIsShown()
{
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    QCOMPARE(panel.draws, 1);
    QCOMPARE(v.size(), QSize(HostW - 10, HostH));
    QCOMPARE(v.pixmap(Qt::ReturnByValue).size(), QSize(HostW - 10, HostH));
    QCOMPARE(CViewPortManager_getPlotAreaLeft(v.getInternalPtr()), 45);
    QCOMPARE(CViewPortManager_getPlotAreaWidth(v.getInternalPtr()), HostW - 60);
}

// Fault caught: throttled moves lost, so the cursor stops short of where the pointer came to rest.
void TstQChartViewer::burstOfMovesEndsWithNewest()
{
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    QSignalSpy raw(&v, &QChartViewer::mouseMove);
    QSignalSpy handled(&v, &QChartViewer::mouseMoveChart);
    for (int i = 0; i < 20; ++i)
        moveTo(&v, QPoint(100 + i * 10, 100));
    QCOMPARE(raw.count(), 20);
    QVERIFY(handled.count() < 20);
    QTRY_VERIFY_WITH_TIMEOUT(!v.hasPendingMove(), 2000);
    QCOMPARE(v.pointerX(), 290);
    QCOMPARE(v.pointerY(), 100);
    QVERIFY(handled.count() >= 1);
    const int after = handled.count();
    QTest::qWait(30);
    QCOMPARE(handled.count(), after); // the 1 ms timer handled the copy once, not again
}

// Fault caught: mouseLeavePlotArea repeated on every move outside, or never emitted.
void TstQChartViewer::leavingPlotAreaSignalsOncePerExit()
{
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    QSignalSpy leaves(&v, &QChartViewer::mouseLeavePlotArea);
    QSignalSpy inside(&v, &QChartViewer::mouseMovePlotArea);
    const auto step = [&](QPoint p) {
        moveTo(&v, p);
        v.flushPendingMove();
    };
    step(QPoint(200, 100));
    QVERIFY(v.isPointerOnPlotArea());
    step(QPoint(10, 5));
    step(QPoint(12, 5));
    step(QPoint(5, 210));
    QCOMPARE(leaves.count(), 1);
    QVERIFY(!v.isPointerOnPlotArea());
    step(QPoint(300, 120));
    step(QPoint(3, 3));
    QCOMPARE(leaves.count(), 2);
    QCOMPARE(inside.count(), 2);
}

// Fault caught: leave signals in the wrong order, or the plot-area leave missing on a fast exit.
void TstQChartViewer::leavingWidgetSignalsPlotAreaThenChart()
{
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    QStringList order;
    connect(&v, &QChartViewer::mouseLeavePlotArea, this,
            [&order]() { order << QStringLiteral("plot"); });
    connect(&v, &QChartViewer::mouseLeaveChart, this,
            [&order]() { order << QStringLiteral("chart"); });
    moveTo(&v, QPoint(200, 100));
    v.flushPendingMove();
    // A move still pending when the pointer leaves is handled first.
    moveTo(&v, QPoint(220, 100));
    leave(&v);
    QCOMPARE(order, QStringList({QStringLiteral("plot"), QStringLiteral("chart")}));
    QVERIFY(!v.isPointerOnPlotArea());
    QVERIFY(!v.hasPendingMove());
    leave(&v);
    QCOMPARE(order.count(QStringLiteral("plot")), 1);
}

// Fault caught: wheel events swallowed by a viewer nobody listens to, so the page cannot scroll.
void TstQChartViewer::wheelReachesParentWithoutReceiver()
{
    auto* catcher = static_cast<WheelCatcher*>(m_parent.get());
    QChartViewer v(m_parent.get());
    v.resize(100, 100);
    v.show();
    const auto wheel = [&]() {
        QWheelEvent e(QPointF(10, 10), v.mapToGlobal(QPoint(10, 10)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        // Delivered as the window system delivers it: spontaneous events propagate when ignored.
        QSpontaneKeyEvent::setSpontaneous(&e);
        qApp->notify(&v, &e);
    };
    wheel();
    QCOMPARE(catcher->wheels, 1);
    QSignalSpy spy(&v, &QChartViewer::mouseWheel);
    wheel();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(catcher->wheels, 1);
}

void TstQChartViewer::releasesEmitClicked_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("inPlot");
    QTest::addColumn<bool>("clicked");
    QTest::newRow("pointer, left, plot") << 0 << int(Qt::LeftButton) << true << true;
    QTest::newRow("pointer, right, plot") << 0 << int(Qt::RightButton) << true << true;
    QTest::newRow("drag-scroll, right, plot") << 1 << int(Qt::RightButton) << true << true;
    QTest::newRow("zoom-in, right, plot") << 3 << int(Qt::RightButton) << true << true;
    QTest::newRow("zoom-in, middle, outside") << 3 << int(Qt::MiddleButton) << false << true;
    QTest::newRow("drag-scroll, left click, plot") << 1 << int(Qt::LeftButton) << true << true;
    QTest::newRow("zoom-in, left, plot") << 3 << int(Qt::LeftButton) << true << false;
    QTest::newRow("zoom-out, left, outside") << 4 << int(Qt::LeftButton) << false << true;
}

// Fault caught: a right-button release lost in a zoom or scroll mode, or a zoom click also
// "clicking".
void TstQChartViewer::releasesEmitClicked()
{
    QFETCH(int, mode);
    QFETCH(int, button);
    QFETCH(bool, inPlot);
    QFETCH(bool, clicked);
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    v.setPointerMode(mode);
    QSignalSpy spy(&v, &QChartViewer::clicked);
    QSignalSpy changes(&v, &QChartViewer::viewPortChanged);
    const QPoint at = inPlot ? QPoint(200, 100) : QPoint(5, 5);
    sendButton(&v, QEvent::MouseButtonPress, Qt::MouseButton(button), at);
    sendButton(&v, QEvent::MouseButtonRelease, Qt::MouseButton(button), at);
    QCOMPARE(spy.count(), clicked ? 1 : 0);
    if (mode == 0)
        QCOMPARE(changes.count(), 0); // pointer mode never zooms or scrolls
    if (mode == 3 && button == Qt::LeftButton)
        QCOMPARE(v.getViewPortWidth(), 0.5);
}

// Fault caught: every request emitting viewPortChanged(), or a request in the hold-off lost.
void TstQChartViewer::holdOffCoalescesRequests()
{
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    QSignalSpy spy(&v, &QChartViewer::viewPortChanged);
    v.refreshViewPort(true, true);
    QCOMPARE(spy.count(), 1);
    v.refreshViewPort(true, true);
    v.refreshViewPort(true, false);
    QCOMPARE(spy.count(), 1);
    QVERIFY(v.chartRefreshPending());
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 2000);
    QVERIFY(!v.chartRefreshPending());
    QCOMPARE(panel.draws, 2);
}

// Fault caught: a request without changes still triggering a redraw after the hold-off.
void TstQChartViewer::holdOffIgnoresEmptyRequests()
{
    QChartViewer v(m_parent.get());
    v.show();
    v.setHoldOffInterval(20);
    QSignalSpy spy(&v, &QChartViewer::viewPortChanged);
    v.refreshViewPort(true, true);
    v.refreshViewPort(false, false);
    QVERIFY(!v.chartRefreshPending());
    QTest::qWait(120); // several hold-off intervals: nothing may come
    QCOMPARE(spy.count(), 1);
    v.setHoldOffInterval(0);
    QTest::qWait(40);
    v.refreshViewPort(false, false);
    v.refreshViewPort(false, false);
    QCOMPARE(spy.count(), 3); // without hold-off every request signals at once
}

// Fault caught: a listener's own refreshViewPort() recursing inside viewPortChanged().
void TstQChartViewer::requestsDuringSignalAreIgnored()
{
    QChartViewer v(m_parent.get());
    v.show();
    v.setHoldOffInterval(0);
    int emissions = 0;
    connect(&v, &QChartViewer::viewPortChanged, this, [&]() {
        ++emissions;
        QVERIFY(v.isSignallingViewPort());
        v.refreshViewPort(true, true);
    });
    v.refreshViewPort(true, true);
    QCOMPARE(emissions, 1);
    QVERIFY(!v.isSignallingViewPort());
}

// Fault caught: a render per request inside a handled move, or a deferred render of a chart the
// owner has already deleted.
void TstQChartViewer::rendersInsideMoveAreDeferred()
{
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    const qint64 before = v.pixmap(Qt::ReturnByValue).cacheKey();
    qint64 during = 0;
    int changesDuring = 0;
    connect(&v, &QChartViewer::mouseMoveChart, this, [&]() {
        QVERIFY(v.isHandlingMove());
        // As the panel does on a redraw inside a move: delete the held chart, assign a new one.
        panel.draw();
        panel.follow();
        v.refreshImage();
        during = v.pixmap(Qt::ReturnByValue).cacheKey();
        changesDuring += during != before ? 1 : 0;
        // Coordinates of the new chart are usable before it is shown.
        QCOMPARE(CViewPortManager_getPlotAreaWidth(v.getInternalPtr()), HostW - 60);
    });
    moveTo(&v, QPoint(250, 90));
    v.flushPendingMove();
    QCOMPARE(changesDuring, 0);
    QVERIFY(v.pixmap(Qt::ReturnByValue).cacheKey() != before);
    QVERIFY(!v.isHandlingMove());
    QCOMPARE(shown(v), panel.chart()->makeImage().convertToFormat(QImage::Format_RGB32));
}

void TstQChartViewer::dynamicLayerModes_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("goneAtOnce");
    QTest::addColumn<bool>("goneOnLeave");
    QTest::newRow("now") << QByteArray("now") << QString() << true << true;
    QTest::newRow("NOW stored, never triggers")
        << QByteArray("NOW") << QStringLiteral("now") << false << false;
    QTest::newRow("on leaving the chart")
        << QByteArray("mouseleavechart") << QStringLiteral("mouseleavechart") << false << true;
    QTest::newRow("on leaving, capitals")
        << QByteArray("MouseLeaveChart") << QStringLiteral("mouseleavechart") << false << true;
    QTest::newRow("on leaving the plot area")
        << QByteArray("mouseleaveplotarea") << QStringLiteral("mouseleaveplotarea") << false
        << true;
    QTest::newRow("empty keeps it") << QByteArray("") << QString() << false << false;
}

// Fault caught: "NOW" clearing the cursor, or a leave mode that never clears it.
void TstQChartViewer::dynamicLayerModes()
{
    QFETCH(QByteArray, mode);
    QFETCH(QString, stored);
    QFETCH(bool, goneAtOnce);
    QFETCH(bool, goneOnLeave);
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    moveTo(&v, QPoint(200, 100));
    v.flushPendingMove();
    QVERIFY(panel.chart()->core()->dynamicLayer());
    v.clearDynamicLayer(mode.constData());
    QCOMPARE(v.dynamicLayerMode(), stored);
    QCOMPARE(panel.chart()->core()->dynamicLayer() == nullptr, goneAtOnce);
    leave(&v);
    QCOMPARE(panel.chart()->core()->dynamicLayer() == nullptr, goneOnLeave);
}

// Fault caught: the cursor drawn but not shown, or drawn at a pixel other than the sample's.
void TstQChartViewer::trackCursorFollowsMouse()
{
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    const int before = panel.draws;
    moveTo(&v, QPoint(301, 100));
    v.flushPendingMove();
    QCOMPARE(panel.draws, before); // moves redraw only the cursor, never the chart
    const double x = CXYChart_getNearestXValue(panel.chart(), 301);
    const int c = CXYChart_getXCoor(panel.chart(), x);
    QVERIFY(qAbs(c - 301) <= 2);
    const QImage img = shown(v);
    // The dashed line: light pixels down the column, some gaps between dashes.
    int light = 0, dark = 0;
    for (int y = 30; y < 160; ++y)
        (qGray(img.pixel(c, y)) > 150 ? light : dark)++;
    QVERIFY2(light > 30 && dark > 20, qPrintable(QStringLiteral("%1 %2").arg(light).arg(dark)));
    // The point mark in the line's colour at the sample.
    const int index = CLayer_getXIndexOf(CXYChart_getLayerByZ(panel.chart(), 0), x, 0);
    const int y = CXYChart_getYCoor(panel.chart(), panel.values[index], nullptr);
    const QRgb mark = img.pixel(c, y);
    QVERIFY(qRed(mark) > 200 && qGreen(mark) < 60);
}

// Fault caught: the marker value printed as a number instead of "N/A", or a mark drawn for it.
void TstQChartViewer::trackCursorShowsNoValue()
{
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v, 100, 130);
    panel.connect();
    v.refreshViewPort(true, true);
    const int gapX = CXYChart_getXCoor(panel.chart(), panel.times[115]);
    moveTo(&v, QPoint(gapX, 100));
    v.flushPendingMove();
    const QStringList texts = panel.chart()->core()->dynamicLayer()->texts();
    QVERIFY2(texts.filter(QStringLiteral("CH1:  N/A ")).size() == 1,
             qPrintable(texts.join(QLatin1Char('|'))));
    QVERIFY(texts.filter(QStringLiteral("N/A")).size() == 1); // no value label beside a point
    // The legend's value box in the line's colour above the plot area.
    const QImage img = shown(v);
    int red = 0;
    for (int y = 0; y < 25; ++y)
        for (int x = 45; x < 200; ++x)
            red += (img.pixel(x, y) & 0xFFFFFF) == 0xFF0000 ? 1 : 0;
    QVERIFY(red > 50);
}

// Fault caught: a legend entry or point mark for a chart that has no data yet.
void TstQChartViewer::emptyChartCursorHasNoLegend()
{
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    for (double& t : panel.times)
        t = Chart::NoValue;
    panel.connect();
    v.refreshViewPort(true, true);
    QCOMPARE(CXYChart_getLayerCount(panel.chart()), 0);
    const QStringList texts = panel.chart()->core()->dynamicLayer()->texts();
    QVERIFY(texts.filter(QStringLiteral("CH1")).isEmpty());
    QVERIFY(texts.filter(QStringLiteral("View Length : 240 samples")).size() == 1);
}

void TstQChartViewer::valueLabelSideFollowsCursor_data()
{
    QTest::addColumn<int>("pointerX");
    QTest::addColumn<bool>("labelLeft");
    QTest::newRow("left half") << 120 << false;
    QTest::newRow("right half") << 480 << true;
}

// Fault caught: the value label running off the plot on the side the cursor is near.
void TstQChartViewer::valueLabelSideFollowsCursor()
{
    QFETCH(int, pointerX);
    QFETCH(bool, labelLeft);
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    moveTo(&v, QPoint(pointerX, 100));
    v.flushPendingMove();
    const int c =
        CXYChart_getXCoor(panel.chart(), CXYChart_getNearestXValue(panel.chart(), pointerX));
    const QImage img = shown(v);
    // Pure red fill belongs to the value label's box (the line is antialiased, the legend is
    // above).
    int leftRed = 0, rightRed = 0;
    for (int y = 26; y < HostH - 30; ++y)
        for (int x = 46; x < HostW - 15; ++x)
            if ((img.pixel(x, y) & 0xFFFFFF) == 0xFF0000 && qAbs(x - c) > 5)
                (x < c ? leftRed : rightRed)++;
    QVERIFY2(labelLeft ? leftRed > 5 * qMax(1, rightRed) : rightRed > 5 * qMax(1, leftRed),
             qPrintable(QStringLiteral("%1 %2").arg(leftRed).arg(rightRed)));
}

// Fault caught: drag-scrolling not moving the view port, or a scroll ending in a click.
void TstQChartViewer::dragScrollMovesViewPort()
{
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    v.setViewPortWidth(0.5);
    v.setViewPortLeft(0.5);
    v.setPointerMode(QChartViewer::ScrollOnDrag);
    QSignalSpy clicks(&v, &QChartViewer::clicked);
    QSignalSpy changes(&v, &QChartViewer::viewPortChanged);
    sendButton(&v, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(300, 100));
    moveTo(&v, QPoint(302, 100), Qt::LeftButton); // below the threshold
    v.flushPendingMove();
    QCOMPARE(v.getViewPortLeft(), 0.5);
    moveTo(&v, QPoint(400, 100), Qt::LeftButton);
    v.flushPendingMove();
    v.refreshCursor(); // a throttled move sets the cursor only after it is handled
    QVERIFY(v.getViewPortLeft() < 0.5);
    QCOMPARE(v.cursor().shape(), Qt::BitmapCursor);
    sendButton(&v, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(400, 100));
    QCOMPARE(clicks.count(), 0);
    QTRY_VERIFY(changes.count() >= 1); // the scroll's redraw waits for the hold-off
    QCOMPARE(v.cursor().shape(), Qt::ArrowCursor);
}

// Fault caught: the selection frame not shown while dragging, or the zoom not taking the frame.
void TstQChartViewer::zoomInFrameAndZoom()
{
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    v.setPointerMode(QChartViewer::ZoomIn);
    v.setFrameColor(Qt::yellow);
    sendButton(&v, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(145, 100));
    moveTo(&v, QPoint(285, 100), Qt::LeftButton);
    v.flushPendingMove();
    QList<QLabel*> bars;
    for (QLabel* child : v.findChildren<QLabel*>())
        if (child->isVisible())
            bars << child;
    QCOMPARE(bars.size(), 4);
    QRect frame;
    for (QLabel* bar : bars) {
        frame |= bar->geometry();
        QCOMPARE(bar->palette().color(QPalette::Window), QColor(Qt::yellow));
    }
    QCOMPARE(frame.left(), 145);
    QCOMPARE(frame.top(), 25);
    sendButton(&v, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(285, 100));
    for (QLabel* bar : bars)
        QVERIFY(!bar->isVisible());
    // 140 of 540 plot pixels, starting 100 pixels in.
    QVERIFY(qAbs(v.getViewPortWidth() - 140.0 / 540) < 1e-6);
    QVERIFY(qAbs(v.getViewPortLeft() - 100.0 / 540) < 1e-6);
}

// Fault caught: cursors whose planes contradict each other or that are not the bitmaps described.
void TstQChartViewer::cursorsFromOwnBitmaps()
{
    ChartCursors cursors;
    for (int k = 0; k < ChartCursors::KindCount; ++k) {
        const auto kind = ChartCursors::Kind(k);
        const auto& clear = cursors.plane(kind, 0);
        const auto& white = cursors.plane(kind, 1);
        int black = 0;
        for (int i = 0; i < 128; ++i) {
            QCOMPARE(clear[size_t(i)] & white[size_t(i)], 0);
            for (int b = 0; b < 8; ++b)
                black += ((clear[size_t(i)] | white[size_t(i)]) >> b & 1) ? 0 : 1;
        }
        QVERIFY(black > 20);
        QVERIFY(clear[0] & 0x80); // the top-left corner is transparent
        const QCursor& cursor = cursors.cursor(kind);
        QCOMPARE(cursor.shape(), Qt::BitmapCursor);
        QCOMPARE(cursor.hotSpot(), QPoint(15, 15));
        for (int other = 0; other < k; ++other)
            QVERIFY(cursors.plane(ChartCursors::Kind(other), 0) != clear ||
                    cursors.plane(ChartCursors::Kind(other), 1) != white);
    }
    QChartViewer v(m_parent.get());
    v.show();
    Panel panel(&v);
    panel.connect();
    v.refreshViewPort(true, true);
    v.setPointerMode(QChartViewer::ZoomIn);
    moveTo(&v, QPoint(200, 100));
    v.flushPendingMove();
    v.refreshCursor();
    QCOMPARE(v.cursor().shape(), Qt::BitmapCursor);
    v.setPointerMode(QChartViewer::Pointer);
    v.refreshCursor();
    QCOMPARE(v.cursor().shape(), Qt::ArrowCursor);
}

// Fault caught: the chart host not asking for a redraw when its size changes.
void TstQChartViewer::hostSignalsEveryResize()
{
    QWidget parent;
    QChartViewerLabel host(&parent);
    parent.show();
    QSignalSpy spy(&host, &QChartViewerLabel::refreshChart);
    host.resize(300, 200);
    host.resize(310, 200);
    QCOMPARE(spy.count(), 2);
}

QTEST_MAIN(TstQChartViewer)
#include "tst_qchartviewer.moc"
