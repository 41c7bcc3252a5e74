#include "axis.h"

#include "chartcore.h"
#include "chartdefs.h"
#include "charttime.h"
#include "textmarkup.h"
#include "valueformat.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// Clock steps in seconds that read naturally on a time axis.
const double DateSteps[] = {
    1,     2,     5,      10,     15,      20,      30,      60,       120,   300,
    600,   900,   1200,   1800,   3600,    7200,    10800,   14400,    21600, 28800,
    43200, 86400, 172800, 604800, 1209600, 2592000, 7776000, 31536000,
};

bool dividesEvenly(double big, double small)
{
    const double q = big / small;
    return std::fabs(q - std::round(q)) < 1e-9;
}

// A stretch of chart time over which the local clock keeps one offset from UTC.
struct OffsetPiece
{
    double start;
    double end;
    int offset;
};

// The first whole second after lo at which the local clock no longer has lo's offset, when hi
// already has another one. Clock changes fall on whole seconds.
double offsetChange(double lo, double hi, int loOffset)
{
    while (hi - lo > 0.5) {
        const double mid = (lo + hi) / 2;
        if (ChartTime::localOffset(mid) == loOffset)
            lo = mid;
        else
            hi = mid;
    }
    return std::floor(lo) + 1;
}

// [lo, hi] cut where the local clock changes its offset. Clock changes lie months apart, so one
// look a week finds each of them.
std::vector<OffsetPiece> offsetPieces(double lo, double hi)
{
    constexpr double Week = 604800;
    const double probe = std::max(Week, (hi - lo) / 2000);
    std::vector<OffsetPiece> pieces;
    double start = lo;
    int offset = ChartTime::localOffset(lo);
    for (double a = lo; a < hi;) {
        const double b = std::min(hi, a + probe);
        if (ChartTime::localOffset(b) != offset) {
            const double change = offsetChange(a, b, offset);
            pieces.push_back({start, change, offset});
            start = change;
            offset = ChartTime::localOffset(change);
        }
        a = b;
    }
    pieces.push_back({start, hi, offset});
    return pieces;
}

} // namespace

Axis::Axis(ChartCore* core, bool horizontal)
    : m_core(core), m_horizontal(horizontal), m_majorSpacing(horizontal ? 50 : 30),
      m_minorSpacing(horizontal ? 10 : 6), m_axisColor(0x000000), m_labelColor(0x000000),
      m_tickColor(Chart::DefaultColor)
{
}

void Axis::setTickDensity(int majorTickSpacing, int minorTickSpacing)
{
    m_majorSpacing = qMax(1, majorTickSpacing);
    m_minorSpacing = minorTickSpacing;
    m_core->invalidate();
}

void Axis::setWidth(int width)
{
    m_width = qMax(0, width);
    m_core->invalidate();
}

void Axis::setColors(int axisColor, int labelColor, int titleColor, int tickColor)
{
    Q_UNUSED(titleColor) // axes carry no titles here
    m_axisColor = axisColor == Chart::DefaultColor ? 0x000000 : axisColor;
    m_labelColor = labelColor == Chart::DefaultColor ? m_axisColor : labelColor;
    m_tickColor = tickColor;
    m_core->invalidate();
}

void Axis::setDateScale(double lowerLimit, double upperLimit, double majorTickInc,
                        double minorTickInc)
{
    setLinearScale(lowerLimit, upperLimit, majorTickInc, minorTickInc);
    m_dateScale = true;
}

void Axis::setLinearScale(double lowerLimit, double upperLimit, double majorTickInc,
                          double minorTickInc)
{
    m_fixedScale = std::isfinite(lowerLimit) && std::isfinite(upperLimit) &&
                   std::fabs(lowerLimit) < Chart::NoValue * 0.5 &&
                   std::fabs(upperLimit) < Chart::NoValue * 0.5;
    m_dateScale = false;
    m_lower = qMin(lowerLimit, upperLimit);
    m_upper = qMax(lowerLimit, upperLimit);
    m_majorInc = majorTickInc > 0 ? majorTickInc : 0;
    m_minorInc = minorTickInc > 0 ? minorTickInc : 0;
    m_core->invalidate();
}

void Axis::setLabelFormat(const QString& format)
{
    m_labelFormat = format;
    m_core->invalidate();
}

void Axis::setLabelFont(const QString& fontFile, double fontSize)
{
    m_labelFontFile = fontFile;
    m_labelFontSize = fontSize;
    m_core->invalidate();
}

QFont Axis::labelFont() const
{
    return TextMarkup::fontFor(m_labelFontFile, m_labelFontSize);
}

QString Axis::getFormattedLabel(double value, const QString& format) const
{
    if (format.contains(QLatin1Char('{')))
        return ValueFormat::formatTemplate(format, value, m_dateScale);
    if (format.isEmpty())
        return labelFor(value, ValueFormat::OffsetAtValue);
    return ValueFormat::formatPattern(value, format);
}

QString Axis::labelFor(double value, int utcOffset) const
{
    if (!m_labelFormat.isEmpty())
        return ValueFormat::formatTemplate(m_labelFormat, value, m_dateScale, utcOffset);
    if (m_dateScale) {
        if (m_step < 60)
            return ValueFormat::formatDate(value, QStringLiteral("hh:nn:ss"), utcOffset);
        if (m_step < 86400)
            return ValueFormat::formatDate(value, QStringLiteral("hh:nn"), utcOffset);
        return ValueFormat::formatDate(value, QStringLiteral("mmm dd"), utcOffset);
    }
    return ValueFormat::formatForStep(value, m_step);
}

void Axis::layout(double pixelStart, double pixelEnd, bool hasData, double dataMin, double dataMax)
{
    m_pixelStart = pixelStart;
    m_pixelEnd = pixelEnd;
    m_ticks.clear();
    const double length = std::fabs(pixelEnd - pixelStart);

    if (m_fixedScale) {
        m_min = m_lower;
        m_max = m_upper > m_lower ? m_upper : m_lower + 1;
        m_hasScale = true;
        if (m_dateScale)
            layoutDate(length);
        else
            layoutLinear(length);
        return;
    }
    if (!hasData) {
        layoutEmpty(length);
        return;
    }
    double lo = dataMin;
    double hi = dataMax;
    if (!(hi > lo)) {
        const double pad = qMax(1.0, std::fabs(lo) * 0.01);
        lo -= pad;
        hi += pad;
    }
    const int maxIntervals = qMax(1, int(length / m_majorSpacing));
    const double raw = (hi - lo) / maxIntervals;
    double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double multipliers[] = {1, 2, 2.5, 5};
    for (int guard = 0; guard < 40; ++guard) {
        bool found = false;
        for (double m : multipliers) {
            const double step = m * magnitude;
            if (step < raw * 0.999)
                continue;
            double first = std::floor(lo / step + 1e-9) * step;
            double last = std::ceil(hi / step - 1e-9) * step;
            // Rounding may leave an end a hair inside the data; the data must stay on the axis.
            if (first > lo)
                first -= step;
            if (last < hi)
                last += step;
            if ((last - first) / step <= maxIntervals + 1e-9) {
                m_min = first;
                m_max = last > first ? last : first + step;
                m_step = step;
                found = true;
                break;
            }
        }
        if (found)
            break;
        magnitude *= 10;
    }
    m_hasScale = true;
    layoutLinear(length);
}

void Axis::layoutLinear(double length)
{
    double step = m_fixedScale ? m_majorInc : m_step;
    if (step <= 0) {
        const int maxIntervals = qMax(1, int(length / m_majorSpacing));
        const double raw = (m_max - m_min) / maxIntervals;
        const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
        step = 10 * magnitude;
        for (double m : {1.0, 2.0, 2.5, 5.0}) {
            if (m * magnitude >= raw * 0.999) {
                step = m * magnitude;
                break;
            }
        }
    }
    m_step = step;
    const double first = std::ceil(m_min / step - 1e-9) * step;
    for (int i = 0; i < 1000; ++i) {
        const double v = first + i * step;
        if (v > m_max + step * 1e-9)
            break;
        // Snap values that rounding pushed off zero so labels never read "-0".
        const double value = std::fabs(v) < step * 1e-9 ? 0.0 : v;
        m_ticks.push_back({value, true, labelFor(value, ValueFormat::OffsetAtValue)});
    }
}

void Axis::layoutDate(double length)
{
    const double span = m_max - m_min;
    const double pixelsPerSecond = length / span;
    const QFontMetrics fm(labelFont());
    const std::vector<OffsetPiece> pieces = offsetPieces(m_min, m_max);
    double step = m_majorInc;
    if (step <= 0) {
        step = DateSteps[std::size(DateSteps) - 1];
        for (double candidate : DateSteps) {
            if (candidate * pixelsPerSecond < m_majorSpacing)
                continue;
            m_step = candidate;
            // Labels must also fit between their neighbours.
            const int labelWidth =
                fm.horizontalAdvance(labelFor(m_min + candidate, pieces.front().offset));
            if (candidate * pixelsPerSecond >= labelWidth + 8) {
                step = candidate;
                break;
            }
        }
    }
    m_step = step;
    double minorStep = m_minorInc;
    if (minorStep <= 0 && m_minorSpacing > 0) {
        for (double candidate : DateSteps) {
            if (candidate >= step)
                break;
            if (candidate * pixelsPerSecond >= m_minorSpacing && dividesEvenly(step, candidate)) {
                minorStep = candidate;
                break;
            }
        }
    }
    const double tickStep = minorStep > 0 ? minorStep : step;
    // Ticks fall on round times of the local clock: in local seconds each is a multiple of its
    // step. Where the clock goes back, the repeated times get their ticks again; where it jumps
    // ahead, the skipped times get none. Either may bring two labels closer than a step, where
    // the later one would overlap the earlier: it stays a plain tick.
    double lastMajor = -std::numeric_limits<double>::infinity();
    for (size_t p = 0; p < pieces.size(); ++p) {
        const OffsetPiece& piece = pieces[p];
        const bool last = p + 1 == pieces.size();
        double local = std::ceil((piece.start + piece.offset) / tickStep - 1e-9) * tickStep;
        for (; m_ticks.size() < 4000; local += tickStep) {
            const double v = local - piece.offset;
            if (last ? v > piece.end + 1e-6 : v >= piece.end)
                break;
            const bool major = dividesEvenly(local, step) && v - lastMajor > step - 1e-6;
            if (major)
                lastMajor = v;
            m_ticks.push_back({v, major, major ? labelFor(v, piece.offset) : QString()});
        }
    }
}

void Axis::layoutEmpty(double length)
{
    // Nothing to scale: keep an even grid without labels so the empty chart still reads as one.
    m_hasScale = false;
    m_min = 0;
    m_max = 1;
    m_step = 0;
    const int intervals = qMax(1, int(length / m_majorSpacing));
    for (int i = 0; i <= intervals; ++i)
        m_ticks.push_back({double(i) / intervals, true, QString()});
}

double Axis::toPixel(double value) const
{
    return m_pixelStart + (value - m_min) / (m_max - m_min) * (m_pixelEnd - m_pixelStart);
}

double Axis::fromPixel(double pixel) const
{
    if (m_pixelEnd == m_pixelStart)
        return m_min;
    return m_min + (pixel - m_pixelStart) / (m_pixelEnd - m_pixelStart) * (m_max - m_min);
}
