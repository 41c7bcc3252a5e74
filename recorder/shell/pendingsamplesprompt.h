#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class ProjectSession;

// Before a project's cycle closes: samples that failed writes left waiting get one more attempt,
// then the user chooses between trying again and discarding them, and discarding is confirmed
// once more. Never silently.
class PendingSamplesPrompt
{
public:
    // Asks the user: (icon, title, text, buttons) gives the button chosen.
    using Ask = std::function<QMessageBox::StandardButton(
        QMessageBox::Icon, const QString&, const QString&, QMessageBox::StandardButtons)>;

    // A question runs an event loop, in which the program may end and take the cycle: the
    // session's cycle is asked for afresh each time, and once `ending` says so nothing more is
    // asked.
    // A modal message box over `window`.
    static Ask messageBoxOn(QWidget* window);
    static void settle(const ProjectSession& session, const Ask& ask,
                       const std::function<bool()>& ending);
};
