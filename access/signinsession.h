#pragma once

#include "accesspolicy.h"
#include "idlesignout.h"
#include "passwordhash.h"
#include "signaturegrant.h"
#include "userdirectory.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QThread;

// Who is signed in at the recorder's desk for the open project, and the way to the project's
// users. Everything that reads or writes the users table runs on a thread of its own with a
// connection of its own: a sign-in checks a password for a third of a second and may wait on
// the file's lock, and the window must not. Results come back as signals on the thread that
// made the session (the GUI's).
//
// Each user change and sign-in is committed in its own immediate transaction, with its audit
// entry, before the answer comes: five failed sign-ins in a row count as five however fast they
// come. The recorder's writer appends after it; the chain takes one entry at a time.
//
// While no project is open, or the project has no users, access control is off.
class SignInSession : public QObject
{
    Q_OBJECT

public:
    struct User
    {
        QString name;
        AccessPolicy::Role role = AccessPolicy::Role::Operator;
    };
    enum class SignOutCause
    {
        User,         // "Sign out"
        Idle,         // no activity for the idle time
        ProjectClosed // the project closed with the user signed in
    };
    // Work on the project's users, on the session's thread; false with the reason on failure.
    using Work = std::function<bool(UserDirectory& users, QString* error)>;
    using Done = std::function<void(bool ok, const QString& error)>;

    // The texts of the sign-out entries.
    static QString signedOutAction() { return QStringLiteral("signed out"); }
    static QString causeText(SignOutCause cause);

    // `idleClock` for tests; none: a monotonic one.
    explicit SignInSession(const IdleSignOut::Clock& idleClock = IdleSignOut::Clock(),
                           QObject* parent = nullptr);
    ~SignInSession() override;

    // For tests, before open(): the directory's clock and the cost of its password hashes.
    void setClock(const UserDirectory::Clock& clock) { m_clock = clock; }
    void setCost(const PasswordHash::Cost& cost) { m_cost = cost; }

    // The users of the project whose database is at `databasePath`. Whether access control is
    // on is known once accessControlChanged() (or opened()) came; until then it reads as off
    // only if `databasePath` is empty.
    void open(const QString& databasePath);
    // An electronic signature by the signed-in user: `name` must be that user's id; empty is
    // taken for it only once passwordAloneSigns(). The password is checked on the session's
    // thread (a wrong one counts and is recorded as a failed sign-in); `done` runs on this one
    // with the outcome and, when signed, the grant.
    using SignDone = std::function<void(const UserDirectory::SignInResult& result,
                                        const std::optional<SignatureGrant>& grant)>;
    void sign(const QString& name, const QByteArray& password, const SignDone& done);
    // A signature was given since the user signed in: a later one needs the password alone.
    bool passwordAloneSigns() const { return m_signedOnce; }

    // Signs out (recorded) and ends the thread, after what it had to do.
    void close();
    bool isOpen() const { return m_thread != nullptr; }
    // True once the open() check answered (opened() was emitted).
    bool isReady() const { return m_ready; }

    bool accessControlOn() const { return m_accessControl; }
    const std::optional<User>& user() const { return m_user; }
    // True when there is nothing to ask: access control off, or a signed-in user whose role
    // allows `action`.
    bool allows(AccessPolicy::Action action) const;
    // Checks the password on the session's thread; signInFinished() tells. A user signed in
    // before stays signed in until another sign-in succeeds.
    void signIn(const QString& name, const QByteArray& password);
    // Recorded unless nobody was signed in; userChanged() follows.
    void signOut(SignOutCause cause);
    // Runs `work` on the session's thread; `done` on this one. Afterwards the signed-in user's
    // row is read again: a user disabled is signed out, a changed role takes effect.
    void run(const Work& work, const Done& done);

    // Signs out after the idle time (recorded as such). The window reports activity to it.
    IdleSignOut* idle() { return &m_idle; }

signals:
    void opened(bool ok, const QString& error);
    void accessControlChanged(bool on);
    void signInFinished(const UserDirectory::SignInResult& result);
    void userChanged();

private:
    struct Worker;
    void post(const std::function<void(Worker&)>& job);
    void refreshed(quint64 generation, bool accessControl, const std::optional<User>& current);

    UserDirectory::Clock m_clock;
    PasswordHash::Cost m_cost = PasswordHash::standard();
    QThread* m_thread = nullptr;
    // Threads of projects closed before, until they end.
    QList<QPointer<QThread>> m_ending;
    std::shared_ptr<Worker> m_worker;
    // Which open() an answer belongs to: those of a closed project are dropped.
    quint64 m_generation = 0;
    bool m_ready = false;
    bool m_accessControl = false;
    std::optional<User> m_user;
    bool m_signedOnce = false;
    IdleSignOut m_idle;
};

Q_DECLARE_METATYPE(UserDirectory::SignInResult)
