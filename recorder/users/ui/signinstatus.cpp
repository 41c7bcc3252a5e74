#include "signinstatus.h"

#include "elidedlabel.h"
#include "signindialog.h"
#include "signinsession.h"

#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

SignInStatus::SignInStatus(SignInSession* session, QWidget* parent)
    : QWidget(parent), m_session(session)
{
    setObjectName(QStringLiteral("signInStatus"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* label = new ElidedLabel(this);
    m_label = label;
    m_label->setObjectName(QStringLiteral("label_signed_in"));
    m_label->setTextFormat(Qt::PlainText);
    // Gives way in a crowded status bar from the end, so that the name stays in sight; the
    // whole text in the tool tip.
    label->setElideMode(Qt::ElideRight);
    m_label->setMinimumWidth(MinimumLabelWidth);
    m_button = new QToolButton(this);
    m_button->setObjectName(QStringLiteral("button_sign_in"));
    m_button->setAutoRaise(true);
    m_button->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_label);
    layout->addWidget(m_button);
    m_ask = [](SignInSession* s, QWidget* parent_) {
        SignInDialog::ask(s, std::nullopt, QString(), parent_);
    };
    connect(m_button, &QToolButton::clicked, this, &SignInStatus::clicked);
    connect(m_session, &SignInSession::accessControlChanged, this, &SignInStatus::update);
    connect(m_session, &SignInSession::userChanged, this, &SignInStatus::update);
    // The session signs out first (it connected before); this only says why.
    connect(m_session->idle(), &IdleSignOut::idle, this, [this] {
        m_idleNote = QStringLiteral("Signed out after %1 min without input, at %2.")
                         .arg(m_session->idle()->idleMs() / 60000)
                         .arg(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm")));
        update();
    });
    qApp->installEventFilter(this);
    update();
}

SignInStatus::~SignInStatus()
{
    qApp->removeEventFilter(this);
}

bool SignInStatus::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
        // The same input reaches several objects on its way; telling twice costs nothing.
        if (m_session->user())
            m_session->idle()->activity();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void SignInStatus::update()
{
    const auto& user = m_session->user();
    if (user) {
        m_idleNote.clear();
        m_label->setText(QStringLiteral("Signed in: %1 (%2)")
                             .arg(user->name, AccessPolicy::roleText(user->role)));
        m_label->setToolTip(m_label->text());
        m_button->setText(QStringLiteral("Sign out"));
    } else {
        m_label->setText(QStringLiteral("Not signed in"));
        m_label->setToolTip(m_idleNote);
        m_button->setText(QStringLiteral("Sign in"));
    }
    setVisible(m_session->accessControlOn());
}

void SignInStatus::clicked()
{
    if (m_session->user())
        m_session->signOut(SignInSession::SignOutCause::User);
    else if (m_ask)
        m_ask(m_session, window());
}
