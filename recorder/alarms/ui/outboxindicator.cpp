#include "outboxindicator.h"

#include <QTextDocument>

namespace {

// Room for the answer beside the alarm counts in the status bar of a 1024-pixel window; the
// whole answer is in the tool tip.
constexpr int ShownAnswerLength = 28;
constexpr int ShownAddressesLength = 40;

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

QString OutboxIndicator::stateText(int failing, const QString& lastError,
                                   const QStringList& refused)
{
    QStringList parts;
    if (failing > 0) {
        QString text = QStringLiteral("%1 not sent").arg(failing);
        const QString answer = lastError.simplified();
        if (!answer.isEmpty())
            text += QStringLiteral(" (") +
                    (answer.size() > ShownAnswerLength
                         ? answer.left(ShownAnswerLength - 3) + QStringLiteral("...")
                         : answer) +
                    QLatin1Char(')');
        parts << text;
    }
    if (!refused.isEmpty()) {
        const QString addresses = refused.join(QStringLiteral(", "));
        parts << QString::number(refused.size()) +
                     (refused.size() == 1 ? QStringLiteral(" recipient refused: ")
                                          : QStringLiteral(" recipients refused: ")) +
                     (addresses.size() > ShownAddressesLength
                          ? addresses.left(ShownAddressesLength - 3) + QStringLiteral("...")
                          : addresses);
    }
    return parts.isEmpty() ? QString()
                           : QStringLiteral("Notifications: ") + parts.join(QStringLiteral("; "));
}

void OutboxIndicator::setState(int failing, const QString& lastError, const QStringList& refused)
{
    m_failing = failing;
    m_lastError = lastError;
    m_refused = refused;
    showAll();
}

void OutboxIndicator::setNote(const QString& note)
{
    m_note = note;
    showAll();
}

void OutboxIndicator::showAll()
{
    QStringList texts{stateText(m_failing, m_lastError, m_refused), m_note};
    texts.removeAll(QString());
    setText(texts.join(QStringLiteral("; ")));
    QStringList tips{m_failing > 0 ? m_lastError : QString(),
                     m_refused.isEmpty()
                         ? QString()
                         : QStringLiteral("Refused: ") + m_refused.join(QStringLiteral(", ")),
                     m_note};
    tips.removeAll(QString());
    const QString tip = tips.join(QLatin1Char('\n'));
    // A tool tip has no plain-text mode: Qt takes anything that looks like a tag for rich text,
    // so the answer goes in as escaped rich text.
    setToolTip(tip.isEmpty() ? QString() : Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal));
    setVisible(!texts.isEmpty());
}
