// Cost of the live chart: a full rebuild of an 800 x 400 chart with 240 samples (build, draw,
// encode, decode into a pixmap) and a track-cursor update on the held chart, against one plain
// QPainter pass drawing the same grid and polyline into a QImage, all measured in this run; and
// the rebuild without the recycled buffers of a pool, to show what the pool saves.
#include <demochart.h>

#include <axis.h>
#include <chartapi.h>
#include <chartbufferpool.h>
#include <chartcore.h>
#include <plotarea.h>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <tuple>
#include <vector>

namespace {

constexpr int HostW = 810; // the chart is 10 pixels narrower: 800 x 400
constexpr int HostH = 400;
constexpr int Interval = 10000;

// Median of repeated runs, in microseconds.
double medianUs(int runs, const std::function<void()>& body)
{
    for (int i = 0; i < 5; ++i)
        body(); // warm caches, glyphs and allocations
    std::vector<double> samples;
    samples.reserve(size_t(runs));
    QElapsedTimer timer;
    for (int i = 0; i < runs; ++i) {
        timer.start();
        body();
        samples.push_back(double(timer.nsecsElapsed()) / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

QPixmap decode(BaseChart* chart, int format)
{
    const char* data = nullptr;
    int length = 0;
    CBaseChart_makeChart2(chart, format, &data, &length);
    QPixmap pixmap;
    pixmap.loadFromData(reinterpret_cast<const uchar*>(data), uint(length));
    return pixmap;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const int runs = argc > 1 ? qMax(10, atoi(argv[1])) : 200;

    double times[DemoChart::HistoryLength];
    double values[DemoChart::HistoryLength];
    DemoChart::fillWave(times, values, 1765000000, Interval, 22.5, 2.0, -1, -1);

    // The grid and line positions of the real chart, for the baseline to draw the same things.
    XYChart* reference = DemoChart::build(HostW, HostH, times, values, 0xFF0000, "CH1", Interval);
    CBaseChart_makeChart3(reference);
    PlotArea* pa = CXYChart_getPlotArea(reference);
    const QRect plot(CPlotArea_getLeftX(pa), CPlotArea_getTopY(pa), CPlotArea_getWidth(pa),
                     CPlotArea_getHeight(pa));
    QVector<int> gridX, gridY;
    for (const Axis::Tick& t : CXYChart_xAxis(reference)->ticks())
        if (t.major)
            gridX << CXYChart_getXCoor(reference, t.value);
    for (const Axis::Tick& t : CXYChart_yAxis(reference)->ticks())
        if (t.major)
            gridY << CXYChart_getYCoor(reference, t.value, nullptr);
    QVector<QPointF> line;
    for (int i = 0; i < DemoChart::HistoryLength; ++i)
        line << QPointF(CXYChart_getXCoor(reference, times[i]),
                        CXYChart_getYCoor(reference, values[i], nullptr));

    const double baseline = medianUs(runs, [&]() {
        QImage img(HostW - 10, HostH, QImage::Format_RGB32);
        img.fill(QColor(0x59, 0x59, 0x59));
        QPainter p(&img);
        p.setPen(QColor(0x30, 0x30, 0x30, 0x7F));
        for (int x : gridX)
            p.drawLine(x, plot.top(), x, plot.bottom());
        for (int y : gridY)
            p.drawLine(plot.left(), y, plot.right(), y);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(255, 0, 0), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(line.constData(), line.size());
    });

    // A rebuild as the viewer does it: the new chart renders into the buffers of the one before,
    // through the pool the viewer gives each chart it shows; and once with fresh buffers.
    const auto rebuildWith = [&](const ChartBufferPool* pool, XYChart*& held) {
        return medianUs(runs, [&]() {
            XYChart* c = DemoChart::build(HostW, HostH, times, values, 0xFF0000, "CH1", Interval);
            CBaseChart_setBufferPool(c, pool);
            DemoChart::drawTrackCursor(c, CPlotArea_getRightX(CXYChart_getPlotArea(c)), Interval);
            const QPixmap pixmap = decode(c, Chart::RawImage);
            Q_ASSERT(pixmap.width() == HostW - 10);
            delete held;
            held = c;
        });
    };
    XYChart* unpooled = nullptr;
    const double rebuildFresh = rebuildWith(nullptr, unpooled);
    delete unpooled;
    const ChartBufferPool pool;
    XYChart* held = nullptr;
    const double rebuild = rebuildWith(&pool, held);

    int x = plot.left();
    const double cursor = medianUs(runs, [&]() {
        x = x >= plot.right() ? plot.left() : x + 3;
        DemoChart::drawTrackCursor(held, x, Interval);
        const QPixmap pixmap = decode(held, Chart::RawImage);
        Q_ASSERT(!pixmap.isNull());
    });

    // The parts of a rebuild.
    const double partBuild = medianUs(runs, [&]() {
        delete DemoChart::build(HostW, HostH, times, values, 0xFF0000, "CH1", Interval);
    });
    const double partLayout =
        medianUs(runs,
                 [&]() {
                     XYChart* c =
                         DemoChart::build(HostW, HostH, times, values, 0xFF0000, "CH1", Interval);
                     c->makeChart3();
                     delete c;
                 }) -
        partBuild;
    const double partDraw = medianUs(runs,
                                     [&]() {
                                         XYChart* c = DemoChart::build(HostW, HostH, times, values,
                                                                       0xFF0000, "CH1", Interval);
                                         c->core()->baseImage();
                                         delete c;
                                     }) -
                            partBuild - partLayout;
    const double partCursor =
        medianUs(runs, [&]() { DemoChart::drawTrackCursor(held, x, Interval); });

    // The encodings that were weighed for format code 4.
    const QImage image = held->makeImage();
    const double compose = medianUs(runs, [&]() { held->makeImage(); });
    const auto codec = [&](const char* format, int quality) {
        QByteArray bytes;
        const double encode = medianUs(runs / 4 + 10, [&]() {
            bytes.clear();
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, format, quality);
        });
        const double decodeUs = medianUs(runs / 4 + 10, [&]() {
            QPixmap p;
            p.loadFromData(bytes);
        });
        return std::make_pair(encode, decodeUs);
    };
    const auto ownFormat = [&](int format) {
        const double encode = medianUs(runs, [&]() { held->makeChart2(format); });
        const QByteArray bytes = held->makeChart2(format);
        const double decodeUs = medianUs(runs, [&]() {
            QPixmap p;
            p.loadFromData(bytes);
        });
        return std::make_tuple(encode, decodeUs, bytes.size());
    };
    const auto raw = ownFormat(Chart::RawImage);
    const auto ownBmp = ownFormat(Chart::BMP);
    const auto qtBmp = codec("BMP", -1);
    const auto png0 = codec("PNG", 100);
    const auto pngDefault = codec("PNG", -1);

    out.setRealNumberPrecision(3);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out << "chart 800 x 400, 240 samples, median of " << runs << " runs (microseconds)\n";
    out << "  baseline: plain QPainter grid + polyline     " << baseline << "\n";
    out << "  full rebuild (build, draw, encode, decode)   " << rebuild << "\n";
    out << "  full rebuild with fresh buffers (no pool)    " << rebuildFresh << "\n";
    out << "  track-cursor update on the held chart        " << cursor << "\n";
    out << "  ratio rebuild / baseline                     " << rebuild / baseline
        << "   (target <= 2.0) " << (rebuild <= 2.0 * baseline ? "met" : "NOT MET") << "\n";
    out << "  ratio rebuild / rebuild with fresh buffers   " << rebuild / rebuildFresh << "\n";
    out << "  ratio cursor / rebuild                       " << cursor / rebuild
        << "   (target <= 0.5) " << (cursor <= 0.5 * rebuild ? "met" : "NOT MET") << "\n";
    out << "parts: build " << partBuild << ", layout " << partLayout << ", draw " << partDraw
        << ", cursor drawing " << partCursor << ", compose " << compose << "\n";
    out << "format code 4 candidates (makeChart2 with the cursor overlay, or Qt's writer on the "
           "finished\n"
           "image / decode into QPixmap, microseconds):\n";
    out << "  raw chart image (chosen)  " << std::get<0>(raw) << " / " << std::get<1>(raw) << "  "
        << std::get<2>(raw) << " bytes\n";
    out << "  own 32-bit BMP            " << std::get<0>(ownBmp) << " / " << std::get<1>(ownBmp)
        << "  " << std::get<2>(ownBmp) << " bytes\n";
    out << "  Qt BMP writer             " << qtBmp.first << " / " << qtBmp.second << "\n";
    out << "  PNG level 0               " << png0.first << " / " << png0.second << "\n";
    out << "  PNG default level         " << pngDefault.first << " / " << pngDefault.second << "\n";
    out.flush();

    delete held;
    delete reference;
    return 0;
}
