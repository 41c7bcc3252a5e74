#include "userdirectory.h"

#include "audittrail.h"
#include "userchaincheck.h"
#include "usertable.h"

#include <QDateTime>

namespace {

using Role = AccessPolicy::Role;

QString localTimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString stateText(const UserRecord& row)
{
    return row.role + (row.disabled ? QStringLiteral(", disabled") : QStringLiteral(", enabled"));
}

const QString WrongNameOrPassword = QStringLiteral("The name or the password is wrong.");

} // namespace

UserDirectory::UserDirectory(SqliteHandle database, Clock c, PasswordHash::Cost hashCost)
    : db(database), clock(c ? std::move(c) : Clock(&QDateTime::currentMSecsSinceEpoch)),
      cost(hashCost)
{
    // By value, not `this`: a copied directory keeps writing to the same connection.
    writes.change = [database](UserChange* change, QString* error) {
        return UserTable::applyCommitted(database, change, error);
    };
    writes.entry = [database](AuditEntry* entry, QString* error) {
        return AuditTrail::appendCommitted(database, entry, error);
    };
}

void UserDirectory::setWrites(const Writes& w)
{
    writes = w;
}

QString UserDirectory::nameProblem(const QString& name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("A user needs a name.");
    if (name.size() > MaximumNameLength)
        return QStringLiteral("A user's name has at most %1 characters.").arg(MaximumNameLength);
    if (name.trimmed() != name)
        return QStringLiteral("A user's name does not begin or end with a space.");
    // What a finding would have to spell out is not a name.
    if (UserChainCheck::shownName(name) != name)
        return QStringLiteral("A user's name has no control characters.");
    return QString();
}

bool UserDirectory::accessControlOn(bool* on, QString* error) const
{
    UserChainCheck check;
    if (!check.load(db, error))
        return false;
    *on = check.accessControlOn();
    return true;
}

bool UserDirectory::users(QVector<UserRecord>* rows, QString* error) const
{
    return UserTable::list(db, rows, error);
}

QByteArray UserDirectory::hashOf(const QByteArray& password, QString* error) const
{
    *error = PasswordHash::problem(password);
    if (!error->isEmpty())
        return QByteArray();
    const QByteArray hash = PasswordHash::make(password, cost);
    if (hash.isEmpty())
        *error = QStringLiteral("The password could not be hashed (out of memory).");
    return hash;
}

bool UserDirectory::existing(const QString& name, UserRecord* row, QString* error) const
{
    std::optional<UserRecord> found;
    if (!UserTable::find(db, name, &found, error))
        return false;
    if (!found) {
        *error = QStringLiteral("There is no user \"%1\".").arg(name);
        return false;
    }
    *row = *found;
    return true;
}

bool UserDirectory::keepsAnAdministrator(const UserRecord& changed, QString* error) const
{
    QVector<UserRecord> rows;
    if (!UserTable::list(db, &rows, error))
        return false;
    const QString administrator = AccessPolicy::roleText(Role::Administrator);
    for (const UserRecord& row : rows) {
        const UserRecord& r =
            row.name.compare(changed.name, Qt::CaseInsensitive) == 0 ? changed : row;
        if (r.role == administrator && !r.disabled)
            return true;
    }
    *error = QStringLiteral("At least one enabled Administrator must remain.");
    return false;
}

bool UserDirectory::write(UserRecord row, const QString& actor, const QString& action,
                          const QString& oldValue, const QString& newValue, const QString& reason,
                          QString* error)
{
    UserChange change;
    change.row = std::move(row);
    change.entry.timeMs = clock();
    change.entry.user = actor;
    change.entry.action = action;
    change.entry.object = change.row.name;
    change.entry.oldValue = oldValue;
    change.entry.newValue = newValue;
    change.entry.reason = reason;
    return writes.change(&change, error);
}

bool UserDirectory::record(const QString& actor, const QString& action, const QString& object,
                           const QString& newValue, QString* error)
{
    AuditEntry entry;
    entry.timeMs = clock();
    entry.user = actor;
    entry.action = action;
    entry.object = object;
    entry.newValue = newValue;
    return writes.entry(&entry, error);
}

bool UserDirectory::add(const QString& actor, const QString& name, Role role,
                        const QByteArray& password, const QString& reason, QString* error)
{
    *error = nameProblem(name);
    if (!error->isEmpty())
        return false;
    std::optional<UserRecord> found;
    if (!UserTable::find(db, name, &found, error))
        return false;
    if (found) {
        *error = QStringLiteral("There is already a user \"%1\".").arg(found->name);
        return false;
    }
    bool on = false;
    if (!accessControlOn(&on, error))
        return false;
    if (!on && role != Role::Administrator) {
        *error = QStringLiteral("The first user must be an Administrator: adding one switches "
                                "access control on.");
        return false;
    }
    UserRecord row;
    row.name = name;
    row.role = AccessPolicy::roleText(role);
    row.passwordHash = hashOf(password, error);
    if (row.passwordHash.isEmpty())
        return false;
    return write(row, actor, UserChainCheck::actionAdded(), QString(), row.role, reason, error);
}

bool UserDirectory::setDisabled(const QString& actor, const QString& name, bool disabled,
                                const QString& reason, QString* error)
{
    UserRecord row;
    if (!existing(name, &row, error))
        return false;
    const QString before = stateText(row);
    row.disabled = disabled;
    if (disabled && !keepsAnAdministrator(row, error))
        return false;
    return write(row, actor,
                 disabled ? QStringLiteral("user disabled") : QStringLiteral("user enabled"),
                 before, stateText(row), reason, error);
}

bool UserDirectory::resetPassword(const QString& actor, const QString& name,
                                  const QByteArray& password, const QString& reason, QString* error)
{
    UserRecord row;
    if (!existing(name, &row, error))
        return false;
    row.passwordHash = hashOf(password, error);
    if (row.passwordHash.isEmpty())
        return false;
    // A new password ends a wait: the administrator has just vouched for the person.
    row.failedSignIns = 0;
    row.waitUntilMs = 0;
    return write(row, actor, QStringLiteral("password reset"), QString(),
                 QStringLiteral("password changed"), reason, error);
}

bool UserDirectory::changeRole(const QString& actor, const QString& name, Role role,
                               const QString& reason, QString* error)
{
    UserRecord row;
    if (!existing(name, &row, error))
        return false;
    const QString before = row.role;
    row.role = AccessPolicy::roleText(role);
    if (!keepsAnAdministrator(row, error))
        return false;
    return write(row, actor, QStringLiteral("role changed"), before, row.role, reason, error);
}

bool UserDirectory::recover(const QString& actor, const QString& name, const QByteArray& password,
                            const QString& reason, QString* error)
{
    *error = nameProblem(name);
    if (!error->isEmpty())
        return false;
    std::optional<UserRecord> found;
    if (!UserTable::find(db, name, &found, error))
        return false;
    UserRecord row = found ? *found : UserRecord();
    if (!found)
        row.name = name;
    row.role = AccessPolicy::roleText(Role::Administrator);
    row.disabled = false;
    row.failedSignIns = 0;
    row.waitUntilMs = 0;
    row.passwordHash = hashOf(password, error);
    if (row.passwordHash.isEmpty())
        return false;
    return write(row, actor, UserChainCheck::actionRecovered(),
                 found ? stateText(*found) + QStringLiteral(", password changed") : QString(),
                 row.role, reason, error);
}

UserDirectory::SignInResult UserDirectory::signIn(const QString& name, const QByteArray& password)
{
    return check(name, password, false);
}

UserDirectory::SignInResult UserDirectory::checkSignature(const QString& name,
                                                          const QByteArray& password)
{
    return check(name, password, true);
}

UserDirectory::SignInResult UserDirectory::check(const QString& name, const QByteArray& password,
                                                 bool forSignature)
{
    // A signature's failures count with the sign-in's (one password, one count of tries); they
    // are recorded as the signature's.
    const QString failed = forSignature ? QStringLiteral("signature refused")
                                        : QStringLiteral("sign-in failed");
    const QString refused = forSignature ? QStringLiteral("signature refused")
                                         : QStringLiteral("sign-in refused");
    SignInResult result;
    QString error;
    UserChainCheck check;
    std::optional<UserRecord> found;
    if (!check.load(db, &error) || !UserTable::find(db, name, &found, &error)) {
        result.message = QStringLiteral("The users could not be read: %1").arg(error);
        return result;
    }
    const qint64 now = clock();
    if (!found) {
        // Recorded under the name typed only when it could be a name at all.
        const QString object =
            nameProblem(name).isEmpty() ? name : QStringLiteral("(not a valid name)");
        result.outcome = SignInResult::Refused;
        result.message = WrongNameOrPassword;
        if (!record(object, failed, object,
                    QStringLiteral("no such user"), &error)) {
            result.outcome = SignInResult::Failed;
            result.message = QStringLiteral("The sign-in could not be recorded: %1").arg(error);
        }
        return result;
    }
    UserRecord row = *found;
    const QString finding = check.findingFor(row);
    if (!finding.isEmpty()) {
        // The row is not trusted, so it is not written either: only the refusal is recorded.
        result.outcome = SignInResult::Refused;
        result.message = finding + QStringLiteral(" Sign-in refused.");
        const QString shown = UserChainCheck::shownName(row.name);
        record(shown, refused, shown, finding, &error);
        return result;
    }
    auto recorded = [&](const QString& action, const QString& newValue) {
        if (write(row, row.name, action, QString(), newValue, QString(), &error))
            return true;
        result.outcome = SignInResult::Failed;
        result.message = QStringLiteral("The sign-in could not be recorded: %1").arg(error);
        return false;
    };
    if (row.waitUntilMs > now) {
        result.outcome = SignInResult::Waiting;
        result.waitUntilMs = row.waitUntilMs;
        result.message = QStringLiteral("Too many failed sign-ins: \"%1\" can sign in again at %2.")
                             .arg(row.name, localTimeText(row.waitUntilMs));
        recorded(
            failed,
            QStringLiteral("tried while waiting until %1").arg(localTimeText(row.waitUntilMs)));
        return result;
    }
    if (!PasswordHash::matches(row.passwordHash, password)) {
        ++row.failedSignIns;
        result.outcome = SignInResult::Refused;
        result.message = WrongNameOrPassword;
        if (row.failedSignIns % FailuresBeforeWait == 0) {
            row.waitUntilMs = now + WaitMs;
            result.outcome = SignInResult::Waiting;
            result.waitUntilMs = row.waitUntilMs;
            result.message = QStringLiteral("The password is wrong for the %1th time: \"%2\" can "
                                            "sign in again at %3.")
                                 .arg(row.failedSignIns)
                                 .arg(row.name, localTimeText(row.waitUntilMs));
            recorded(QStringLiteral("sign-in waits"),
                     QStringLiteral("failed sign-ins: %1, waits until %2")
                         .arg(row.failedSignIns)
                         .arg(localTimeText(row.waitUntilMs)));
        } else {
            recorded(failed, QStringLiteral("failed sign-ins: %1").arg(row.failedSignIns));
        }
        return result;
    }
    if (row.disabled) {
        result.outcome = SignInResult::Refused;
        result.message = QStringLiteral("User \"%1\" is disabled.").arg(row.name);
        recorded(failed, QStringLiteral("disabled"));
        return result;
    }
    result.role = AccessPolicy::roleFromText(row.role).value_or(Role::Operator);
    result.outcome = SignInResult::SignedIn;
    result.name = row.name;
    // A signature is recorded with what it signs; its password check changes nothing else.
    if (forSignature)
        return result;
    row.failedSignIns = 0;
    row.waitUntilMs = 0;
    recorded(QStringLiteral("signed in"), row.role);
    return result;
}
