#pragma once

#include "accesspolicy.h"
#include "signaturegrant.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QTableView;
class SignInSession;
class UserDirectory;
class UserTableModel;

// "Users": the open project's users, and the changes an Administrator makes to them (add,
// disable or enable - never delete -, a new password, another role). Every read and change
// runs on the session's thread; what the users' directory refuses is shown here.
//
// While access control is off the one change possible is adding the first Administrator, made
// by the desktop account after a plain confirmation, as it switches access control on. Under
// access control each change needs a signed-in Administrator (asked for when there is none, as
// after an idle sign-out) and a reason, is made in that user's name and is signed by them
// ("approved"): the signature binds the change's audit entry, written right after it.
class UsersDialog : public QDialog
{
    Q_OBJECT

public:
    // The questions the dialog asks; tests answer them. None given: the recorder's dialogs.
    struct Questions
    {
        // True once a user allowed to do `action` is signed in.
        std::function<bool(SignInSession* session, AccessPolicy::Action action, const QString& what,
                           QWidget* parent)>
            signIn;
        std::function<bool(const QString& what, QString* reason, QWidget* parent)> reason;
        // Yes or no to `text`.
        std::function<bool(const QString& text, QWidget* parent)> confirm;
        // An electronic signature of `what` with `meaning` by the signed-in user; `done` gets
        // the grant, or nothing when it was not given. May answer later (the dialog does not
        // block).
        using SignDone = std::function<void(const std::optional<SignatureGrant>& grant)>;
        std::function<void(SignInSession* session, const QString& meaning, const QString& what,
                           QWidget* parent, const SignDone& done)>
            sign;
    };
    static QString signatureMeaning() { return QStringLiteral("approved"); }

    // `desktopUser` makes the first Administrator while access control is off.
    UsersDialog(SignInSession* session, const QString& desktopUser,
                const Questions& questions = Questions(), QWidget* parent = nullptr);
    ~UsersDialog() override;

    // Whether the dialog may be shown: under access control only to a signed-in Administrator,
    // whose sign-in is asked for first when nobody with the role is signed in. The list is read
    // once admitted.
    bool admit();

    // The changes the buttons make once their forms are filled in: checked, confirmed or
    // asked for a sign-in and a reason, then sent; changeFinished() tells how they ended.
    // The passwords are wiped once used.
    void addUser(const QString& name, AccessPolicy::Role role, QByteArray password,
                 const QString& fullName = QString());
    void setUserDisabled(const QString& name, bool disabled);
    void resetPassword(const QString& name, QByteArray password);
    void changeRole(const QString& name, AccessPolicy::Role role);
    void setFullName(const QString& name, const QString& fullName);
    // Reads the list again; usersLoaded() follows.
    void reload();

    bool isBusy() const { return m_busy; }
    UserTableModel* model() const { return m_model; }
    QTableView* view() const { return m_view; }
    QLabel* noteLabel() const { return m_note; }
    QLabel* messageLabel() const { return m_message; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* disableButton() const { return m_disable; }
    QPushButton* resetButton() const { return m_reset; }
    QPushButton* roleButton() const { return m_role; }
    QPushButton* fullNameButton() const { return m_fullName; }

signals:
    void changeFinished(bool ok, const QString& error);
    void usersLoaded();

private:
    using Change = std::function<bool(UserDirectory& users, const QString& actor,
                                      const QString& reason, QString* error)>;
    void submit(const QString& what, const QString& done, const Change& change,
                bool addsAdministrator = false);
    // Sends the change to the session's thread; with a grant, its signature follows it there.
    void send(const QString& done, const Change& change, bool on, const QString& actor,
              const QString& reason, const std::optional<SignatureGrant>& grant);
    void finish(bool ok, const QString& error, const QString& done);
    void setBusy(bool busy);
    void updateState();
    QString selectedName() const;
    void askAdd();
    void askDisable();
    void askReset();
    void askRole();
    void askFullName();

    SignInSession* m_session;
    QString m_desktopUser;
    Questions m_questions;
    UserTableModel* m_model = nullptr;
    QTableView* m_view = nullptr;
    QLabel* m_note = nullptr;
    QLabel* m_message = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_disable = nullptr;
    QPushButton* m_reset = nullptr;
    QPushButton* m_role = nullptr;
    QPushButton* m_fullName = nullptr;
    bool m_busy = false;
};
