#include "userformdialog.h"

#include "passwordhash.h"
#include "userdirectory.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

using Role = AccessPolicy::Role;

QString titleOf(UserFormDialog::Mode mode)
{
    switch (mode) {
    case UserFormDialog::Mode::Add:
        return QStringLiteral("Add a user");
    case UserFormDialog::Mode::FirstAdministrator:
        return QStringLiteral("Add the first Administrator");
    case UserFormDialog::Mode::ResetPassword:
        return QStringLiteral("Reset the password");
    case UserFormDialog::Mode::ChangeRole:
        return QStringLiteral("Change the role");
    case UserFormDialog::Mode::ChangeFullName:
        return QStringLiteral("Change the full name");
    }
    return QString();
}

} // namespace

UserFormDialog::UserFormDialog(Mode mode, const QString& name, AccessPolicy::Role role,
                               QWidget* parent, const QString& fullName)
    : QDialog(parent), m_mode(mode)
{
    setWindowTitle(titleOf(mode));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    if (mode == Mode::FirstAdministrator) {
        auto* note = new QLabel(
            QStringLiteral("The project has no users yet. Adding the first Administrator switches "
                           "access control on for this project: from then on every change asks "
                           "for a signed-in user whose role allows it, and the reason for it."),
            this);
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    auto* form = new QFormLayout;
    m_name = new QLineEdit(name, this);
    m_name->setMaxLength(UserDirectory::MaximumNameLength);
    const bool naming = mode == Mode::Add || mode == Mode::FirstAdministrator;
    m_name->setReadOnly(!naming);
    form->addRow(QStringLiteral("User name:"), m_name);
    m_fullName = new QLineEdit(fullName, this);
    // One more than allowed, so that a pasted name too long is said rather than cut.
    m_fullName->setMaxLength(UserDirectory::MaximumFullNameLength + 1);
    m_fullName->setPlaceholderText(QStringLiteral("as signatures show it (optional)"));
    if (naming || mode == Mode::ChangeFullName)
        form->addRow(QStringLiteral("Full name:"), m_fullName);
    else
        m_fullName->hide();
    m_role = new QComboBox(this);
    for (Role r : {Role::Operator, Role::Supervisor, Role::Administrator})
        m_role->addItem(AccessPolicy::roleText(r), int(r));
    m_role->setCurrentIndex(m_role->findData(int(role)));
    if (mode == Mode::FirstAdministrator)
        m_role->setCurrentIndex(m_role->findData(int(Role::Administrator)));
    m_role->setEnabled(mode == Mode::Add || mode == Mode::ChangeRole);
    if (mode != Mode::ResetPassword && mode != Mode::ChangeFullName)
        form->addRow(QStringLiteral("Role:"), m_role);
    else
        m_role->hide();
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_repeat = new QLineEdit(this);
    m_repeat->setEchoMode(QLineEdit::Password);
    if (mode != Mode::ChangeRole && mode != Mode::ChangeFullName) {
        form->addRow(QStringLiteral("Password:"), m_password);
        form->addRow(QStringLiteral("Password again:"), m_repeat);
    } else {
        m_password->hide();
        m_repeat->hide();
    }
    layout->addLayout(form);
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b00020;"));
    layout->addWidget(m_problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (problem().isEmpty())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QLineEdit* edit : {m_name, m_fullName, m_password, m_repeat})
        connect(edit, &QLineEdit::textChanged, this, &UserFormDialog::update);
    connect(m_role, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &UserFormDialog::update);
    update();
    QWidget* first = naming                          ? static_cast<QWidget*>(m_name)
                     : mode == Mode::ChangeRole     ? static_cast<QWidget*>(m_role)
                     : mode == Mode::ChangeFullName ? static_cast<QWidget*>(m_fullName)
                                                    : static_cast<QWidget*>(m_password);
    first->setFocus();
    setMinimumWidth(400);
}

UserFormDialog::~UserFormDialog()
{
    // The fields' own copies go with them; nothing of the password is kept here.
    m_password->clear();
    m_repeat->clear();
}

QString UserFormDialog::name() const
{
    return m_name->text();
}

AccessPolicy::Role UserFormDialog::role() const
{
    return Role(m_role->currentData().toInt());
}

QString UserFormDialog::fullName() const
{
    return m_fullName->text();
}

QByteArray UserFormDialog::password() const
{
    return m_password->text().toUtf8();
}

QString UserFormDialog::problem() const
{
    if (m_mode == Mode::Add || m_mode == Mode::FirstAdministrator) {
        const QString nameProblem = UserDirectory::nameProblem(m_name->text());
        if (!nameProblem.isEmpty())
            return nameProblem;
    }
    if (m_mode == Mode::Add || m_mode == Mode::FirstAdministrator ||
        m_mode == Mode::ChangeFullName) {
        const QString fullNameProblem = UserDirectory::fullNameProblem(m_fullName->text());
        if (!fullNameProblem.isEmpty() || m_mode == Mode::ChangeFullName)
            return fullNameProblem;
    }
    if (m_mode == Mode::ChangeRole)
        return QString();
    QByteArray typed = password();
    const QString passwordProblem = PasswordHash::problem(typed);
    PasswordHash::wipe(&typed);
    if (!passwordProblem.isEmpty())
        return passwordProblem;
    if (m_password->text() != m_repeat->text())
        return QStringLiteral("The two passwords differ.");
    return QString();
}

void UserFormDialog::update()
{
    const QString text = problem();
    // Nothing typed yet is not a fault to point at.
    const bool untouched = m_password->text().isEmpty() && m_repeat->text().isEmpty() &&
                           (m_mode == Mode::ResetPassword || m_name->text().isEmpty());
    const bool noPassword = m_mode == Mode::ChangeRole || m_mode == Mode::ChangeFullName;
    m_problem->setText(untouched && !noPassword ? QString() : text);
    m_ok->setEnabled(text.isEmpty());
}
