#include "windowfit.h"

#include <QAbstractScrollArea>
#include <QLayout>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

namespace WindowFit {

QSize smallest(QWidget* window)
{
    if (QLayout* layout = window->layout())
        layout->activate();
    return window->minimumSizeHint().expandedTo(window->minimumSize());
}

QStringList outside(QWidget* window)
{
    if (QLayout* layout = window->layout())
        layout->activate();
    QStringList found;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window) || widget->isWindow())
            continue;
        // Leaves only: a frame or a page is as far out as what it holds.
        bool leaf = true;
        for (QObject* child : widget->children()) {
            auto* w = qobject_cast<QWidget*>(child);
            if (w && !w->isWindow() && w->isVisibleTo(window)) {
                leaf = false;
                break;
            }
        }
        if (!leaf && !qobject_cast<QAbstractScrollArea*>(widget))
            continue;
        // What is cut off by the widgets around it, up to the window or a scroll area's view.
        QRect shown = widget->rect();
        QWidget* inner = widget;
        bool scrolled = false;
        for (QWidget* parent = widget->parentWidget(); parent;
             inner = parent, parent = parent->parentWidget()) {
            shown.translate(inner->pos());
            if (auto* area = qobject_cast<QAbstractScrollArea*>(parent)) {
                if (inner == area->viewport()) {
                    scrolled = true;
                    break;
                }
            }
            shown &= parent->rect();
            if (parent == window)
                break;
        }
        if (scrolled)
            continue;
        const QRect whole(widget->mapTo(window, QPoint(0, 0)), widget->size());
        if (widget->width() <= 0 || widget->height() <= 0 || shown != whole) {
            const QString name = widget->objectName().isEmpty()
                                     ? QString::fromLatin1(widget->metaObject()->className())
                                     : widget->objectName();
            found.append(QStringLiteral("%1 at %2,%3 %4x%5")
                             .arg(name)
                             .arg(whole.x())
                             .arg(whole.y())
                             .arg(whole.width())
                             .arg(whole.height()));
        }
    }
    return found;
}

void saveShot(QWidget* window, const QString& name)
{
    const QString dir = qEnvironmentVariable("QUILLMAR_GRAB_DIR");
    if (!dir.isEmpty())
        window->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

void saveShot(QWidget* window, QWidget* dialog, const QString& name)
{
    const QString dir = qEnvironmentVariable("QUILLMAR_GRAB_DIR");
    if (dir.isEmpty())
        return;
    QPixmap picture = window->grab();
    const QPixmap over = dialog->grab();
    QPainter painter(&picture);
    painter.drawPixmap((picture.width() - over.width()) / 2, (picture.height() - over.height()) / 2,
                       over);
    painter.setPen(Qt::darkGray);
    painter.drawRect((picture.width() - over.width()) / 2, (picture.height() - over.height()) / 2,
                     over.width() - 1, over.height() - 1);
    painter.end();
    picture.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace WindowFit
