#include "elidedlabel.h"

#include <QPainter>
#include <QStyle>

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text(), elideMode, contentsRect().width() - 2 * margin());
}

void ElidedLabel::setElideMode(Qt::TextElideMode mode)
{
    elideMode = mode;
    update();
}

void ElidedLabel::paintEvent(QPaintEvent* event)
{
    if (fontMetrics().horizontalAdvance(text()) <= contentsRect().width() - 2 * margin()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter,
                          contentsRect().adjusted(margin(), margin(), -margin(), -margin()),
                          int(alignment()), palette(), isEnabled(), shownText(), foregroundRole());
}
