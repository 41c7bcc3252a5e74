#include "drawarea.h"

#include "chartcolor.h"
#include "chartcore.h"
#include "textmarkup.h"
#include "ttftext.h"

#include <QPainter>

DrawArea::DrawArea(ChartCore *core, int width, int height)
    : m_core(core)
    , m_width(width)
    , m_height(height)
{
}

int DrawArea::dashLineColor(int color, int pattern)
{
    return m_core->dashLineColor(color, pattern);
}

void DrawArea::vline(int y1, int y2, int x, int color)
{
    if (ChartColor::isTransparent(color))
        return;
    const QPen pen = m_core->penFor(color, 1);
    const QLineF line(x + 0.5, qMin(y1, y2), x + 0.5, qMax(y1, y2) + 1);
    m_ops.emplace_back([pen, line](QPainter &p) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(pen);
        p.drawLine(line);
    });
}

void DrawArea::hline(int x1, int x2, int y, int color)
{
    if (ChartColor::isTransparent(color))
        return;
    const QPen pen = m_core->penFor(color, 1);
    const QLineF line(qMin(x1, x2), y + 0.5, qMax(x1, x2) + 1, y + 0.5);
    m_ops.emplace_back([pen, line](QPainter &p) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(pen);
        p.drawLine(line);
    });
}

void DrawArea::line(double x1, double y1, double x2, double y2, int color, int lineWidth)
{
    if (ChartColor::isTransparent(color))
        return;
    const QPen pen = m_core->penFor(color, qMax(1, lineWidth));
    const QLineF segment(x1, y1, x2, y2);
    m_ops.emplace_back([pen, segment](QPainter &p) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(pen);
        p.drawLine(segment);
    });
}

void DrawArea::rect(int x1, int y1, int x2, int y2, int edgeColor, int fillColor)
{
    const QRect box = QRect(QPoint(x1, y1), QPoint(x2, y2)).normalized();
    const QBrush brush = ChartColor::isTransparent(fillColor) ? QBrush(Qt::NoBrush)
                                                              : m_core->brushFor(fillColor);
    const QPen pen = ChartColor::isTransparent(edgeColor) ? QPen(Qt::NoPen)
                                                          : m_core->penFor(edgeColor, 1);
    m_ops.emplace_back([pen, brush, box](QPainter &p) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(box, brush);
        if (pen.style() != Qt::NoPen) {
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawRect(box.adjusted(0, 0, -1, -1));
        }
    });
}

void DrawArea::circle(int cx, int cy, int rx, int ry, int edgeColor, int fillColor)
{
    const QBrush brush = ChartColor::isTransparent(fillColor) ? QBrush(Qt::NoBrush)
                                                              : m_core->brushFor(fillColor);
    const QPen pen = ChartColor::isTransparent(edgeColor) ? QPen(Qt::NoPen)
                                                          : m_core->penFor(edgeColor, 1);
    const QPointF centre(cx + 0.5, cy + 0.5);
    m_ops.emplace_back([pen, brush, centre, rx, ry](QPainter &p) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(pen);
        p.setBrush(brush);
        p.drawEllipse(centre, qreal(rx), qreal(ry));
    });
}

TTFText *DrawArea::text3(const QString &text, const QString &font, double fontSize)
{
    return new TTFText(weak_from_this(), std::make_shared<TextMarkup>(text, font, fontSize));
}

void DrawArea::clear()
{
    m_ops.clear();
    m_texts.clear();
}

void DrawArea::paint(QPainter &painter) const
{
    for (const auto &op : m_ops)
        op(painter);
}

void DrawArea::addText(std::shared_ptr<const TextMarkup> text, int x, int y, int color)
{
    const QColor textColor = ChartColor::toQColor(color, Qt::black);
    m_texts.push_back(text->plainText());
    m_ops.emplace_back([text, x, y, textColor](QPainter &p) {
        p.setRenderHint(QPainter::TextAntialiasing, true);
        text->paint(p, x, y, textColor);
    });
}
