#include "forwardingstatus.h"

#include "forwardingdialog.h"
#include "projectforwarding.h"
#include "recorderstatusbar.h"

#include <QBoxLayout>
#include <QLabel>
#include <QTextDocument>

ForwardingStatus::ForwardingStatus(QWidget* window_, QBoxLayout* statusLayout, int position)
    : QObject(window_), window(window_), m_label(new QLabel)
{
    m_label->setObjectName(QStringLiteral("label_forwarding"));
    m_label->setTextFormat(Qt::PlainText);
    statusLayout->insertWidget(position, m_label);
    m_label->hide();
    // Gives way to the alarms' indicator on a small screen; the whole text is in the tool tip.
    m_label->setMinimumWidth(RecorderStatusBar::ShrunkWidth);
}

void ForwardingStatus::attach(ProjectForwarding* forwarding_)
{
    forwarding = forwarding_;
    if (forwarding)
        connect(forwarding, &ProjectForwarding::statesChanged, this, &ForwardingStatus::show);
    show();
}

void ForwardingStatus::detach()
{
    if (forwarding)
        disconnect(forwarding, nullptr, this, nullptr);
    forwarding = nullptr;
    m_label->clear();
    m_label->hide();
    emit keyProblemsChanged(QStringList());
}

void ForwardingStatus::showDialog(const QString& projectPath)
{
    if (!forwarding)
        return;
    auto* dialog = new ForwardingDialog(projectPath, forwarding, window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

// The targets' state; a failing one in the colour of the other warnings.
void ForwardingStatus::show()
{
    const QVector<ForwarderTargetState> states =
        forwarding ? forwarding->states() : QVector<ForwarderTargetState>();
    bool failing = false;
    for (const ForwarderTargetState& s : states)
        failing = failing || s.status.state == ForwardStatus::State::Failing;
    // A password that is missing or sent unencrypted is told beside the targets' state.
    const QStringList notes = forwarding ? forwarding->passwordNotes() : QStringList();
    failing = failing || !notes.isEmpty();
    m_label->setStyleSheet(failing ? QStringLiteral("color: #e67e22;") : QString());
    QString text = ProjectForwarding::summaryText(states);
    if (!text.isEmpty() && !notes.isEmpty())
        text += QStringLiteral("; ") + notes.join(QStringLiteral("; "));
    m_label->setText(text);
    // The tool tip adds each target's last error, in the server's words: plain text, whatever
    // markup a server put in it (tool tips that look like rich text are shown as such).
    QString tip = text;
    for (const ForwarderTargetState& s : states)
        if (!s.status.lastError.isEmpty())
            tip += QLatin1Char('\n') + s.name + QStringLiteral(": ") + s.status.lastError;
    m_label->setToolTip(text.isEmpty() ? QString()
                                       : Qt::convertFromPlainText(tip, Qt::WhiteSpaceNormal));
    m_label->setVisible(!text.isEmpty());
    emit keyProblemsChanged(forwarding ? forwarding->keyProblems() : QStringList());
}
