#include "accessgate.h"

#include "signaturegrant.h"

#include "signinsession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

AccessGate::AccessGate(SignInSession* session) : m_session(session) {}

void AccessGate::setAsks(const AskSignIn& signIn, const AskReason& reason)
{
    m_askSignIn = signIn;
    m_askReason = reason;
}

void AccessGate::setRefusalRecorder(const RecordRefusal& record)
{
    m_recordRefusal = record;
}

QString AccessGate::actionText(AccessPolicy::Action action)
{
    using Action = AccessPolicy::Action;
    switch (action) {
    case Action::View:
        return QStringLiteral("view");
    case Action::Acknowledge:
        return QStringLiteral("acknowledge an alarm");
    case Action::ChangeLimits:
        return QStringLiteral("change the limits");
    case Action::ChangeAlarmRules:
        return QStringLiteral("change the alarm rules");
    case Action::ChangeNotifications:
        return QStringLiteral("change the notifications");
    case Action::ChangeForwarding:
        return QStringLiteral("change the forwarding");
    case Action::StartStopRecording:
        return QStringLiteral("start or stop recording");
    case Action::CloseWhileRecording:
        return QStringLiteral("close the project while recording");
    case Action::ShelveAlarms:
        return QStringLiteral("shelve alarms");
    case Action::PutOutOfService:
        return QStringLiteral("put a node out of service");
    case Action::ApproveReports:
        return QStringLiteral("approve a report");
    case Action::ReviewRecords:
        return QStringLiteral("review the records");
    case Action::RecordCalibrations:
        return QStringLiteral("record a calibration");
    case Action::RunAlarmTests:
        return QStringLiteral("test the alarms");
    case Action::ManageUsers:
        return QStringLiteral("manage users");
    case Action::ChangeGateways:
        return QStringLiteral("change the gateways");
    case Action::ChangeInterval:
        return QStringLiteral("change the interval");
    case Action::ChangeAccessControl:
        return QStringLiteral("change the access control");
    case Action::ChangeBackups:
        return QStringLiteral("change the backups");
    }
    return QStringLiteral("unknown action");
}

bool AccessGate::asksReason(AccessPolicy::Action action)
{
    return action != AccessPolicy::Action::View && action != AccessPolicy::Action::Acknowledge;
}

ProjectAudit::Actor AccessGate::deskActor() const
{
    if (!m_session->accessControlOn())
        return {ProjectAudit::desktopUser(), QString()};
    return {m_session->user() ? m_session->user()->name : notSignedIn(), QString()};
}

ProjectAudit::Actor AccessGate::currentActor() const
{
    return m_held ? *m_held : deskActor();
}

bool AccessGate::refuse(AccessPolicy::Action action, const QString& what)
{
    if (m_recordRefusal)
        m_recordRefusal(deskActor().user,
                        actionText(action) + QStringLiteral(" (needs ") +
                            AccessPolicy::roleText(AccessPolicy::neededFor(action)) +
                            QLatin1Char(')'),
                        what);
    return false;
}

bool AccessGate::authorize(AccessPolicy::Action action, const QString& what,
                           ProjectAudit::Actor* actor)
{
    ProjectAudit::Actor who;
    if (!pass(action, what, asksReason(action), &who))
        return false;
    m_held = who;
    if (actor)
        *actor = who;
    return true;
}

void AccessGate::setSignatureAsk(const AskSignature& ask)
{
    m_askSignature = ask;
}

void AccessGate::sign(AccessPolicy::Action action, const QString& meaning, const QString& what,
                      const std::function<void(const SignatureAnswer& answer)>& done)
{
    SignatureAnswer answer;
    ProjectAudit::Actor who;
    if (!pass(action, what, false, &who)) {
        done(answer);
        return;
    }
    if (!m_session->accessControlOn()) {
        answer.outcome = SignatureAnswer::Unsigned;
        done(answer);
        return;
    }
    if (!m_askSignature) {
        refuse(action, what);
        done(answer);
        return;
    }
    // The signer must still be allowed once the signature comes back: a role changed or a
    // sign-out meanwhile refuses it.
    SignInSession* session = m_session;
    const QString signedIn = who.user;
    auto recordRefusal = m_recordRefusal;
    m_askSignature(m_session, meaning, what,
                   [session, signedIn, action, what, done, recordRefusal,
                    meaning](const std::optional<SignatureGrant>& grant) {
                       SignatureAnswer result;
                       if (grant && session->allows(action) && session->user() &&
                           session->user()->name.compare(grant->signer, Qt::CaseInsensitive) ==
                               0) {
                           result.outcome = SignatureAnswer::Signed;
                           result.grant = grant;
                       } else if (recordRefusal) {
                           recordRefusal(signedIn,
                                         QStringLiteral("sign (%1): %2")
                                             .arg(meaning, grant ? QStringLiteral("not allowed")
                                                                 : QStringLiteral("cancelled")),
                                         what);
                       }
                       done(result);
                   });
}

bool AccessGate::admit(AccessPolicy::Action action, const QString& what)
{
    ProjectAudit::Actor who;
    return pass(action, what, false, &who);
}

bool AccessGate::pass(AccessPolicy::Action action, const QString& what, bool withReason,
                      ProjectAudit::Actor* who)
{
    // A project just opened: whether it has access control is known once the session's
    // thread has read its users. Asked in the event loop, as a modal dialog would.
    if (m_session->isOpen() && !m_session->isReady()) {
        // Not a nested QEventLoop: that one ends at once once the program is told to quit.
        QDeadlineTimer deadline(ReadyWaitMs);
        QTimer wake;
        wake.start(100);
        while (m_session->isOpen() && !m_session->isReady() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // Still unknown: nothing is let through on a guess.
        if (!m_session->isReady())
            return refuse(action, what);
    }
    *who = ProjectAudit::Actor{ProjectAudit::desktopUser(), QString()};
    if (m_session->accessControlOn()) {
        if (!m_session->allows(action) &&
            (!m_askSignIn || !m_askSignIn(m_session, action, what) || !m_session->allows(action)))
            return refuse(action, what);
        // A sign-in dialog answers only with someone signed in; checked again all the same.
        if (!m_session->user())
            return refuse(action, what);
        who->user = m_session->user()->name;
        if (withReason &&
            (!m_askReason || !m_askReason(what, &who->reason) || who->reason.trimmed().isEmpty()))
            return refuse(action, what);
    }
    return true;
}
