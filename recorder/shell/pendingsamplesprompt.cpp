#include "pendingsamplesprompt.h"

#include "projectsession.h"
#include "recordingcycle.h"

void PendingSamplesPrompt::settle(const ProjectSession& session, const Ask& ask,
                                  const std::function<bool()>& ending)
{
    while (session.cycle() && !ending() && session.cycle()->pendingCount() > 0 &&
           !session.cycle()->flushAll()) {
        const QString count = QString::number(session.cycle()->pendingCount());
        if (ask(QMessageBox::Warning, QStringLiteral("WARNING"),
                count + QStringLiteral(" samples could not be stored in the database.\n"
                                       "Retry writing them, or discard them?"),
                QMessageBox::Retry | QMessageBox::Discard) != QMessageBox::Discard)
            continue;
        const bool discard = ask(QMessageBox::Question, QStringLiteral("WARNING"),
                                 QStringLiteral("Discard ") + count +
                                     QStringLiteral(" samples? They will not be stored."),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
        if (discard && session.cycle() && !ending()) {
            session.cycle()->discardPending();
            return;
        }
    }
}

PendingSamplesPrompt::Ask PendingSamplesPrompt::messageBoxOn(QWidget* window)
{
    return [window](QMessageBox::Icon icon, const QString& title, const QString& text,
                    QMessageBox::StandardButtons buttons) {
        QMessageBox box(icon, title, text, buttons, window);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    };
}
