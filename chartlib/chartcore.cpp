#include "chartcore.h"

#include "axis.h"
#include "chartcolor.h"
#include "chartdefs.h"
#include "chartimageplugin.h"
#include "dataset.h"
#include "drawarea.h"
#include "linelayer.h"
#include "plotarea.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QPainter>
#include <QtPlugin>

#include <cmath>
#include <cstring>

namespace {

bool isValue(double v)
{
    return std::fabs(v) < Chart::NoValue * 0.5 && std::isfinite(v);
}

constexpr int TickLength = 4;

void putLE(uchar* at, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = uchar((value >> (8 * i)) & 0xFF);
}

// A 32-bit top-down BMP whose pixel rows are the image's own bytes: encoding is one copy and
// Qt's reader takes it without any decompression.
QByteArray encodeBmp(const QImage& source)
{
    const QImage img = source.format() == QImage::Format_RGB32
                           ? source
                           : source.convertToFormat(QImage::Format_RGB32);
    const int w = img.width();
    const int h = img.height();
    constexpr quint32 headerSize = 14 + 40 + 12;
    const quint32 rowBytes = quint32(w) * 4;
    const quint32 dataSize = rowBytes * quint32(h);
    uchar d[headerSize] = {};
    d[0] = 'B';
    d[1] = 'M';
    putLE(d + 2, headerSize + dataSize, 4);
    putLE(d + 10, headerSize, 4);
    putLE(d + 14, 40, 4);
    putLE(d + 18, quint32(w), 4);
    putLE(d + 22, quint32(-h), 4); // negative: rows run top to bottom
    putLE(d + 26, 1, 2);
    putLE(d + 28, 32, 2);
    putLE(d + 30, 3, 4); // bit fields
    putLE(d + 34, dataSize, 4);
    putLE(d + 38, 2835, 4);
    putLE(d + 42, 2835, 4);
    putLE(d + 54, 0x00FF0000u, 4);
    putLE(d + 58, 0x0000FF00u, 4);
    putLE(d + 62, 0x000000FFu, 4);
    QByteArray out(int(headerSize + dataSize), Qt::Uninitialized);
    std::memcpy(out.data(), d, headerSize);
    uchar* pixels = reinterpret_cast<uchar*>(out.data()) + headerSize;
    if (quint32(img.bytesPerLine()) == rowBytes) {
        std::memcpy(pixels, img.constBits(), dataSize);
    } else {
        for (int y = 0; y < h; ++y)
            std::memcpy(pixels + quint32(y) * rowBytes, img.constScanLine(y), rowBytes);
    }
    return out;
}

QByteArray encodeWithWriter(const QImage& img, const char* format, int quality)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, format, quality);
    return out;
}

} // namespace

// Registers the chart image reader wherever charts are encoded, so QPixmap reads format code 4.
Q_IMPORT_PLUGIN(ChartImagePlugin)

ChartCore::ChartCore(int width, int height, int bgColor, int edgeColor, int raisedEffect)
    : m_width(qMax(1, width)), m_height(qMax(1, height)), m_bgColor(bgColor),
      m_edgeColor(edgeColor), m_raisedEffect(raisedEffect),
      m_plotArea(std::make_unique<PlotArea>(this)), m_xAxis(std::make_unique<Axis>(this, true)),
      m_yAxis(std::make_unique<Axis>(this, false))
{
}

ChartCore::~ChartCore()
{
    m_pool.giveImage(std::move(m_base));
}

int ChartCore::linearGradientColor(int startX, int startY, int endX, int endY, int startColor,
                                   int endColor)
{
    m_gradients.push_back({QPointF(startX, startY), QPointF(endX, endY),
                           ChartColor::toQColor(startColor), ChartColor::toQColor(endColor)});
    return int(Chart::GradientColorBase | unsigned(m_gradients.size() - 1));
}

int ChartCore::dashLineColor(int color, int pattern)
{
    Dash dash;
    dash.color = ChartColor::toQColor(color);
    unsigned bits = unsigned(pattern);
    while (bits != 0) {
        dash.pattern.push_back(qMax(1u, bits & 0xFF) * 3.0);
        bits >>= 8;
    }
    if (dash.pattern.size() % 2 != 0)
        dash.pattern.push_back(dash.pattern.back());
    m_dashes.push_back(dash);
    return int(Chart::DashColorBase | unsigned(m_dashes.size() - 1));
}

QBrush ChartCore::brushFor(int color, const QColor& fallback) const
{
    const unsigned index = unsigned(color) & Chart::SpecialIndexMask;
    if (ChartColor::isGradient(color) && index < m_gradients.size()) {
        const Gradient& g = m_gradients[index];
        QLinearGradient gradient(g.start, g.end);
        gradient.setColorAt(0, g.startColor);
        gradient.setColorAt(1, g.endColor);
        return QBrush(gradient);
    }
    if (ChartColor::isDash(color) && index < m_dashes.size())
        return QBrush(m_dashes[index].color);
    return QBrush(ChartColor::toQColor(color, fallback));
}

QPen ChartCore::penFor(int color, qreal width, const QColor& fallback) const
{
    const unsigned index = unsigned(color) & Chart::SpecialIndexMask;
    if (ChartColor::isDash(color) && index < m_dashes.size()) {
        QPen pen(m_dashes[index].color, width, Qt::CustomDashLine, Qt::FlatCap);
        QVector<qreal> pattern = m_dashes[index].pattern;
        for (qreal& v : pattern)
            v /= width; // dash lengths of a QPen count in pen widths
        pen.setDashPattern(pattern);
        return pen;
    }
    return QPen(brushFor(color, fallback), width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
}

PlotArea* ChartCore::setPlotArea(int x, int y, int width, int height, int bgColor, int altBgColor,
                                 int edgeColor, int hGridColor, int vGridColor)
{
    m_plotArea->set(x, y, width, height, bgColor, altBgColor, edgeColor, hGridColor, vGridColor);
    return m_plotArea.get();
}

void ChartCore::setClipping(int margin)
{
    m_clipMargin = qMax(0, margin);
    invalidate();
}

LineLayer* ChartCore::addLineLayer(int dataCombineMethod, int depth)
{
    Q_UNUSED(dataCombineMethod) // lines are always overlaid
    Q_UNUSED(depth)             // no 3D effect is drawn
    auto layer = std::make_unique<LineLayer>(this);
    LineLayer* raw = layer.get();
    m_layers.push_back(std::move(layer));
    invalidate();
    return raw;
}

Layer* ChartCore::layerByZ(int i) const
{
    return i >= 0 && i < int(m_layers.size()) ? m_layers[size_t(i)].get() : nullptr;
}

void ChartCore::invalidate()
{
    m_laidOut = false;
    m_rendered = false;
}

bool ChartCore::collectRange(bool xRange, double* lo, double* hi) const
{
    bool any = false;
    const bool xLimited = !xRange && m_xAxis->hasScale();
    const double xMin = m_xAxis->getMinValue();
    const double xMax = m_xAxis->getMaxValue();
    for (const auto& layer : m_layers) {
        const int n = layer->sampleCount();
        for (int d = 0; d < layer->getDataSetCount(); ++d) {
            const DataSet* ds = layer->getDataSetByZ(d);
            for (int i = 0; i < n; ++i) {
                const double x = layer->xAt(i);
                const double y = ds->getValue(i);
                if (!isValue(x) || !isValue(y))
                    continue;
                // Samples scrolled out of the x range must not stretch the y axis.
                if (xLimited && (x < xMin || x > xMax))
                    continue;
                const double v = xRange ? x : y;
                if (!any) {
                    *lo = *hi = v;
                    any = true;
                } else {
                    *lo = qMin(*lo, v);
                    *hi = qMax(*hi, v);
                }
            }
        }
    }
    return any;
}

void ChartCore::layout()
{
    if (m_laidOut)
        return;
    const PlotArea* pa = m_plotArea.get();
    double lo = 0;
    double hi = 0;
    bool any = collectRange(true, &lo, &hi);
    m_xAxis->layout(pa->getLeftX(), pa->getRightX(), any, lo, hi);
    any = collectRange(false, &lo, &hi);
    m_yAxis->layout(pa->getBottomY(), pa->getTopY(), any, lo, hi);
    m_laidOut = true;
}

double ChartCore::nearestXValue(double xCoor)
{
    layout();
    double best = Chart::NoValue;
    double bestDistance = 0;
    for (const auto& layer : m_layers) {
        const int n = layer->sampleCount();
        for (int i = 0; i < n; ++i) {
            const double x = layer->xAt(i);
            if (!isValue(x))
                continue;
            const double distance = std::fabs(m_xAxis->toPixel(x) - xCoor);
            if (best == Chart::NoValue || distance < bestDistance) {
                best = x;
                bestDistance = distance;
            }
        }
    }
    return best;
}

int ChartCore::xCoor(double value)
{
    layout();
    if (!isValue(value))
        return -1;
    return int(std::lround(m_xAxis->toPixel(value)));
}

int ChartCore::yCoor(double value, Axis* yAxis)
{
    layout();
    if (!isValue(value))
        return -1;
    const Axis* axis = yAxis ? yAxis : m_yAxis.get();
    return int(std::lround(axis->toPixel(value)));
}

DrawArea* ChartCore::initDynamicLayer()
{
    if (!m_dynamic)
        m_dynamic = std::make_shared<DrawArea>(this, m_width, m_height);
    else
        m_dynamic->clear();
    return m_dynamic.get();
}

void ChartCore::removeDynamicLayer()
{
    m_dynamic.reset();
}

const QImage& ChartCore::baseImage()
{
    layout();
    if (!m_rendered) {
        const bool opaque = !ChartColor::isTransparent(m_bgColor) &&
                            !ChartColor::isGradient(m_bgColor) && (unsigned(m_bgColor) >> 24) == 0;
        const QImage::Format format =
            opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied;
        if (m_base.size() != QSize(m_width, m_height) || m_base.format() != format) {
            m_pool.giveImage(std::move(m_base));
            m_base = m_pool.takeImage(QSize(m_width, m_height), format);
        }
        render(m_base);
        m_rendered = true;
    }
    return m_base;
}

QImage ChartCore::image()
{
    const QImage& base = baseImage();
    if (!m_dynamic || m_dynamic->isEmpty())
        return base;
    QImage composed = base.copy();
    QPainter p(&composed);
    m_dynamic->paint(p);
    return composed;
}

void ChartCore::encode(int format, QByteArray& out)
{
    if (format == Chart::RawImage) {
        // The dynamic layer is painted straight into the encoded pixels: one copy of the chart
        // image per cursor update instead of two.
        const QImage& base = baseImage();
        if (out.isEmpty())
            out =
                m_pool.takeBytes(ChartImageHandler::HeaderSize + base.width() * base.height() * 4);
        ChartImageHandler::encode(base, out);
        if (m_dynamic && !m_dynamic->isEmpty()) {
            QImage pixels(reinterpret_cast<uchar*>(out.data()) + ChartImageHandler::HeaderSize,
                          base.width(), base.height(), base.width() * 4, base.format());
            QPainter p(&pixels);
            m_dynamic->paint(p);
        }
        return;
    }
    const QImage img = image();
    switch (format) {
    case Chart::BMP:
        // Transparency needs PNG; level 0 keeps it an uncompressed copy.
        out = img.hasAlphaChannel() ? encodeWithWriter(img, "PNG", 100) : encodeBmp(img);
        break;
    case Chart::JPG:
        out = encodeWithWriter(img, "JPG", 90);
        break;
    default:
        out = encodeWithWriter(img, "PNG", -1);
        break;
    }
}

QString ChartCore::chartMetrics()
{
    layout();
    const PlotArea* pa = m_plotArea.get();
    return QStringLiteral("%1,%2,%3,%4,%5,%6")
        .arg(m_width)
        .arg(m_height)
        .arg(pa->getLeftX())
        .arg(pa->getTopY())
        .arg(pa->getWidth())
        .arg(pa->getHeight());
}

void ChartCore::render(QImage& image)
{
    if (image.hasAlphaChannel())
        image.fill(Qt::transparent);
    QPainter p(&image);
    const QRect whole(0, 0, m_width, m_height);
    if (!ChartColor::isTransparent(m_bgColor))
        p.fillRect(whole, brushFor(m_bgColor, Qt::white));
    if (m_raisedEffect > 0) {
        // A light top-left and dark bottom-right rim, as wide as asked.
        const int r = qMin(m_raisedEffect, qMin(m_width, m_height) / 4);
        p.fillRect(0, 0, m_width, r, QColor(255, 255, 255, 60));
        p.fillRect(0, 0, r, m_height, QColor(255, 255, 255, 60));
        p.fillRect(0, m_height - r, m_width, r, QColor(0, 0, 0, 60));
        p.fillRect(m_width - r, 0, r, m_height, QColor(0, 0, 0, 60));
    }
    if (!ChartColor::isTransparent(m_edgeColor)) {
        p.setPen(penFor(m_edgeColor, 1));
        p.drawRect(whole.adjusted(0, 0, -1, -1));
    }

    const PlotArea* pa = m_plotArea.get();
    const QRect plot(pa->getLeftX(), pa->getTopY(), pa->getWidth() + 1, pa->getHeight() + 1);
    if (!ChartColor::isTransparent(pa->bgColor()))
        p.fillRect(plot, brushFor(pa->bgColor(), Qt::white));
    if (pa->altBgColor() != Chart::DefaultColor && !ChartColor::isTransparent(pa->altBgColor())) {
        // Alternate bands between horizontal grid lines.
        const auto& ticks = m_yAxis->ticks();
        const QBrush alt = brushFor(pa->altBgColor());
        for (int i = 0; i + 1 < ticks.size(); i += 2) {
            const int y1 = int(std::lround(m_yAxis->toPixel(ticks[i].value)));
            const int y2 = int(std::lround(m_yAxis->toPixel(ticks[i + 1].value)));
            p.fillRect(QRect(QPoint(plot.left(), qMin(y1, y2)), QPoint(plot.right(), qMax(y1, y2))),
                       alt);
        }
    }

    // Grid lines sit on pixel centres, unsmoothed, so they stay one crisp pixel wide.
    p.setRenderHint(QPainter::Antialiasing, false);
    // One-pixel rectangles blend far faster than pen lines with a translucent colour.
    if (!ChartColor::isTransparent(pa->hGridColor())) {
        const QBrush grid = brushFor(pa->hGridColor());
        for (const Axis::Tick& t : m_yAxis->ticks()) {
            if (!t.major)
                continue;
            const int y = int(std::lround(m_yAxis->toPixel(t.value)));
            if (y >= plot.top() && y <= plot.bottom())
                p.fillRect(QRect(plot.left(), y, plot.width(), 1), grid);
        }
    }
    if (!ChartColor::isTransparent(pa->vGridColor())) {
        const QBrush grid = brushFor(pa->vGridColor());
        for (const Axis::Tick& t : m_xAxis->ticks()) {
            if (!t.major)
                continue;
            const int x = int(std::lround(m_xAxis->toPixel(t.value)));
            if (x >= plot.left() && x <= plot.right())
                p.fillRect(QRect(x, plot.top(), 1, plot.height()), grid);
        }
    }
    if (!ChartColor::isTransparent(pa->edgeColor())) {
        p.setPen(penFor(pa->edgeColor(), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(plot.adjusted(0, 0, -1, -1));
    }

    p.save();
    p.setClipRect(plot.adjusted(-m_clipMargin, -m_clipMargin, m_clipMargin, m_clipMargin));
    drawLayers(p);
    p.restore();
    drawAxes(p);
}

void ChartCore::drawLayers(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    // Lines go out as separate flat-capped segments: Qt strokes a wide antialiased polyline with
    // joins several times slower, and at a few pixels per sample the joins cannot be told apart.
    QVector<QLineF> segments;
    QVector<QPointF> dots;
    for (const auto& layer : m_layers) {
        const int n = layer->sampleCount();
        const qreal width = layer->lineWidth();
        if (width <= 0)
            continue;
        for (int d = 0; d < layer->getDataSetCount(); ++d) {
            const DataSet* ds = layer->getDataSetByZ(d);
            if (ChartColor::isTransparent(ds->getDataColor()))
                continue;
            const Axis* yAxis = ds->getUseYAxis() ? ds->getUseYAxis() : m_yAxis.get();
            segments.clear();
            dots.clear();
            QPointF previous;
            int runLength = 0;
            for (int i = 0; i <= n; ++i) {
                const double x = i < n ? layer->xAt(i) : Chart::NoValue;
                const double y = i < n ? ds->getValue(i) : Chart::NoValue;
                if (!isValue(x) || !isValue(y)) {
                    // A no-value marker ends the run; a lone sample still shows, as a dot.
                    if (runLength == 1)
                        dots.push_back(previous);
                    runLength = 0;
                    continue;
                }
                const QPointF point(m_xAxis->toPixel(x), yAxis->toPixel(y));
                if (runLength > 0)
                    segments.push_back(QLineF(previous, point));
                previous = point;
                ++runLength;
            }
            QPen pen = penFor(ds->getDataColor(), width);
            pen.setCapStyle(Qt::FlatCap);
            p.setPen(pen);
            p.drawLines(segments);
            if (!dots.isEmpty()) {
                pen.setCapStyle(Qt::RoundCap);
                p.setPen(pen);
                p.drawPoints(dots.constData(), dots.size());
            }
        }
    }
    p.setRenderHint(QPainter::Antialiasing, false);
}

void ChartCore::drawAxes(QPainter& p)
{
    const PlotArea* pa = m_plotArea.get();
    const int left = pa->getLeftX();
    const int right = pa->getRightX();
    const int top = pa->getTopY();
    const int bottom = pa->getBottomY();

    for (Axis* axis : {m_xAxis.get(), m_yAxis.get()}) {
        const int w = axis->width();
        const bool horizontal = axis->isHorizontal();
        const QColor axisColor = ChartColor::toQColor(axis->axisColor());
        const QColor tickColor = axis->tickColor() == Chart::DefaultColor
                                     ? axisColor
                                     : ChartColor::toQColor(axis->tickColor());
        const QColor labelColor = ChartColor::toQColor(axis->labelColor());
        // The axis line lies just outside the plot area, so it never covers data.
        if (w > 0 && axisColor.alpha() > 0) {
            if (horizontal)
                p.fillRect(QRect(left - w, bottom + 1, right - left + 1 + w, w), axisColor);
            else
                p.fillRect(QRect(left - w, top, w, bottom - top + 1), axisColor);
        }
        const QFont font = axis->labelFont();
        const QFontMetrics fm(font);
        p.setFont(font);
        int lastLabelEnd = std::numeric_limits<int>::min();
        for (const Axis::Tick& t : axis->ticks()) {
            const int pos = int(std::lround(axis->toPixel(t.value)));
            const int length = t.major ? TickLength : TickLength / 2;
            if (horizontal) {
                if (pos < left || pos > right)
                    continue;
                if (tickColor.alpha() > 0)
                    p.fillRect(QRect(pos, bottom + 1 + w, 1, length), tickColor);
                if (t.label.isEmpty() || labelColor.alpha() == 0)
                    continue;
                const int tw = fm.horizontalAdvance(t.label);
                const int x = pos - tw / 2;
                // Labels that would be cut by the chart edge or overlap a neighbour are left out.
                if (x < 0 || x + tw > m_width || x < lastLabelEnd + 4)
                    continue;
                lastLabelEnd = x + tw;
                p.setPen(labelColor);
                p.drawText(x, bottom + 1 + w + TickLength + 1 + fm.ascent(), t.label);
            } else {
                if (pos < top || pos > bottom)
                    continue;
                if (tickColor.alpha() > 0)
                    p.fillRect(QRect(left - w - length, pos, length, 1), tickColor);
                if (t.label.isEmpty() || labelColor.alpha() == 0)
                    continue;
                const int tw = fm.horizontalAdvance(t.label);
                const int x = left - w - TickLength - 3 - tw;
                const int yTop = pos - fm.height() / 2;
                if (x < 0 || yTop < 0 || yTop + fm.height() > m_height)
                    continue;
                p.setPen(labelColor);
                p.drawText(x, yTop + fm.ascent(), t.label);
            }
        }
    }
}
