#include "resizelabel.h"

#include <QFontMetrics>

#include <cmath>

namespace {

// Below this a font is unreadable and its metrics too coarse to scale back up from.
constexpr double MinimumPointSize = 1.0;

} // namespace

ResizeLabel::ResizeLabel(QWidget *parent)
    : QLabel(parent)
{
    // Its texts come from the gateway or the project file: shown as they are, and measured by
    // the font rule as plain text.
    setTextFormat(Qt::PlainText);
}

float ResizeLabel::fontScale(int width, int height, int marginX, int marginY, int tw, int th)
{
    const float kw = std::fabs(float(width - marginX) / float(tw));
    const float kh = std::fabs(float(height - marginY) / float(th));
    return kh <= kw ? kh : kw;
}

bool ResizeLabel::scaleFont(QFont &font, float k)
{
    // An empty text box (zero width or height) gives an infinite or undefined scale, and a label
    // squeezed to its margins gives zero: neither may reach the font, or it becomes unusable.
    if (!std::isfinite(k) || !(k > 0))
        return false;
    if (font.pointSizeF() > 0) {
        const double size = font.pointSizeF() * double(k);
        if (!std::isfinite(size) || size < MinimumPointSize)
            return false;
        font.setPointSizeF(size);
        return true;
    }
    // Fonts sized in pixels report no point size; scale the pixel size instead.
    const int pixels = int(std::lround(font.pixelSize() * double(k)));
    if (pixels < 1)
        return false;
    font.setPixelSize(pixels);
    return true;
}

void ResizeLabel::applyFontRule()
{
    if (text().isEmpty())
        return;
    QFont f = font();
    const QSize box = QFontMetrics(f).size(0, text());
    if (scaleFont(f, fontScale(width(), height(), 10, 8, box.width(), box.height())))
        setFont(f);
}

void ResizeLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    applyFontRule();
}
