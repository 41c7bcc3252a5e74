#pragma once

#include "accesspolicy.h"
#include "projectaudit.h"
#include "signaturegrant.h"

#include <QString>

#include <functional>
#include <optional>

class SignInSession;

// Stands before every changing action of the recorder's window and answers whether it may go
// ahead and, if so, who makes it and why. Without access control that is the desktop account,
// with no reason and nothing asked. With it, a signed-in user whose role allows the action is
// needed (a sign-in is asked for when nobody, or someone with too low a role, is signed in), and
// a reason for the change; a refusal or a cancel is recorded. The asks are the window's dialogs,
// or a test's answers.
//
// The actor authorized last is held for the change being made: the recorder's changing dialogs
// are application-modal, so one change is under way at a time, and what its dialog saves (even
// a password the secret store writes later) is recorded with that actor.
class AccessGate
{
public:
    // True once a user allowed to do `action` is signed in to `session`.
    using AskSignIn = std::function<bool(SignInSession* session, AccessPolicy::Action action,
                                         const QString& what)>;
    // True with the reason; false when cancelled.
    using AskReason = std::function<bool(const QString& what, QString* reason)>;
    // Records a refused action: who (a user's name, or notSignedIn()), the action, and what.
    using RecordRefusal =
        std::function<void(const QString& user, const QString& action, const QString& what)>;

    // How long the gate waits (in the event loop) for a session just opened to know whether
    // access control is on.
    static constexpr int ReadyWaitMs = 10000;

    // `session` outlives the gate.
    explicit AccessGate(SignInSession* session);

    // Asks for a signature (the signer's id and password, or the password alone after a first
    // signature of the same sign-in) of `what` with `meaning`; calls `done` with the grant, or
    // with none when cancelled. The window's dialog, or a test's answers.
    using SignatureDone = std::function<void(const std::optional<SignatureGrant>& grant)>;
    using AskSignature = std::function<void(SignInSession* session, const QString& meaning,
                                            const QString& what, const SignatureDone& done)>;
    struct SignatureAnswer
    {
        enum Outcome
        {
            Signed,   // under access control, `grant` holds the signer
            Unsigned, // access control is off: nothing to sign with (recorded as unsigned)
            Cancelled // the person cancelled, or was refused (recorded)
        };
        Outcome outcome = Cancelled;
        std::optional<SignatureGrant> grant;
    };

    void setAsks(const AskSignIn& signIn, const AskReason& reason);
    void setSignatureAsk(const AskSignature& ask);
    void setRefusalRecorder(const RecordRefusal& record);

    // The user of a refusal with nobody signed in.
    static QString notSignedIn() { return QStringLiteral("(not signed in)"); }
    // "change the limits", ... : the action as the audit trail names it.
    static QString actionText(AccessPolicy::Action action);
    // Whether a change under access control asks for a reason: every one but viewing and
    // acknowledging (whose comment says what was done).
    static bool asksReason(AccessPolicy::Action action);

    // Whether `action` on `what` ("Stop recording", "Change node 1001") may go ahead; if so,
    // `actor` (may be null) says who and why, and is held for the change being made.
    bool authorize(AccessPolicy::Action action, const QString& what, ProjectAudit::Actor* actor);
    // The same for opening a window whose changes each ask their own reason (the users): no
    // reason is asked and no actor held; a refusal is recorded all the same.
    bool admit(AccessPolicy::Action action, const QString& what);
    // A signed action: once `action` may go ahead (a sign-in asked for as authorize() does, no
    // reason: the signature's meaning says it), asks for a signature and calls `done` (at once
    // when access control is off or the action is refused; later, from the event loop, once
    // signed or cancelled).
    void sign(AccessPolicy::Action action, const QString& meaning, const QString& what,
              const std::function<void(const SignatureAnswer& answer)>& done);
    // The actor held is forgotten (the project closed).
    void release() { m_held.reset(); }
    // Who makes an entry now: the actor held, or else the one at the desk without a reason.
    ProjectAudit::Actor currentActor() const;
    // Who is at the desk, with no reason: the desktop account without access control, the
    // signed-in user or notSignedIn() with it.
    ProjectAudit::Actor deskActor() const;

private:
    bool refuse(AccessPolicy::Action action, const QString& what);
    bool pass(AccessPolicy::Action action, const QString& what, bool withReason,
              ProjectAudit::Actor* who);

    SignInSession* m_session;
    AskSignIn m_askSignIn;
    AskReason m_askReason;
    AskSignature m_askSignature;
    RecordRefusal m_recordRefusal;
    std::optional<ProjectAudit::Actor> m_held;
};
