#pragma once

#include "accesspolicy.h"

#include <QDialog>
#include <QString>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class SignInSession;

// "Sign in": a user's name and password, checked by the session on its own thread while the
// window goes on. With an action it is asked for, it closes only once someone whose role
// allows the action is signed in; a user with too low a role is told which role it needs.
class SignInDialog : public QDialog
{
    Q_OBJECT

public:
    // `what` tells the person why (empty for a plain sign-in).
    SignInDialog(SignInSession* session, std::optional<AccessPolicy::Action> action,
                 const QString& what, QWidget* parent = nullptr);

    // Shows the dialog modally; true once a user allowed to do `action` is signed in.
    static bool ask(SignInSession* session, std::optional<AccessPolicy::Action> action,
                    const QString& what, QWidget* parent);

    // For tests and screenshots.
    QLineEdit* nameEdit() const { return m_name; }
    QLineEdit* passwordEdit() const { return m_password; }
    QLabel* messageLabel() const { return m_message; }
    QPushButton* signInButton() const { return m_signIn; }

private:
    void submit();
    void finished(int outcome, const QString& message);
    void setBusy(bool busy);

    SignInSession* m_session;
    std::optional<AccessPolicy::Action> m_action;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_password = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_signIn = nullptr;
    QPushButton* m_cancel = nullptr;
    bool m_busy = false;
};
