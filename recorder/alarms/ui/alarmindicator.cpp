#include "alarmindicator.h"

#include <QContextMenuEvent>
#include <QMenu>

AlarmIndicator::AlarmIndicator(QWidget* parent) : QPushButton(parent)
{
    setObjectName(QStringLiteral("button_alarms"));
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("Show the alarms (right-click: silence the sound)"));
    setFocusPolicy(Qt::NoFocus);
    m_menu = new QMenu(this);
    for (const int minutes : silenceChoices()) {
        QAction* action =
            m_menu->addAction(QStringLiteral("Silence the sound for %1 minutes").arg(minutes));
        connect(action, &QAction::triggered, this,
                [this, minutes] { emit silenceRequested(minutes); });
    }
    updateText();
}

// Without a blocking loop: the status bar goes on updating meanwhile.
void AlarmIndicator::contextMenuEvent(QContextMenuEvent* event)
{
    m_menu->popup(event->globalPos());
    event->accept();
}

QString AlarmIndicator::countsText(int active, int unacknowledged)
{
    if (active == 0 && unacknowledged == 0)
        return QStringLiteral("No alarms");
    return QStringLiteral("Alarms: %1 active, %2 unacknowledged").arg(active).arg(unacknowledged);
}

void AlarmIndicator::setCounts(int active, int unacknowledged)
{
    m_active = active;
    m_unacknowledged = unacknowledged;
    updateText();
}

void AlarmIndicator::setPendingWrites(int count)
{
    m_pending = count;
    updateText();
}

void AlarmIndicator::updateText()
{
    const int active = m_active;
    const int unacknowledged = m_unacknowledged;
    QString text = countsText(active, unacknowledged);
    if (m_pending > 0)
        text += QStringLiteral(" (alarm log: %1 writes waiting)").arg(m_pending);
    setText(text);
    // The status bar's own colours: red as a failing write, yellow as a recording.
    const char* colour = unacknowledged > 0 || m_pending > 0 ? "rgb(200, 30, 30)"
                         : active > 0                        ? "rgb(160, 110, 0)"
                                                             : "rgb(100, 100, 100)";
    setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px 4px; color: %1; "
                                 "font-family: \"Segoe UI\"; font-size: 9pt; font-weight: %2; }")
                      .arg(QLatin1String(colour), unacknowledged > 0 || m_pending > 0
                                                      ? QStringLiteral("bold")
                                                      : QStringLiteral("normal")));
}
