#include "signindialog.h"

#include "signinsession.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// "a Supervisor", "an Administrator", "an Operator".
QString withArticle(AccessPolicy::Role role)
{
    const QString text = AccessPolicy::roleText(role);
    return (role == AccessPolicy::Role::Supervisor ? QStringLiteral("a ")
                                                   : QStringLiteral("an ")) +
           text;
}

} // namespace

SignInDialog::SignInDialog(SignInSession* session, std::optional<AccessPolicy::Action> action,
                           const QString& what, QWidget* parent)
    : QDialog(parent), m_session(session), m_action(action)
{
    setWindowTitle(QStringLiteral("Sign in"));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    if (!what.isEmpty()) {
        QString text = what;
        if (action && *action != AccessPolicy::Action::View)
            text += QStringLiteral("\nThis needs %1 or a role above it.")
                        .arg(withArticle(AccessPolicy::neededFor(*action)));
        auto* reasonLabel = new QLabel(text, this);
        reasonLabel->setWordWrap(true);
        layout->addWidget(reasonLabel);
    }
    auto* form = new QFormLayout;
    m_name = new QLineEdit(this);
    m_name->setMaxLength(UserDirectory::MaximumNameLength);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("User name:"), m_name);
    form->addRow(QStringLiteral("Password:"), m_password);
    layout->addLayout(form);
    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #b00020;"));
    layout->addWidget(m_message);
    auto* buttons = new QDialogButtonBox(this);
    m_signIn = buttons->addButton(QStringLiteral("Sign in"), QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
    m_signIn->setDefault(true);
    layout->addWidget(buttons);
    connect(m_signIn, &QPushButton::clicked, this, &SignInDialog::submit);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_session, &SignInSession::signInFinished, this,
            [this](const UserDirectory::SignInResult& result) {
                if (m_busy)
                    finished(int(result.outcome), result.message);
            });
    // The project closed or changed meanwhile: nothing to sign in to.
    connect(m_session, &SignInSession::opened, this, &QDialog::reject);
    connect(m_session, &SignInSession::accessControlChanged, this, [this](bool on) {
        if (!on)
            reject();
    });
    if (m_session->user())
        m_name->setText(m_session->user()->name);
    (m_name->text().isEmpty() ? m_name : m_password)->setFocus();
    setMinimumWidth(360);
}

bool SignInDialog::ask(SignInSession* session, std::optional<AccessPolicy::Action> action,
                       const QString& what, QWidget* parent)
{
    SignInDialog dialog(session, action, what, parent);
    return dialog.exec() == QDialog::Accepted;
}

void SignInDialog::setBusy(bool busy)
{
    m_busy = busy;
    m_name->setEnabled(!busy);
    m_password->setEnabled(!busy);
    m_signIn->setEnabled(!busy);
}

void SignInDialog::submit()
{
    if (m_busy)
        return;
    const QString name = m_name->text();
    if (name.trimmed().isEmpty()) {
        m_message->setText(QStringLiteral("Enter your user name."));
        m_name->setFocus();
        return;
    }
    QByteArray password = m_password->text().toUtf8();
    m_password->clear();
    setBusy(true);
    m_message->setText(QStringLiteral("Checking..."));
    m_session->signIn(name, password);
    PasswordHash::wipe(&password);
}

void SignInDialog::finished(int outcome, const QString& message)
{
    setBusy(false);
    if (outcome != int(UserDirectory::SignInResult::SignedIn)) {
        m_message->setText(message);
        m_password->setFocus();
        return;
    }
    if (m_action && !m_session->allows(*m_action)) {
        const auto& user = m_session->user();
        m_message->setText(QStringLiteral("\"%1\" is %2; this needs %3 or a role above it.")
                               .arg(user ? user->name : m_name->text(),
                                    withArticle(user ? user->role : AccessPolicy::Role::Operator),
                                    withArticle(AccessPolicy::neededFor(*m_action))));
        m_name->selectAll();
        m_name->setFocus();
        return;
    }
    accept();
}
