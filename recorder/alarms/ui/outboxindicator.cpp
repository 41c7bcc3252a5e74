#include "outboxindicator.h"

namespace {

// Room for the answer beside the alarm counts in the status bar of a 1024-pixel window; the
// whole answer is in the tool tip.
constexpr int ShownAnswerLength = 28;

} // namespace

OutboxIndicator::OutboxIndicator(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("label_outbox_state"));
    setStyleSheet(
        QStringLiteral("QLabel { padding: 0px 4px; color: rgb(200, 30, 30); "
                       "font-family: \"Segoe UI\"; font-size: 9pt; font-weight: bold; }"));
    hide();
}

QString OutboxIndicator::stateText(int failing, const QString& lastError)
{
    if (failing <= 0)
        return QString();
    QString text = QStringLiteral("Notifications: %1 not sent").arg(failing);
    const QString answer = lastError.simplified();
    if (!answer.isEmpty())
        text += QStringLiteral(" (") +
                (answer.size() > ShownAnswerLength
                     ? answer.left(ShownAnswerLength - 3) + QStringLiteral("...")
                     : answer) +
                QLatin1Char(')');
    return text;
}

void OutboxIndicator::setState(int failing, const QString& lastError)
{
    m_failing = failing;
    m_lastError = lastError;
    showAll();
}

void OutboxIndicator::setNote(const QString& note)
{
    m_note = note;
    showAll();
}

void OutboxIndicator::showAll()
{
    QStringList texts{stateText(m_failing, m_lastError), m_note};
    texts.removeAll(QString());
    setText(texts.join(QStringLiteral("; ")));
    QStringList tips{m_failing > 0 ? m_lastError : QString(), m_note};
    tips.removeAll(QString());
    setToolTip(tips.join(QLatin1Char('\n')));
    setVisible(!texts.isEmpty());
}
