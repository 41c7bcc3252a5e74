#include "usersdialog.h"

#include "passwordhash.h"
#include "reasondialog.h"
#include "signaturedialog.h"
#include "signindialog.h"
#include "signinsession.h"
#include "userformdialog.h"
#include "usertablemodel.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <memory>

namespace {

using Role = AccessPolicy::Role;

const QString ManageWhat = QStringLiteral("Manage the project's users.");

// A password travels to the session's thread in one place, wiped once used or dropped.
struct Secret
{
    explicit Secret(QByteArray* password) : bytes(*password) { PasswordHash::wipe(password); }
    ~Secret() { PasswordHash::wipe(&bytes); }
    QByteArray bytes;
};

// Under access control the actor must still be an enabled Administrator when the change is
// made: another desk may have disabled them since this one last looked.
bool actorMayManage(UserDirectory& users, const QString& actor, QString* error)
{
    QVector<UserRecord> rows;
    if (!users.users(&rows, error))
        return false;
    for (const UserRecord& row : rows) {
        if (row.name.compare(actor, Qt::CaseInsensitive) != 0)
            continue;
        const auto role = AccessPolicy::roleFromText(row.role);
        if (!row.disabled && role && AccessPolicy::allows(*role, AccessPolicy::Action::ManageUsers))
            return true;
        break;
    }
    *error = QStringLiteral("\"%1\" is no longer an enabled Administrator.").arg(actor);
    return false;
}

} // namespace

UsersDialog::UsersDialog(SignInSession* session, const QString& desktopUser,
                         const Questions& questions, QWidget* parent)
    : QDialog(parent), m_session(session), m_desktopUser(desktopUser), m_questions(questions)
{
    if (!m_questions.signIn)
        m_questions.signIn = &SignInDialog::ask;
    if (!m_questions.reason)
        m_questions.reason = &ReasonDialog::ask;
    if (!m_questions.confirm)
        m_questions.confirm = [](const QString& text, QWidget* parent_) {
            return QMessageBox::question(parent_, QStringLiteral("Users"), text,
                                         QMessageBox::Yes | QMessageBox::No,
                                         QMessageBox::No) == QMessageBox::Yes;
        };
    if (!m_questions.sign)
        m_questions.sign = [](SignInSession* session_, const QString& meaning,
                              const QString& what, QWidget* parent_,
                              const Questions::SignDone& done) {
            auto* dialog = new SignatureDialog(session_, meaning, what, parent_);
            connect(dialog, &SignatureDialog::signedBy, dialog,
                    [done](const SignatureGrant& grant) { done(grant); });
            connect(dialog, &SignatureDialog::cancelled, dialog, [done] { done(std::nullopt); });
            dialog->open();
        };

    setWindowTitle(QStringLiteral("Users"));
    auto* layout = new QVBoxLayout(this);
    m_note = new QLabel(this);
    m_note->setWordWrap(true);
    layout->addWidget(m_note);
    m_model = new UserTableModel(UserTableModel::Clock(), this);
    m_view = new QTableView(this);
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_view);
    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    layout->addWidget(m_message);

    auto* row = new QHBoxLayout;
    m_add = new QPushButton(QStringLiteral("Add..."), this);
    m_disable = new QPushButton(QStringLiteral("Disable"), this);
    m_reset = new QPushButton(QStringLiteral("Reset password..."), this);
    m_role = new QPushButton(QStringLiteral("Change role..."), this);
    m_fullName = new QPushButton(QStringLiteral("Full name..."), this);
    for (QPushButton* button : {m_add, m_disable, m_reset, m_role, m_fullName}) {
        button->setAutoDefault(false);
        row->addWidget(button);
    }
    row->addStretch();
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    row->addWidget(close);
    layout->addLayout(row);

    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_add, &QPushButton::clicked, this, &UsersDialog::askAdd);
    connect(m_disable, &QPushButton::clicked, this, &UsersDialog::askDisable);
    connect(m_reset, &QPushButton::clicked, this, &UsersDialog::askReset);
    connect(m_role, &QPushButton::clicked, this, &UsersDialog::askRole);
    connect(m_fullName, &QPushButton::clicked, this, &UsersDialog::askFullName);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &UsersDialog::updateState);
    connect(m_model, &QAbstractItemModel::modelReset, this, &UsersDialog::updateState);
    connect(m_session, &SignInSession::accessControlChanged, this, &UsersDialog::updateState);
    connect(m_session, &SignInSession::userChanged, this, &UsersDialog::updateState);
    // The project closed or another opened: these are not its users.
    connect(m_session, &SignInSession::opened, this, &QDialog::reject);

    resize(720, 360);
    updateState();
}

UsersDialog::~UsersDialog() = default;

bool UsersDialog::admit()
{
    const bool admitted = !m_session->accessControlOn() ||
                          m_session->allows(AccessPolicy::Action::ManageUsers) ||
                          (m_questions.signIn(m_session, AccessPolicy::Action::ManageUsers,
                                              ManageWhat, parentWidget()) &&
                           m_session->allows(AccessPolicy::Action::ManageUsers));
    // The list is read only for whom it may be shown.
    if (admitted)
        reload();
    return admitted;
}

void UsersDialog::reload()
{
    auto rows = std::make_shared<QVector<UserRecord>>();
    QPointer<UsersDialog> self(this);
    m_session->run(
        [rows](UserDirectory& users, QString* error) {
            if (!users.users(rows.get(), error))
                return false;
            for (UserRecord& row : *rows)
                row.passwordHash.clear();
            return true;
        },
        [self, rows](bool ok, const QString& error) {
            if (!self)
                return;
            if (ok) {
                const QString selected = self->selectedName();
                self->m_model->setUsers(*rows);
                const int row = self->m_model->rowOf(selected);
                if (row >= 0)
                    self->m_view->selectRow(row);
            } else {
                self->m_message->setText(
                    QStringLiteral("The users could not be read: %1").arg(error));
            }
            emit self->usersLoaded();
        });
}

void UsersDialog::addUser(const QString& name, AccessPolicy::Role role, QByteArray password,
                          const QString& fullName)
{
    auto secret = std::make_shared<Secret>(&password);
    QString problem = UserDirectory::nameProblem(name);
    if (problem.isEmpty())
        problem = UserDirectory::fullNameProblem(fullName);
    if (problem.isEmpty())
        problem = PasswordHash::problem(secret->bytes);
    if (!problem.isEmpty()) {
        finish(false, problem, QString());
        return;
    }
    submit(
        QStringLiteral("Add the user \"%1\" as %2.").arg(name, AccessPolicy::roleText(role)),
        QStringLiteral("\"%1\" was added.").arg(name),
        [secret, name, role, fullName](UserDirectory& users, const QString& actor,
                                       const QString& reason, QString* error) {
            const bool ok = users.add(actor, name, role, secret->bytes, reason, error, fullName);
            PasswordHash::wipe(&secret->bytes);
            return ok;
        },
        role == Role::Administrator);
}

void UsersDialog::setUserDisabled(const QString& name, bool disabled)
{
    submit(
        (disabled ? QStringLiteral("Disable the user \"%1\".")
                  : QStringLiteral("Enable the user \"%1\"."))
            .arg(name),
        (disabled ? QStringLiteral("\"%1\" was disabled.") : QStringLiteral("\"%1\" was enabled."))
            .arg(name),
        [name, disabled](UserDirectory& users, const QString& actor, const QString& reason,
                         QString* error) {
            return users.setDisabled(actor, name, disabled, reason, error);
        });
}

void UsersDialog::resetPassword(const QString& name, QByteArray password)
{
    auto secret = std::make_shared<Secret>(&password);
    const QString problem = PasswordHash::problem(secret->bytes);
    if (!problem.isEmpty()) {
        finish(false, problem, QString());
        return;
    }
    submit(QStringLiteral("Reset the password of \"%1\".").arg(name),
           QStringLiteral("The password of \"%1\" was reset.").arg(name),
           [secret, name](UserDirectory& users, const QString& actor, const QString& reason,
                          QString* error) {
               const bool ok = users.resetPassword(actor, name, secret->bytes, reason, error);
               PasswordHash::wipe(&secret->bytes);
               return ok;
           });
}

void UsersDialog::changeRole(const QString& name, AccessPolicy::Role role)
{
    const QString text = AccessPolicy::roleText(role);
    submit(QStringLiteral("Make \"%1\" %2.").arg(name, text),
           QStringLiteral("\"%1\" is now %2.").arg(name, text),
           [name, role](UserDirectory& users, const QString& actor, const QString& reason,
                        QString* error) {
               return users.changeRole(actor, name, role, reason, error);
           });
}

void UsersDialog::setFullName(const QString& name, const QString& fullName)
{
    const QString problem = UserDirectory::fullNameProblem(fullName);
    if (!problem.isEmpty()) {
        finish(false, problem, QString());
        return;
    }
    submit(fullName.isEmpty()
               ? QStringLiteral("Remove the full name of \"%1\".").arg(name)
               : QStringLiteral("Give \"%1\" the full name \"%2\".").arg(name, fullName),
           QStringLiteral("The full name of \"%1\" was changed.").arg(name),
           [name, fullName](UserDirectory& users, const QString& actor, const QString& reason,
                            QString* error) {
               return users.setFullName(actor, name, fullName, reason, error);
           });
}

void UsersDialog::submit(const QString& what, const QString& done, const Change& change,
                         bool addsAdministrator)
{
    if (m_busy) {
        finish(false, QStringLiteral("The change before is still being made."), QString());
        return;
    }
    QString reason;
    if (m_session->accessControlOn()) {
        if (!m_session->allows(AccessPolicy::Action::ManageUsers) &&
            !(m_questions.signIn(m_session, AccessPolicy::Action::ManageUsers, ManageWhat, this) &&
              m_session->allows(AccessPolicy::Action::ManageUsers))) {
            finish(false, QStringLiteral("Not changed: an Administrator must be signed in."),
                   QString());
            return;
        }
        if (!m_questions.reason(what, &reason, this) || reason.isEmpty()) {
            finish(false, QStringLiteral("Not changed: a change needs a reason."), QString());
            return;
        }
        // Signed by the Administrator, as an approval of the change; nothing more can be asked
        // meanwhile.
        setBusy(true);
        m_message->setText(QStringLiteral("Waiting for the signature..."));
        QPointer<UsersDialog> self(this);
        m_questions.sign(
            m_session, signatureMeaning(),
            what + QStringLiteral("\nReason: ") + reason, this,
            [self, done, change, reason](const std::optional<SignatureGrant>& grant) {
                if (!self)
                    return;
                self->setBusy(false);
                const auto& user = self->m_session->user();
                if (!grant) {
                    self->finish(false, QStringLiteral("Not changed: the change was not signed."),
                                 QString());
                    return;
                }
                if (!user || user->name.compare(grant->signer, Qt::CaseInsensitive) != 0) {
                    self->finish(false,
                                 QStringLiteral("Not changed: signed by another user than the "
                                                "one signed in."),
                                 QString());
                    return;
                }
                self->send(done, change, true, user->name, reason, grant);
            });
        return;
    }
    if (!addsAdministrator) {
        finish(false, QStringLiteral("Access control is off: add the first Administrator."),
               QString());
        return;
    }
    if (!m_questions.confirm(
            what + QStringLiteral("\n\nThe project has no users yet: adding the first "
                                  "Administrator switches access control on for this project. "
                                  "From then on every change asks for a signed-in user whose "
                                  "role allows it, and the reason for it.\n\nSwitch access "
                                  "control on?"),
            this)) {
        finish(false, QStringLiteral("Not changed."), QString());
        return;
    }
    // Nobody can sign yet: the first Administrator's creation stays unsigned.
    send(done, change, false, m_desktopUser, QString(), std::nullopt);
}

void UsersDialog::send(const QString& done, const Change& change, bool on, const QString& actor,
                       const QString& reason, const std::optional<SignatureGrant>& grant)
{
    setBusy(true);
    m_message->setText(QStringLiteral("Saving..."));
    QPointer<UsersDialog> self(this);
    m_session->run(
        [change, on, actor, reason, grant](UserDirectory& users, QString* error) {
            // What was asked held for the state the dialog saw; another desk or the command
            // line may have changed it since.
            bool nowOn = false;
            if (!users.accessControlOn(&nowOn, error))
                return false;
            if (nowOn != on) {
                *error = nowOn ? QStringLiteral("Access control was switched on meanwhile: "
                                                "sign in and try again.")
                               : QStringLiteral("Access control is off now: try again.");
                return false;
            }
            if (on && !actorMayManage(users, actor, error))
                return false;
            if (!change(users, actor, reason, error))
                return false;
            if (!grant)
                return true;
            // Right after the change's own transaction, bound to its audit entry.
            if (users.signLastChange(grant->signer, grant->fullName, signatureMeaning(),
                                     grant->timeMs, error))
                return true;
            *error = QStringLiteral("The change was made, but its signature could not be "
                                    "written: %1")
                         .arg(*error);
            return false;
        },
        [self, done](bool ok, const QString& error) {
            if (!self)
                return;
            self->setBusy(false);
            self->finish(ok, error, done);
            self->reload();
        });
}

void UsersDialog::finish(bool ok, const QString& error, const QString& done)
{
    m_message->setStyleSheet(ok ? QString() : QStringLiteral("color: #b00020;"));
    m_message->setText(ok ? done : error);
    emit changeFinished(ok, ok ? QString() : error);
}

void UsersDialog::setBusy(bool busy)
{
    m_busy = busy;
    updateState();
}

QString UsersDialog::selectedName() const
{
    const QModelIndexList rows = m_view->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return QString();
    return m_model->users().value(rows.first().row()).name;
}

void UsersDialog::updateState()
{
    const bool on = m_session->accessControlOn();
    const auto& user = m_session->user();
    if (!on) {
        m_note->setText(QStringLiteral(
            "Access control is off: anyone at this desk may change the project, and changes "
            "are recorded in the name of the desktop account. Adding the first Administrator "
            "switches it on."));
    } else if (m_session->allows(AccessPolicy::Action::ManageUsers)) {
        m_note->setText(QStringLiteral("Signed in: %1 (%2). Each change asks for its reason and "
                                       "your signature.")
                            .arg(user->name, AccessPolicy::roleText(user->role)));
    } else {
        m_note->setText(QStringLiteral("No Administrator is signed in: a change asks for an "
                                       "Administrator's sign-in first."));
    }
    const QString selected = selectedName();
    const int row = m_model->rowOf(selected);
    const bool disabled = row >= 0 && m_model->users().at(row).disabled;
    m_disable->setText(disabled ? QStringLiteral("Enable") : QStringLiteral("Disable"));
    m_add->setText(on ? QStringLiteral("Add...")
                      : QStringLiteral("Add the first Administrator..."));
    m_add->setEnabled(!m_busy);
    for (QPushButton* button : {m_disable, m_reset, m_role, m_fullName})
        button->setEnabled(!m_busy && on && row >= 0);
}

void UsersDialog::askAdd()
{
    const bool on = m_session->accessControlOn();
    UserFormDialog form(on ? UserFormDialog::Mode::Add : UserFormDialog::Mode::FirstAdministrator,
                        QString(), on ? Role::Operator : Role::Administrator, this);
    if (form.exec() != QDialog::Accepted)
        return;
    addUser(form.name(), form.role(), form.password(), form.fullName());
}

void UsersDialog::askDisable()
{
    const int row = m_model->rowOf(selectedName());
    if (row < 0)
        return;
    const UserRecord& user = m_model->users().at(row);
    setUserDisabled(user.name, !user.disabled);
}

void UsersDialog::askReset()
{
    const QString name = selectedName();
    if (name.isEmpty())
        return;
    UserFormDialog form(UserFormDialog::Mode::ResetPassword, name, Role::Operator, this);
    if (form.exec() == QDialog::Accepted)
        resetPassword(name, form.password());
}

void UsersDialog::askRole()
{
    const int row = m_model->rowOf(selectedName());
    if (row < 0)
        return;
    const UserRecord user = m_model->users().at(row);
    const Role current = AccessPolicy::roleFromText(user.role).value_or(Role::Operator);
    UserFormDialog form(UserFormDialog::Mode::ChangeRole, user.name, current, this);
    if (form.exec() == QDialog::Accepted && form.role() != current)
        changeRole(user.name, form.role());
}

void UsersDialog::askFullName()
{
    const int row = m_model->rowOf(selectedName());
    if (row < 0)
        return;
    const UserRecord user = m_model->users().at(row);
    UserFormDialog form(UserFormDialog::Mode::ChangeFullName, user.name,
                        AccessPolicy::roleFromText(user.role).value_or(Role::Operator), this,
                        user.fullName);
    if (form.exec() == QDialog::Accepted && form.fullName() != user.fullName)
        setFullName(user.name, form.fullName());
}
