#include "textmarkup.h"

#include "chartcolor.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

// Font sizes are points at 96 dpi, so 8 gives an 11-pixel font that stays readable on the panel.
int pixelSizeFor(double points)
{
    return qMax(1, int(std::lround(points * 4.0 / 3.0)));
}

constexpr qreal SwatchWidth = 14;

} // namespace

QFont TextMarkup::fontFor(const QString &fontFile, double fontSize)
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    const QString name = fontFile.toLower();
    QString base = name;
    if (base.endsWith(QLatin1String(".ttf")) || base.endsWith(QLatin1String(".ttc")))
        base.chop(4);
    font.setBold(base.endsWith(QLatin1String("bd")) || base.endsWith(QLatin1String("bi"))
                 || base.contains(QLatin1String("bold")));
    font.setItalic(base.endsWith(QLatin1String("i")) || base.contains(QLatin1String("italic")));
    font.setPixelSize(pixelSizeFor(fontSize));
    // Arial sets about an eighth narrower than the usual sans-serif faces; the semi-condensed
    // face keeps texts laid out for Arial widths (the panel's fixed 240-pixel slots) unclipped.
    font.setStretch(QFont::SemiCondensed);
    return font;
}

TextMarkup::TextMarkup(const QString &markup, const QString &fontFile, double fontSize)
{
    QVector<Style> stack;
    Style base;
    base.block = true;
    base.fontFile = fontFile;
    base.size = fontSize;
    stack.push_back(base);

    int pos = 0;
    while (pos < markup.size()) {
        const int open = markup.indexOf(QLatin1String("<*"), pos);
        if (open < 0) {
            addText(markup.mid(pos), stack.back());
            break;
        }
        const int close = markup.indexOf(QLatin1String("*>"), open + 2);
        if (close < 0) {
            addText(markup.mid(pos), stack.back());
            break;
        }
        if (open > pos)
            addText(markup.mid(pos, open - pos), stack.back());
        applyTag(markup.mid(open + 2, close - open - 2).trimmed(), stack);
        pos = close + 2;
    }

    const QFontMetricsF baseMetrics(fontFor(fontFile, fontSize));
    m_ascent = baseMetrics.ascent();
    qreal descent = baseMetrics.descent();
    for (const Run &run : qAsConst(m_runs)) {
        const QFontMetricsF fm(run.font);
        m_ascent = qMax(m_ascent, fm.ascent());
        descent = qMax(descent, fm.descent());
    }
    m_height = std::ceil(m_ascent + descent);
}

void TextMarkup::applyTag(const QString &tag, QVector<Style> &stack)
{
    if (tag == QLatin1String("/")) {
        if (stack.size() > 1)
            stack.pop_back();
        return;
    }
    if (tag.startsWith(QLatin1Char('/'))) {
        // A named closer ends the innermost span of that kind and everything opened inside it.
        const bool closeBlock = tag.midRef(1).trimmed() == QLatin1String("block");
        for (int i = stack.size() - 1; i > 0; --i) {
            if (stack.at(i).block == closeBlock) {
                stack.resize(i);
                break;
            }
        }
        return;
    }

    const QStringList items = tag.split(QLatin1Char(','));
    const QString head = items.value(0).trimmed();
    const QString headName = head.section(QLatin1Char('='), 0, 0).trimmed().toLower();

    if (headName == QLatin1String("swatch")) {
        Run run;
        run.swatch = ChartColor::fromHex(head.section(QLatin1Char('='), 1));
        if (!run.swatch.isValid())
            run.swatch = Qt::gray;
        run.font = fontFor(stack.back().fontFile, stack.back().size);
        run.width = SwatchWidth;
        run.x = m_width;
        m_runs.push_back(run);
        m_width += SwatchWidth;
        return;
    }
    if (headName != QLatin1String("font") && headName != QLatin1String("block"))
        return;

    if (headName == QLatin1String("font") && items.size() == 1 && !head.contains(QLatin1Char('='))) {
        // A bare "<*font*>" goes back to the style of the enclosing block.
        while (stack.size() > 1 && !stack.back().block)
            stack.pop_back();
        return;
    }

    Style style = stack.back();
    style.block = headName == QLatin1String("block");
    if (style.block)
        style.background = QColor();
    for (int i = 0; i < items.size(); ++i) {
        const QString item = items.at(i).trimmed();
        const QString key = item.section(QLatin1Char('='), 0, 0).trimmed().toLower();
        const QString value = item.section(QLatin1Char('='), 1).trimmed();
        if (!item.contains(QLatin1Char('=')))
            continue;
        if (key == QLatin1String("font"))
            style.fontFile = value;
        else if (key == QLatin1String("size"))
            style.size = value.toDouble() > 0 ? value.toDouble() : style.size;
        else if (key == QLatin1String("color"))
            style.color = ChartColor::fromHex(value);
        else if (key == QLatin1String("bgcolor"))
            style.background = ChartColor::fromHex(value);
    }
    stack.push_back(style);
}

void TextMarkup::addText(const QString &text, const Style &style)
{
    if (text.isEmpty())
        return;
    Run run;
    run.text = text;
    run.font = fontFor(style.fontFile, style.size);
    run.color = style.color;
    run.background = style.background;
    run.x = m_width;
    run.width = QFontMetricsF(run.font).horizontalAdvance(text);
    m_width += run.width;
    m_runs.push_back(run);
}

int TextMarkup::width() const
{
    return int(std::ceil(m_width));
}

int TextMarkup::height() const
{
    return int(m_height);
}

void TextMarkup::paint(QPainter &painter, int x, int y, const QColor &textColor) const
{
    for (const Run &run : m_runs) {
        const QRectF box(x + run.x, y, run.width, m_height);
        if (run.background.isValid() && run.background.alpha() > 0)
            painter.fillRect(box, run.background);
        if (run.swatch.isValid()) {
            const qreal midY = box.center().y();
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setPen(QPen(run.swatch, 2));
            painter.drawLine(QPointF(box.left() + 1, midY), QPointF(box.right() - 3, midY));
            painter.setBrush(run.swatch);
            painter.drawEllipse(QPointF(box.left() + (SwatchWidth - 2) / 2, midY), 3, 3);
            painter.restore();
            continue;
        }
        painter.setFont(run.font);
        painter.setPen(run.color.isValid() ? run.color : textColor);
        painter.drawText(QPointF(box.left(), y + m_ascent), run.text);
    }
}

QString TextMarkup::plainText() const
{
    QString out;
    for (const Run &run : m_runs)
        out += run.text;
    return out;
}
