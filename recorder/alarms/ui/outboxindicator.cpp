#include "outboxindicator.h"

#include <QTextDocument>

namespace {

// Room for the answer beside the alarm counts in the status bar of a 1024-pixel window; the
// whole answer is in the tool tip.
constexpr int ShownAnswerLength = 28;

} // namespace

OutboxIndicator::OutboxIndicator(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("label_outbox_state"));
    // The text quotes a server's answer: markup in it (a status line with <b>) is shown as sent.
    setTextFormat(Qt::PlainText);
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
    setText(stateText(failing, lastError));
    // A tool tip has no plain-text mode: Qt takes anything that looks like a tag for rich text,
    // so the answer goes in as escaped rich text.
    setToolTip(lastError.isEmpty() ? QString()
                                   : Qt::convertFromPlainText(lastError, Qt::WhiteSpaceNormal));
    setVisible(failing > 0);
}
