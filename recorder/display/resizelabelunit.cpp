#include "resizelabelunit.h"

#include "resizelabel.h"

#include <QFontMetrics>

ResizeLabelUnit::ResizeLabelUnit(QWidget *parent)
    : QLabel(parent)
{
    // Its texts come from the gateway or the project file: shown as they are, and measured by
    // the font rule as plain text.
    setTextFormat(Qt::PlainText);
}

void ResizeLabelUnit::applyFontRule()
{
    if (text().isEmpty())
        return;
    QFont f = font();
    const QSize box = QFontMetrics(f).size(0, text());
    if (ResizeLabel::scaleFont(f, ResizeLabel::fontScale(width(), height(), 0, 0, box.width(), box.height())))
        setFont(f);
}

void ResizeLabelUnit::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    applyFontRule();
}
