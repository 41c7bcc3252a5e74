#include "signinsession.h"

#include "audittrail.h"
#include "sqliteconnection.h"
#include "usertable.h"

#include <QDateTime>
#include <QThread>

#include <utility>

namespace {

// A user change or sign-in waits this long for another program's write lock.
constexpr int BusyTimeoutMs = 5000;

} // namespace

// Lives on the session's thread once open; only touched there.
struct SignInSession::Worker
{
    QObject context;
    SqliteConnection connection;
    std::unique_ptr<UserDirectory> users;
    QString openError;

    // The state after any work: whether access control is on, and the row of `name` if any.
    bool state(const QString& name, bool* accessControl, std::optional<UserRecord>* row)
    {
        QString error;
        if (!users || !users->accessControlOn(accessControl, &error))
            return false;
        if (name.isEmpty())
            return true;
        return UserTable::find(connection.get(), name, row, &error);
    }
};

QString SignInSession::causeText(SignOutCause cause)
{
    switch (cause) {
    case SignOutCause::User:
        return QStringLiteral("by the user");
    case SignOutCause::Idle:
        return QStringLiteral("after the idle time");
    case SignOutCause::ProjectClosed:
        return QStringLiteral("the project closed");
    }
    return QString();
}

SignInSession::SignInSession(const IdleSignOut::Clock& idleClock, QObject* parent)
    : QObject(parent), m_idle(idleClock)
{
    qRegisterMetaType<UserDirectory::SignInResult>();
    connect(&m_idle, &IdleSignOut::idle, this, [this] { signOut(SignOutCause::Idle); });
}

SignInSession::~SignInSession()
{
    close();
    for (const QPointer<QThread>& thread : std::as_const(m_ending))
        if (thread)
            thread->wait();
}

void SignInSession::post(const std::function<void(Worker&)>& job)
{
    if (!m_worker)
        return;
    std::shared_ptr<Worker> worker = m_worker;
    QMetaObject::invokeMethod(
        &worker->context, [worker, job] { job(*worker); }, Qt::QueuedConnection);
}

void SignInSession::open(const QString& databasePath)
{
    close();
    const quint64 generation = ++m_generation;
    m_ready = false;
    m_accessControl = false;
    if (databasePath.isEmpty()) {
        m_ready = true;
        emit accessControlChanged(false);
        emit opened(true, QString());
        return;
    }
    m_worker = std::make_shared<Worker>();
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("users"));
    m_worker->context.moveToThread(m_thread);
    // The context goes with the thread's end, on the thread, after the last job.
    std::shared_ptr<Worker> worker = m_worker;
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    m_thread->start();

    const UserDirectory::Clock clock = m_clock;
    const PasswordHash::Cost cost = m_cost;
    QPointer<SignInSession> self(this);
    post([self, generation, databasePath, clock, cost](Worker& w) {
        QString error;
        bool on = false;
        bool ok = UserTable::open(&w.connection, databasePath, BusyTimeoutMs, &error);
        if (ok) {
            w.users = std::make_unique<UserDirectory>(w.connection.get(), clock, cost);
            ok = w.users->accessControlOn(&on, &error);
        }
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, ok, on, error] {
                if (!self || self->m_generation != generation)
                    return;
                self->m_ready = true;
                self->m_accessControl = ok && on;
                emit self->accessControlChanged(self->m_accessControl);
                emit self->opened(ok, error);
            },
            Qt::QueuedConnection);
    });
}

void SignInSession::close()
{
    if (m_user)
        signOut(SignOutCause::ProjectClosed);
    ++m_generation;
    if (m_thread) {
        // Queued after the sign-out's entry: the connection closes once that is written.
        std::shared_ptr<Worker> worker = std::move(m_worker);
        QThread* thread = m_thread;
        QMetaObject::invokeMethod(
            &worker->context,
            [worker, thread] {
                worker->users.reset();
                worker->connection.close();
                thread->quit();
            },
            Qt::QueuedConnection);
        m_ending.append(m_thread);
        m_thread = nullptr;
    }
    m_ready = false;
    const bool wasOn = m_accessControl;
    m_accessControl = false;
    if (wasOn)
        emit accessControlChanged(false);
}

bool SignInSession::allows(AccessPolicy::Action action) const
{
    if (!m_accessControl)
        return true;
    return m_user && AccessPolicy::allows(m_user->role, action);
}

void SignInSession::signIn(const QString& name, const QByteArray& password)
{
    if (!m_worker) {
        UserDirectory::SignInResult result;
        result.message = QStringLiteral("No project is open.");
        emit signInFinished(result);
        return;
    }
    const quint64 generation = m_generation;
    QPointer<SignInSession> self(this);
    post([self, generation, name, password](Worker& w) {
        UserDirectory::SignInResult result;
        if (w.users) {
            result = w.users->signIn(name, password);
        } else {
            result.message = QStringLiteral("The users could not be read.");
        }
        bool on = false;
        std::optional<UserRecord> row;
        const bool stateOk = w.state(QString(), &on, &row);
        QByteArray wiped = password;
        PasswordHash::wipe(&wiped);
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, result, name, on, stateOk] {
                if (!self || self->m_generation != generation)
                    return;
                if (stateOk && on != self->m_accessControl) {
                    self->m_accessControl = on;
                    emit self->accessControlChanged(on);
                }
                if (result.outcome == UserDirectory::SignInResult::SignedIn) {
                    self->m_user = User{name, result.role};
                    self->m_signedOnce = false;
                    self->m_idle.signedIn();
                    emit self->userChanged();
                }
                emit self->signInFinished(result);
            },
            Qt::QueuedConnection);
    });
}

void SignInSession::sign(const QString& typedName, const QByteArray& password,
                         const SignDone& done)
{
    UserDirectory::SignInResult refusal;
    refusal.outcome = UserDirectory::SignInResult::Refused;
    if (!m_worker || !m_accessControl || !m_user) {
        refusal.message = QStringLiteral("Sign in first: a signature is given by the user "
                                         "signed in.");
        done(refusal, std::nullopt);
        return;
    }
    // The first signature of a sign-in takes both the id and the password; later ones the
    // password alone. Nobody signs for the user signed in.
    const QString name = typedName.trimmed().isEmpty() && m_signedOnce ? m_user->name
                                                                       : typedName.trimmed();
    if (name.compare(m_user->name, Qt::CaseInsensitive) != 0) {
        refusal.message = QStringLiteral("The user ID is not that of the user signed in (\"%1\").")
                              .arg(m_user->name);
        done(refusal, std::nullopt);
        return;
    }
    const quint64 generation = m_generation;
    const UserDirectory::Clock clock = m_clock;
    QPointer<SignInSession> self(this);
    post([self, generation, name, password, done, clock](Worker& w) {
        UserDirectory::SignInResult result;
        if (w.users)
            result = w.users->checkSignature(name, password);
        else
            result.message = QStringLiteral("The users could not be read.");
        std::optional<SignatureGrant> grant;
        if (result.outcome == UserDirectory::SignInResult::SignedIn) {
            const QString signer = result.name.isEmpty() ? name : result.name;
            grant = SignatureGrant{signer, signer,
                                   clock ? clock() : QDateTime::currentMSecsSinceEpoch()};
        }
        QByteArray wiped = password;
        PasswordHash::wipe(&wiped);
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, result, grant, done] {
                if (!self || self->m_generation != generation)
                    return;
                if (grant && self->m_user &&
                    self->m_user->name.compare(grant->signer, Qt::CaseInsensitive) == 0) {
                    self->m_signedOnce = true;
                    self->m_idle.activity();
                    done(result, grant);
                    return;
                }
                UserDirectory::SignInResult answer = result;
                if (grant) {
                    // Signed out meanwhile: the signature is not given.
                    answer.outcome = UserDirectory::SignInResult::Refused;
                    answer.message = QStringLiteral("Signed out meanwhile: sign in again.");
                }
                done(answer, std::nullopt);
            },
            Qt::QueuedConnection);
    });
}

void SignInSession::signOut(SignOutCause cause)
{
    if (!m_user)
        return;
    const QString name = m_user->name;
    m_user.reset();
    m_signedOnce = false;
    if (cause != SignOutCause::Idle)
        m_idle.signedOut();
    const UserDirectory::Clock clock = m_clock;
    post([name, cause, clock](Worker& w) {
        AuditEntry entry;
        entry.timeMs = clock ? clock() : QDateTime::currentMSecsSinceEpoch();
        entry.user = name;
        entry.action = signedOutAction();
        entry.object = name;
        entry.newValue = causeText(cause);
        QString error;
        if (!AuditTrail::appendCommitted(w.connection.get(), &entry, &error))
            qWarning("The sign-out could not be recorded: %s", qPrintable(error));
    });
    emit userChanged();
}

void SignInSession::run(const Work& work, const Done& done)
{
    if (!m_worker) {
        if (done)
            done(false, QStringLiteral("No project is open."));
        return;
    }
    const quint64 generation = m_generation;
    const QString name = m_user ? m_user->name : QString();
    QPointer<SignInSession> self(this);
    post([self, generation, work, done, name](Worker& w) {
        QString error;
        const bool ok = w.users ? work(*w.users, &error) : false;
        if (!w.users && error.isEmpty())
            error = QStringLiteral("The users could not be read.");
        bool on = false;
        std::optional<UserRecord> row;
        const bool stateOk = w.state(name, &on, &row);
        std::optional<User> current;
        if (row && !row->disabled)
            current = User{row->name, AccessPolicy::roleFromText(row->role)
                                          .value_or(AccessPolicy::Role::Operator)};
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, done, ok, error, stateOk, on, current] {
                if (!self || self->m_generation != generation)
                    return;
                if (stateOk)
                    self->refreshed(generation, on, current);
                if (done)
                    done(ok, error);
            },
            Qt::QueuedConnection);
    });
}

void SignInSession::refreshed(quint64 generation, bool accessControl,
                              const std::optional<User>& current)
{
    if (generation != m_generation)
        return;
    if (accessControl != m_accessControl) {
        m_accessControl = accessControl;
        emit accessControlChanged(accessControl);
    }
    if (!m_user)
        return;
    if (!current) {
        // Disabled meanwhile (or gone): not signed in any more. Recorded as a sign-out.
        signOut(SignOutCause::User);
        return;
    }
    if (current->role != m_user->role) {
        m_user->role = current->role;
        emit userChanged();
    }
}
