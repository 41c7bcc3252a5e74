#include "signaturedialog.h"

#include "signinsession.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

SignatureDialog::SignatureDialog(SignInSession* session, const QString& meaning,
                                 const QString& what, QWidget* parent)
    : QDialog(parent), m_session(session), m_meaning(meaning)
{
    setWindowTitle(QStringLiteral("Electronic signature"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* whatLabel = new QLabel(what, this);
    whatLabel->setWordWrap(true);
    whatLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(whatLabel);
    auto* meaningLabel = new QLabel(
        QStringLiteral("Meaning of this signature: %1").arg(meaning), this);
    QFont bold = meaningLabel->font();
    bold.setBold(true);
    meaningLabel->setFont(bold);
    layout->addWidget(meaningLabel);
    auto* binding = new QLabel(QStringLiteral("Your signature is bound to this record with your "
                                              "name, the time and its meaning, and is the "
                                              "equivalent of your handwritten signature."),
                               this);
    binding->setWordWrap(true);
    layout->addWidget(binding);
    auto* form = new QFormLayout;
    m_user = new QLineEdit(this);
    m_user->setMaxLength(UserDirectory::MaximumNameLength);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("User ID:"), m_user);
    form->addRow(QStringLiteral("Password:"), m_password);
    layout->addLayout(form);
    // A later signature of the same sign-in takes the password alone.
    if (m_session && m_session->passwordAloneSigns() && m_session->user()) {
        m_user->setText(m_session->user()->name);
        m_user->setReadOnly(true);
        m_password->setFocus();
    } else {
        m_user->setFocus();
    }
    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #b00020;"));
    layout->addWidget(m_message);
    m_buttons = new QDialogButtonBox(this);
    QPushButton* sign = m_buttons->addButton(QStringLiteral("Sign"), QDialogButtonBox::AcceptRole);
    m_buttons->addButton(QDialogButtonBox::Cancel);
    sign->setDefault(true);
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &SignatureDialog::confirm);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &SignatureDialog::reject);
    if (m_session) {
        // The project closed or changed meanwhile: nothing to sign.
        connect(m_session, &SignInSession::opened, this, &SignatureDialog::reject);
        connect(m_session, &SignInSession::userChanged, this, [this] {
            if (!m_session->user())
                reject();
        });
    }
    setMinimumWidth(400);
}

QString SignatureDialog::message() const
{
    return m_message->text();
}

void SignatureDialog::confirm()
{
    if (m_busy || !m_session)
        return;
    if (m_user->text().trimmed().isEmpty()) {
        m_message->setText(QStringLiteral("Enter your user ID."));
        m_user->setFocus();
        return;
    }
    QByteArray password = m_password->text().toUtf8();
    m_password->clear();
    m_busy = true;
    m_buttons->setEnabled(false);
    m_message->setText(QStringLiteral("Checking..."));
    QPointer<SignatureDialog> self(this);
    m_session->sign(m_user->text(), password,
                    [self](const UserDirectory::SignInResult& result,
                           const std::optional<SignatureGrant>& grant) {
                        if (!self)
                            return;
                        self->m_busy = false;
                        self->m_buttons->setEnabled(true);
                        if (!grant) {
                            self->m_message->setText(result.message);
                            self->m_password->setFocus();
                            return;
                        }
                        self->m_done = true;
                        emit self->signedBy(*grant);
                        self->QDialog::accept();
                    });
    PasswordHash::wipe(&password);
}

void SignatureDialog::reject()
{
    // Once: a dialog signed or cancelled says nothing more.
    if (!m_done) {
        m_done = true;
        emit cancelled();
    }
    QDialog::reject();
}
