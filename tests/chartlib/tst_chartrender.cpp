// Charts rendered offscreen and checked by their pixels.
#include <axis.h>
#include <chartapi.h>
#include <chartbufferpool.h>
#include <clockchanges.h>
#include <drawarea.h>
#include <plotarea.h>

#include <QImage>
#include <QPixmap>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr int N = 240;
constexpr double Newest = 63900000000.0; // a chart time in 2025
constexpr int Red = 0xFF0000;

struct ChartDeleter
{
    void operator()(BaseChart* c) const { CBaseChart_destroy(c); }
};
using ChartPtr = std::unique_ptr<XYChart, ChartDeleter>;

// The recorder's panel layout: 790 x 200 chart, dark gradient plot area, 2-pixel axes.
ChartPtr makeChart(const double* times, const double* values, int spanSeconds,
                   bool withLayer = true)
{
    ChartPtr c(CXYChart_create(780, 200, 0x595959, Chart::Transparent, 0));
    const int bg = CBaseChart_linearGradientColor(c.get(), 0, 25, 0, 185, 0x595959, 0x303030);
    CXYChart_setPlotArea(c.get(), 45, 25, 730, 145, bg, -1, Chart::Transparent, int(0x80303030u),
                         int(0x80303030u));
    CXYChart_setClipping(c.get(), 0);
    Axis* x = CXYChart_xAxis(c.get());
    Axis* y = CXYChart_yAxis(c.get());
    CAxis_setTickDensity(x, 75, 15);
    CAxis_setWidth(x, 2);
    CAxis_setWidth(y, 2);
    CAxis_setColors(x, int(0x80C0C0C0u), int(0x80F4F4F4u), -1, -1);
    CAxis_setColors(y, int(0x80C0C0C0u), int(0x80F4F4F4u), -1, -1);
    if (withLayer && times[N - 1] != Chart::NoValue) {
        CAxis_setDateScale(x, times[N - 1] - spanSeconds, times[N - 1], 0, 0);
        CAxis_setLabelFormat(x, "{value|hh:nn:ss}");
        Layer* layer = CXYChart_addLineLayer2(c.get(), Chart::Overlay, 0);
        CLayer_setXData(layer, times, N);
        CLayer_addDataSet(layer, values, N, Red, "CH1");
    }
    return c;
}

QImage render(BaseChart* c)
{
    const char* data = nullptr;
    int length = 0;
    if (!CBaseChart_makeChart2(c, Chart::RawImage, &data, &length))
        return QImage();
    QImage img;
    img.loadFromData(reinterpret_cast<const uchar*>(data), length);
    return img.convertToFormat(QImage::Format_RGB32);
}

bool isLineRed(QRgb p)
{
    return qRed(p) > 150 && qGreen(p) < 90 && qBlue(p) < 90;
}

bool redNear(const QImage& img, int x, int y, int radius)
{
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
            if (img.valid(x + dx, y + dy) && isLineRed(img.pixel(x + dx, y + dy)))
                return true;
    return false;
}

int redInColumn(const QImage& img, int x, int top, int bottom)
{
    int n = 0;
    for (int y = top; y <= bottom; ++y)
        n += isLineRed(img.pixel(x, y)) ? 1 : 0;
    return n;
}

void ramp(double* times, double* values, int intervalSeconds, int gapFrom = -1, int gapTo = -1,
          double newest = Newest)
{
    for (int i = 0; i < N; ++i) {
        times[i] = newest - double(N - 1 - i) * intervalSeconds;
        values[i] = (i >= gapFrom && i < gapTo) ? Chart::NoValue : 20.0 + 5.0 * std::sin(i / 20.0);
    }
}

QRect boxOf(const QImage& img, QRgb color)
{
    QRect box;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if ((img.pixel(x, y) & 0xFFFFFF) == (color & 0xFFFFFF))
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

class TstChartRender : public QObject
{
    Q_OBJECT

private slots:
    void lineFollowsSamples();
    void gapLeavesNoLine();
    void emptyChartShowsOnlyAxesAndGrid();
    void dateAxisSpansItsRange_data();
    void dateAxisSpansItsRange();
    void nearestXValueSnaps_data();
    void nearestXValueSnaps();
    void alignmentPlacesText_data();
    void alignmentPlacesText();
    void yAxisScalesToRoundSteps_data();
    void yAxisScalesToRoundSteps();
    void encodedBytesDecodeToTheSameImage_data();
    void encodedBytesDecodeToTheSameImage();
    void transparentChartKeepsAlpha_data();
    void transparentChartKeepsAlpha();
    void damagedRawImageIsRefused_data();
    void damagedRawImageIsRefused();
    void reusedBuffersCarryNothingOver_data();
    void reusedBuffersCarryNothingOver();
    void buffersStayWithTheirPool();
    void sharedReferenceOutlivesOwner();
    void textOutlivingItsLayerDrawsNothing();
    void dynamicLayerLeavesChartUntouched();
};

// Fault caught: the line drawn away from getXCoor/getYCoor (wrong scale or offset).
void TstChartRender::lineFollowsSamples()
{
    double t[N], v[N];
    ramp(t, v, 10);
    ChartPtr c = makeChart(t, v, 2400);
    const QImage img = render(c.get());
    QCOMPARE(img.size(), QSize(780, 200));
    int checked = 0;
    for (int i = 1; i < N; i += 7) {
        const int x = CXYChart_getXCoor(c.get(), t[i]);
        const int y = CXYChart_getYCoor(c.get(), v[i], nullptr);
        QVERIFY2(redNear(img, x, y, 1),
                 qPrintable(QStringLiteral("sample %1 at %2,%3").arg(i).arg(x).arg(y)));
        ++checked;
    }
    QVERIFY(checked > 30);
    // The newest sample stands on the plot area's right edge.
    QCOMPARE(CXYChart_getXCoor(c.get(), t[N - 1]),
             CPlotArea_getRightX(CXYChart_getPlotArea(c.get())));
    // Nothing red far from the line: well above the highest value there is none.
    const int yTop = CXYChart_getYCoor(c.get(), 25.5, nullptr);
    for (int x = 50; x < 770; x += 5)
        QVERIFY(!redNear(img, x, yTop - 6, 0) || yTop - 6 < 25);
}

// Fault caught: a no-value marker joined to its neighbours (or drawn at 1.7E+308) instead of a gap.
void TstChartRender::gapLeavesNoLine()
{
    double t[N], v[N];
    ramp(t, v, 10, 100, 120);
    ChartPtr c = makeChart(t, v, 2400);
    const QImage img = render(c.get());
    PlotArea* pa = CXYChart_getPlotArea(c.get());
    const int x0 = CXYChart_getXCoor(c.get(), t[99]);
    const int x1 = CXYChart_getXCoor(c.get(), t[120]);
    QVERIFY(x1 - x0 > 40);
    for (int x = x0 + 3; x <= x1 - 3; ++x)
        QCOMPARE(redInColumn(img, x, CPlotArea_getTopY(pa), CPlotArea_getBottomY(pa)), 0);
    // Both ends of the gap are still drawn.
    QVERIFY(redNear(img, x0, CXYChart_getYCoor(c.get(), v[99], nullptr), 1));
    QVERIFY(redNear(img, x1, CXYChart_getYCoor(c.get(), v[120], nullptr), 1));
}

// Fault caught: an empty chart drawing a line, labels or nothing at all.
void TstChartRender::emptyChartShowsOnlyAxesAndGrid()
{
    double t[N], v[N];
    for (int i = 0; i < N; ++i)
        t[i] = v[i] = Chart::NoValue;
    ChartPtr c = makeChart(t, v, 2400);
    QCOMPARE(CXYChart_getLayerCount(c.get()), 0);
    const QImage img = render(c.get());
    PlotArea* pa = CXYChart_getPlotArea(c.get());
    const int left = CPlotArea_getLeftX(pa), right = CPlotArea_getRightX(pa);
    const int top = CPlotArea_getTopY(pa), bottom = CPlotArea_getBottomY(pa);
    int red = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            red += isLineRed(img.pixel(x, y)) ? 1 : 0;
    QCOMPARE(red, 0);
    // The axes are lighter than the background beside them.
    QVERIFY(qGray(img.pixel(left - 1, (top + bottom) / 2)) >
            qGray(img.pixel(left - 6, (top + bottom) / 2)) + 30);
    QVERIFY(qGray(img.pixel((left + right) / 2, bottom + 1)) >
            qGray(img.pixel((left + right) / 2, bottom + 12)) + 30);
    // Grid lines: some rows inside the plot area are darker than the rows next to them.
    int gridRows = 0;
    for (int y = top + 2; y < bottom - 2; ++y) {
        const int here = qGray(img.pixel(left + 20, y));
        if (here + 6 < qGray(img.pixel(left + 20, y - 1)) &&
            here + 6 < qGray(img.pixel(left + 20, y + 1)))
            ++gridRows;
    }
    QVERIFY(gridRows >= 2);
    // No labels: below the x axis and left of the y axis the background is plain.
    for (int x = left; x < right; x += 2)
        for (int y = bottom + 8; y < img.height(); ++y)
            QVERIFY(qAbs(qGray(img.pixel(x, y)) - 0x59) < 4);
}

void TstChartRender::dateAxisSpansItsRange_data()
{
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<int>("span");
    QTest::addColumn<double>("newest");
    const QList<QPair<int, int>> intervals = {
        {1000, 240}, {10000, 2400}, {300000, 72000}, {600000, 144000}};
    for (const auto& interval : intervals)
        QTest::addRow("%d s", interval.first / 1000) << interval.first << interval.second << Newest;
    // The axis across each clock change of the zone the test runs in.
    for (const qint64 change : ClockChanges::inYear(2026)) {
        const double at = CChart_chartTime2(int(change / 1000));
        for (const auto& interval : intervals)
            QTest::addRow(
                "%d s across %s", interval.first / 1000,
                qPrintable(QDateTime::fromMSecsSinceEpoch(change, Qt::UTC).toString(Qt::ISODate)))
                << interval.first << interval.second << at + interval.second / 3;
    }
}

// Fault caught: a date axis that ignores the range given, labels not in clock format or crowded,
// labels or ticks in UTC instead of on round times of the local clock, or a line that folds back
// where the clock goes back.
void TstChartRender::dateAxisSpansItsRange()
{
    QFETCH(int, intervalMs);
    QFETCH(int, span);
    QFETCH(double, newest);
    double t[N], v[N];
    ramp(t, v, intervalMs / 1000, -1, -1, newest);
    ChartPtr c = makeChart(t, v, span);
    PlotArea* pa = CXYChart_getPlotArea(c.get());
    QCOMPARE(CXYChart_getXCoor(c.get(), newest - span), CPlotArea_getLeftX(pa));
    QCOMPARE(CXYChart_getXCoor(c.get(), newest), CPlotArea_getRightX(pa));
    for (int i = 1; i < N; ++i)
        QVERIFY(CXYChart_getXCoor(c.get(), t[i]) > CXYChart_getXCoor(c.get(), t[i - 1]));
    Axis* x = CXYChart_xAxis(c.get());
    QCOMPARE(x->getMinValue(), newest - span);
    QCOMPARE(x->getMaxValue(), newest);
    QStringList labels;
    QVector<QDateTime> majors;
    double lastMajor = -1;
    for (const Axis::Tick& tick : x->ticks()) {
        QVERIFY(tick.value >= newest - span && tick.value <= newest);
        if (!tick.major)
            continue;
        const QDateTime local =
            QDateTime::fromSecsSinceEpoch(qint64(tick.value - CChart_chartTime2(0)));
        QCOMPARE(tick.label, local.toString(QStringLiteral("hh:mm:ss")));
        if (lastMajor >= 0)
            QVERIFY(CXYChart_getXCoor(c.get(), tick.value) -
                        CXYChart_getXCoor(c.get(), lastMajor) >=
                    75);
        lastMajor = tick.value;
        labels << tick.label;
        majors << local;
    }
    QVERIFY2(labels.size() >= 3, qPrintable(labels.join(QLatin1Char(' '))));
    // The step is the usual distance between labels; each label is a whole number of steps
    // past local midnight.
    QMap<qint64, int> gaps;
    for (int i = 1; i < majors.size(); ++i)
        ++gaps[majors[i - 1].secsTo(majors[i])];
    const qint64 step = std::max_element(gaps.cbegin(), gaps.cend()).key();
    for (const QDateTime& local : majors)
        QVERIFY2(QTime(0, 0).secsTo(local.time()) % step == 0,
                 qPrintable(labels.join(QLatin1Char(' '))));
    // Labels are drawn: light pixels appear under the axis.
    const QImage img = render(c.get());
    int light = 0;
    for (int y = CPlotArea_getBottomY(pa) + 6; y < 200; ++y)
        for (int xx = 0; xx < 780; ++xx)
            light += qGray(img.pixel(xx, y)) > 150 ? 1 : 0;
    QVERIFY(light > 100);
}

void TstChartRender::nearestXValueSnaps_data()
{
    QTest::addColumn<double>("offset"); // pixels right of sample 100
    QTest::addColumn<int>("expected");  // index of the expected sample
    QTest::newRow("on the sample") << 0.0 << 100;
    QTest::newRow("a little right") << 1.0 << 100;
    QTest::newRow("closer to the next") << 2.2 << 101;
    QTest::newRow("a little left") << -1.0 << 100;
    QTest::newRow("into the empty slots") << -3.0 * 3.04 << 97;
}

// Fault caught: snapping to the wrong sample, or to a slot whose time is the no-value marker.
void TstChartRender::nearestXValueSnaps()
{
    QFETCH(double, offset);
    QFETCH(int, expected);
    double t[N], v[N];
    ramp(t, v, 10);
    // Slots 98 and 99 hold no sample at all.
    t[98] = t[99] = Chart::NoValue;
    v[98] = v[99] = Chart::NoValue;
    ChartPtr c = makeChart(t, v, 2400);
    const double px = CXYChart_getXCoor(c.get(), t[100]) + offset;
    int want = expected;
    if (want == 97) {
        // From the empty slots the nearest sample that exists is 100 or 97, whichever is closer.
        const double d97 = std::fabs(CXYChart_getXCoor(c.get(), t[97]) - px);
        const double d100 = std::fabs(CXYChart_getXCoor(c.get(), t[100]) - px);
        want = d97 < d100 ? 97 : 100;
    }
    QCOMPARE(CXYChart_getNearestXValue(c.get(), px), t[want]);
    Layer* layer = CXYChart_getLayerByZ(c.get(), 0);
    QCOMPARE(CLayer_getXIndexOf(layer, t[want], 0), want);
    QCOMPARE(CLayer_getXIndexOf(layer, t[want] + 0.5, 0), -1);
}

void TstChartRender::alignmentPlacesText_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<int>("column"); // 0: box starts at x, 1: centred, 2: ends at x
    QTest::addColumn<int>("row");    // 0: box ends at y, 1: centred, 2: starts at y
    QTest::newRow("1 bottom-left") << 1 << 0 << 0;
    QTest::newRow("2 bottom-centre") << 2 << 1 << 0;
    QTest::newRow("3 bottom-right") << 3 << 2 << 0;
    QTest::newRow("4 left") << 4 << 0 << 1;
    QTest::newRow("5 centre") << 5 << 1 << 1;
    QTest::newRow("6 right") << 6 << 2 << 1;
    QTest::newRow("7 top-left") << 7 << 0 << 2;
    QTest::newRow("8 top-centre") << 8 << 1 << 2;
    QTest::newRow("9 top-right") << 9 << 2 << 2;
}

// Fault caught: text anchored at the wrong corner or edge for an alignment code.
void TstChartRender::alignmentPlacesText()
{
    QFETCH(int, alignment);
    QFETCH(int, column);
    QFETCH(int, row);
    ChartPtr c(CXYChart_create(400, 200, 0xFFFFFF, Chart::Transparent, 0));
    DrawArea* d = CBaseChart_initDynamicLayer(c.get());
    TTFText* t =
        CDrawArea_text3(d, "<*font,bgColor=0000FF,color=0000FF*>Mark 42<*/font*>", "arial.ttf", 8);
    const int w = CTTFText_getWidth(t);
    const int h = CTTFText_getHeight(t);
    QVERIFY(w > 20 && h > 8);
    CTTFText_draw(t, 200, 100, 0x000000, alignment);
    CTTFText_destroy(t);
    const QRect box = boxOf(render(c.get()), qRgb(0, 0, 255));
    QVERIFY(!box.isEmpty());
    QVERIFY(qAbs(box.width() - w) <= 1);
    QVERIFY(qAbs(box.height() - h) <= 1);
    const int expectLeft = column == 0 ? 200 : column == 1 ? 200 - w / 2 : 200 - w;
    const int expectTop = row == 2 ? 100 : row == 1 ? 100 - h / 2 : 100 - h;
    QVERIFY2(qAbs(box.left() - expectLeft) <= 1, qPrintable(QString::number(box.left())));
    QVERIFY2(qAbs(box.top() - expectTop) <= 1, qPrintable(QString::number(box.top())));
}

void TstChartRender::yAxisScalesToRoundSteps_data()
{
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("room temperature") << 20.3 << 24.9;
    QTest::newRow("humidity") << 35.0 << 78.0;
    QTest::newRow("below zero") << -12.4 << -3.1;
    QTest::newRow("flat") << 23.5 << 23.5;
    QTest::newRow("tiny range") << 1.001 << 1.004;
    QTest::newRow("large") << 1200.0 << 98000.0;
}

// Fault caught: an auto-scaled axis that cuts off data, picks odd steps or crowds its labels.
void TstChartRender::yAxisScalesToRoundSteps()
{
    QFETCH(double, low);
    QFETCH(double, high);
    double t[N], v[N];
    ramp(t, v, 10);
    for (int i = 0; i < N; ++i)
        v[i] = low + (high - low) * (i % 17) / 16.0;
    ChartPtr c = makeChart(t, v, 2400);
    Axis* y = CXYChart_yAxis(c.get());
    CBaseChart_makeChart3(c.get());
    QVERIFY(y->getMinValue() <= low);
    QVERIFY(y->getMaxValue() >= high);
    QVector<double> majors;
    for (const Axis::Tick& tick : y->ticks())
        if (tick.major)
            majors << tick.value;
    QVERIFY(majors.size() >= 2);
    const double step = majors[1] - majors[0];
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    QVERIFY2(qAbs(mantissa - 1) < 1e-6 || qAbs(mantissa - 2) < 1e-6 ||
                 qAbs(mantissa - 2.5) < 1e-6 || qAbs(mantissa - 10) < 1e-6 ||
                 qAbs(mantissa - 5) < 1e-6,
             qPrintable(QString::number(step)));
    QVERIFY(std::fabs(y->getMinValue() / step - std::round(y->getMinValue() / step)) < 1e-6);
    QVERIFY(CXYChart_getYCoor(c.get(), majors[0], nullptr) -
                CXYChart_getYCoor(c.get(), majors[1], nullptr) >=
            30);
    for (const Axis::Tick& tick : y->ticks())
        QVERIFY(!tick.label.startsWith(QLatin1String("-0")) || tick.value < 0);
}

void TstChartRender::encodedBytesDecodeToTheSameImage_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("code 4, raw image") << int(Chart::RawImage);
    QTest::newRow("BMP") << int(Chart::BMP);
    QTest::newRow("PNG") << int(Chart::PNG);
}

// Fault caught: format code 4 (or another format) giving bytes QPixmap cannot read, or other
// pixels.
void TstChartRender::encodedBytesDecodeToTheSameImage()
{
    QFETCH(int, format);
    double t[N], v[N];
    ramp(t, v, 10);
    ChartPtr c = makeChart(t, v, 2400);
    const char* data = nullptr;
    int length = 0;
    QVERIFY(CBaseChart_makeChart2(c.get(), format, &data, &length));
    QPixmap pixmap;
    QVERIFY(pixmap.loadFromData(reinterpret_cast<const uchar*>(data), uint(length)));
    QCOMPARE(pixmap.size(), QSize(CBaseChart_getWidth(c.get()), CBaseChart_getHeight(c.get())));
    QCOMPARE(pixmap.toImage().convertToFormat(QImage::Format_RGB32),
             c->makeImage().convertToFormat(QImage::Format_RGB32));
}

void TstChartRender::transparentChartKeepsAlpha_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("code 4, raw image") << int(Chart::RawImage);
    QTest::newRow("BMP falls back to PNG") << int(Chart::BMP);
}

// Fault caught: a transparent chart background turned opaque by the fast encoding.
void TstChartRender::transparentChartKeepsAlpha()
{
    QFETCH(int, format);
    ChartPtr c(CXYChart_create(100, 50, Chart::Transparent, Chart::Transparent, 0));
    CXYChart_setPlotArea(c.get(), 10, 10, 80, 30, 0x0000FF, -1, -1, Chart::Transparent,
                         Chart::Transparent);
    const char* data = nullptr;
    int length = 0;
    QVERIFY(CBaseChart_makeChart2(c.get(), format, &data, &length));
    QImage img;
    QVERIFY(img.loadFromData(reinterpret_cast<const uchar*>(data), length));
    QVERIFY(img.hasAlphaChannel());
    QCOMPARE(qAlpha(img.pixel(3, 3)), 0);
    QCOMPARE(img.pixel(50, 25), qRgba(0, 0, 255, 255));
}

void TstChartRender::damagedRawImageIsRefused_data()
{
    QTest::addColumn<int>("offset"); // byte to overwrite, or -1 to cut the data short
    QTest::addColumn<quint32>("value");
    QTest::newRow("cut short") << -1 << 0u;
    QTest::newRow("huge width") << 8 << 0x7FFFFFFFu;
    QTest::newRow("zero height") << 12 << 0u;
    QTest::newRow("unknown pixel format") << 16 << 9u;
    QTest::newRow("row length disagrees") << 20 << 12u;
}

// Fault caught: a damaged chart image read past its data or allocating what its header claims.
void TstChartRender::damagedRawImageIsRefused()
{
    QFETCH(int, offset);
    QFETCH(quint32, value);
    ChartPtr c(CXYChart_create(64, 32, 0x808080, Chart::Transparent, 0));
    QByteArray bytes = c->makeChart2(Chart::RawImage);
    QPixmap good;
    QVERIFY(good.loadFromData(bytes));
    if (offset < 0) {
        bytes.chop(100);
    } else {
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = char(value >> (8 * i));
    }
    QPixmap pixmap;
    QVERIFY(!pixmap.loadFromData(bytes));
    QVERIFY(pixmap.isNull());
}

void TstChartRender::reusedBuffersCarryNothingOver_data()
{
    QTest::addColumn<int>("background");
    QTest::newRow("opaque") << 0x202020;
    QTest::newRow("transparent") << Chart::Transparent;
}

// Fault caught: a recycled image or byte buffer showing the previous chart's pixels.
void TstChartRender::reusedBuffersCarryNothingOver()
{
    QFETCH(int, background);
    const ChartBufferPool pool;
    for (int round = 0; round < 3; ++round) {
        // A chart full of red, deleted: its buffers go to the spares.
        ChartPtr first(CXYChart_create(200, 100, background, Chart::Transparent, 0));
        CBaseChart_setBufferPool(first.get(), &pool);
        CXYChart_setPlotArea(first.get(), 0, 0, 199, 99, 0xFF0000, -1, Chart::Transparent,
                             Chart::Transparent, Chart::Transparent);
        DrawArea* d = CBaseChart_initDynamicLayer(first.get());
        CDrawArea_circle(d, 100, 50, 30, 30, 0x00FF00, 0x00FF00);
        QVERIFY(!render(first.get()).isNull());
        first.reset();
        // The next chart of the same size has nothing in it but its background.
        ChartPtr second(CXYChart_create(200, 100, background, Chart::Transparent, 0));
        CBaseChart_setBufferPool(second.get(), &pool);
        const char* data = nullptr;
        int length = 0;
        QVERIFY(CBaseChart_makeChart2(second.get(), Chart::RawImage, &data, &length));
        QImage img;
        QVERIFY(img.loadFromData(reinterpret_cast<const uchar*>(data), length));
        for (int y = 0; y < 100; y += 7)
            for (int x = 0; x < 200; x += 7) {
                const QRgb p = img.pixel(x, y);
                if (background == Chart::Transparent)
                    QCOMPARE(qAlpha(p), 0);
                else
                    QCOMPARE(p & 0xFFFFFF, 0x202020u);
            }
    }
}

// Fault caught: spare buffers shared by every chart of the process instead of kept by the pool
// their caller gave, or a chart's buffers lost when its pool's owner is gone first.
void TstChartRender::buffersStayWithTheirPool()
{
    double t[N], v[N];
    ramp(t, v, 10);
    auto mine = std::make_unique<ChartBufferPool>();
    const ChartBufferPool other;
    ChartPtr c = makeChart(t, v, 2400);
    CBaseChart_setBufferPool(c.get(), mine.get());
    QVERIFY(!render(c.get()).isNull());
    ChartPtr unpooled = makeChart(t, v, 2400);
    QVERIFY(!render(unpooled.get()).isNull());
    unpooled.reset();
    QCOMPARE(mine->spareCount(), 0);
    const ChartBufferPool kept = *mine; // a second owner of the same spares
    mine.reset();
    c.reset();
    QCOMPARE(kept.spareCount(), 2); // its image and its encoded bytes
    QCOMPARE(other.spareCount(), 0);
    ChartPtr next = makeChart(t, v, 2400);
    CBaseChart_setBufferPool(next.get(), &kept);
    QVERIFY(!render(next.get()).isNull());
    QCOMPARE(kept.spareCount(), 0);
}

// Fault caught: a viewer's reference to a chart dangling once the owner deletes its chart.
void TstChartRender::sharedReferenceOutlivesOwner()
{
    double t[N], v[N];
    ramp(t, v, 10);
    ChartPtr owner = makeChart(t, v, 2400);
    const QImage before = render(owner.get());
    std::unique_ptr<BaseChart, ChartDeleter> ref(CBaseChart_share(owner.get()));
    owner.reset();
    QCOMPARE(render(ref.get()), before);
}

// Fault caught: a text object drawing into a dynamic layer that was already removed.
void TstChartRender::textOutlivingItsLayerDrawsNothing()
{
    ChartPtr c(CXYChart_create(200, 100, 0xFFFFFF, Chart::Transparent, 0));
    DrawArea* d = CBaseChart_initDynamicLayer(c.get());
    TTFText* t = CDrawArea_text3(d, "<*font,bgColor=0000FF*>late<*/font*>", "arial.ttf", 8);
    CBaseChart_removeDynamicLayer(c.get());
    CTTFText_draw(t, 10, 10, 0, Chart::TopLeft);
    CTTFText_destroy(t);
    QVERIFY(boxOf(render(c.get()), qRgb(0, 0, 255)).isEmpty());
}

// Fault caught: cursor drawing leaking into the held chart image, so old cursors pile up.
void TstChartRender::dynamicLayerLeavesChartUntouched()
{
    double t[N], v[N];
    ramp(t, v, 10);
    ChartPtr c = makeChart(t, v, 2400);
    const QImage plain = render(c.get());
    DrawArea* d = CBaseChart_initDynamicLayer(c.get());
    CDrawArea_vline(d, 25, 170, 300, 0x0000FF);
    const QImage withLine = render(c.get());
    QVERIFY(withLine != plain);
    QCOMPARE(qBlue(withLine.pixel(300, 100)), 255);
    d = CBaseChart_initDynamicLayer(c.get());
    CDrawArea_vline(d, 25, 170, 400, 0x0000FF);
    const QImage moved = render(c.get());
    QVERIFY(qBlue(moved.pixel(300, 100)) < 200);
    QCOMPARE(qBlue(moved.pixel(400, 100)), 255);
    CBaseChart_removeDynamicLayer(c.get());
    QCOMPARE(render(c.get()), plain);
}

QTEST_MAIN(TstChartRender)
#include "tst_chartrender.moc"
