#pragma once

#include "accesspolicy.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The form of a change in the Users dialog: a new user (name, full name, role, the password
// typed twice), the first Administrator (role fixed, with what that switches on), a new password
// for a user, another role, or another full name. OK is usable only once what is typed is fit
// (the name, the full name, and the password checked with PasswordHash::problem and typed the
// same twice), so nothing unfit is sent.
class UserFormDialog : public QDialog
{
    Q_OBJECT

public:
    enum class Mode
    {
        Add,
        FirstAdministrator,
        ResetPassword,
        ChangeRole,
        ChangeFullName
    };

    // `name` is the user's for a reset or a change; `role` and `fullName` the ones shown first.
    UserFormDialog(Mode mode, const QString& name, AccessPolicy::Role role,
                   QWidget* parent = nullptr, const QString& fullName = QString());
    ~UserFormDialog() override;

    QString name() const;
    AccessPolicy::Role role() const;
    QString fullName() const;
    // The password typed, in UTF-8; the caller wipes it (PasswordHash::wipe).
    QByteArray password() const;
    // What keeps OK unusable, for the person; empty when the form is fit.
    QString problem() const;

    QLineEdit* nameEdit() const { return m_name; }
    QComboBox* roleBox() const { return m_role; }
    QLineEdit* fullNameEdit() const { return m_fullName; }
    QLineEdit* passwordEdit() const { return m_password; }
    QLineEdit* repeatEdit() const { return m_repeat; }
    QLabel* problemLabel() const { return m_problem; }
    QPushButton* okButton() const { return m_ok; }

private:
    void update();

    Mode m_mode;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_fullName = nullptr;
    QComboBox* m_role = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_repeat = nullptr;
    QLabel* m_problem = nullptr;
    QPushButton* m_ok = nullptr;
};
