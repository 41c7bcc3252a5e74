#pragma once

#include "signaturegrant.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QDialogButtonBox;
class SignInSession;

// Asks for an electronic signature: what is signed and what the signature means, the user's id
// and password (the password alone for a later signature of the same sign-in). The password is
// checked on the session's thread; a wrong one is said in the dialog and counts as a failed
// sign-in. Shown without blocking; it deletes itself when closed.
class SignatureDialog : public QDialog
{
    Q_OBJECT

public:
    // `meaning`: "acknowledged", "shelved", ...; `what`: the record as people read it.
    SignatureDialog(SignInSession* session, const QString& meaning, const QString& what,
                    QWidget* parent = nullptr);

    // For tests: the fields.
    QLineEdit* userField() const { return m_user; }
    QLineEdit* passwordField() const { return m_password; }
    QString message() const;

signals:
    // The signature was given (the dialog closes); cancelled() otherwise.
    void signedBy(const SignatureGrant& grant);
    void cancelled();

public slots:
    void confirm();
    void reject() override;

private:
    QPointer<SignInSession> m_session;
    QString m_meaning;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLabel* m_message;
    QDialogButtonBox* m_buttons;
    bool m_busy = false;
    bool m_done = false;
};
