#include "topcustomframe.h"

#include <QMouseEvent>

TopCustomFrame::TopCustomFrame(QWidget* parent) : QFrame(parent) {}

// The handlers only emit: handing the events on would let the frame's parent react as well.
void TopCustomFrame::mousePressEvent(QMouseEvent* event)
{
    emit customClick(event->globalPos());
}

void TopCustomFrame::mouseMoveEvent(QMouseEvent* event)
{
    emit customMove(event->globalPos());
}

void TopCustomFrame::mouseDoubleClickEvent(QMouseEvent* /*event*/)
{
    emit customDoubleClick();
}
