#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class ChartCore;
class QPainter;
class TextMarkup;
class TTFText;

// A layer of drawing over the finished chart image. Calls are recorded and replayed onto a copy
// of the chart image when it is rendered, so redrawing a cursor never repaints the chart itself.
class DrawArea : public std::enable_shared_from_this<DrawArea>
{
public:
    DrawArea(ChartCore *core, int width, int height);

    int getWidth() const { return m_width; }
    int getHeight() const { return m_height; }

    // A colour id that draws lines dashed in the given pattern (see Chart::DashLine).
    int dashLineColor(int color, int pattern);
    void vline(int y1, int y2, int x, int color);
    void hline(int x1, int x2, int y, int color);
    void line(double x1, double y1, double x2, double y2, int color, int lineWidth = 1);
    void rect(int x1, int y1, int x2, int y2, int edgeColor, int fillColor);
    void circle(int cx, int cy, int rx, int ry, int edgeColor, int fillColor);
    // Mark-up text in a font file ("arial.ttf", "arialbd.ttf") and size; drawn by TTFText::draw.
    // The caller owns the result.
    TTFText *text3(const QString &text, const QString &font, double fontSize);

    void clear();
    bool isEmpty() const { return m_ops.empty(); }
    void paint(QPainter &painter) const;

    void addText(std::shared_ptr<const TextMarkup> text, int x, int y, int color);
    // The plain texts drawn so far, in order: what a reader of the finished image would see.
    QStringList texts() const { return m_texts; }

private:
    ChartCore *m_core;
    int m_width;
    int m_height;
    std::vector<std::function<void(QPainter &)>> m_ops;
    QStringList m_texts;
};
