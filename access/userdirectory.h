#pragma once

#include "accesspolicy.h"
#include "passwordhash.h"
#include "sqlitehandle.h"
#include "userchange.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

// The users of one project: adding, disabling, password resets, role changes and sign-ins, each
// recorded in the audit trail in the transaction that changes the row. It checks what a change
// needs (a valid name, a fit password, an Administrator left); who may ask for it is the
// caller's question (AccessPolicy).
//
// Writes go to the database in transactions of their own, or through the functions set with
// setWrites() (the recorder's writer). Time comes from an injectable clock.
class UserDirectory
{
public:
    using Clock = std::function<qint64()>; // ms since 1970 UTC
    struct Writes
    {
        std::function<bool(UserChange* change, QString* error)> change;
        std::function<bool(AuditEntry* entry, QString* error)> entry;
    };

    static constexpr int FailuresBeforeWait = 5;
    static constexpr qint64 WaitMs = 5 * 60 * 1000;
    static constexpr int MaximumNameLength = 64;

    // The connection stays the caller's. No clock: the computer's.
    explicit UserDirectory(SqliteHandle db, Clock clock = Clock(),
                           PasswordHash::Cost cost = PasswordHash::standard());
    void setWrites(const Writes& writes);

    // Empty when the name is fit to be a user's; otherwise the reason.
    static QString nameProblem(const QString& name);

    // False with the reason when the table or the trail cannot be read.
    bool accessControlOn(bool* on, QString* error) const;
    bool users(QVector<UserRecord>* rows, QString* error) const;

    // `actor` is who asks (a signed-in user, or the computer account); `reason` why.
    bool add(const QString& actor, const QString& name, AccessPolicy::Role role,
             const QByteArray& password, const QString& reason, QString* error);
    bool setDisabled(const QString& actor, const QString& name, bool disabled,
                     const QString& reason, QString* error);
    bool resetPassword(const QString& actor, const QString& name, const QByteArray& password,
                       const QString& reason, QString* error);
    bool changeRole(const QString& actor, const QString& name, AccessPolicy::Role role,
                    const QString& reason, QString* error);
    // The way back when no Administrator can sign in: makes `name` an enabled Administrator with
    // this password (added when missing), recorded as "access recovered". Whether the actor may
    // is the caller's question (the owner of the project's files).
    bool recover(const QString& actor, const QString& name, const QByteArray& password,
                 const QString& reason, QString* error);

    struct SignInResult
    {
        enum Outcome
        {
            SignedIn,
            Refused, // wrong name or password, disabled, or a row the trail does not vouch for
            Waiting, // too many failures: no check before waitUntilMs
            Failed,  // the database could not be read or written
        };
        Outcome outcome = Failed;
        QString message; // for the person, empty when signed in
        AccessPolicy::Role role = AccessPolicy::Role::Operator;
        QString name; // the user's name as stored, when signed in
        qint64 waitUntilMs = 0;
    };
    // Checks the user's row against the trail first; records the sign-in, the failure or the
    // wait either way.
    SignInResult signIn(const QString& name, const QByteArray& password);
    // The same check for an electronic signature: SignedIn when the password is the user's
    // (nothing recorded then: the signature is); failures count and are recorded as a
    // sign-in's, under "signature refused".
    SignInResult checkSignature(const QString& name, const QByteArray& password);

private:
    SignInResult check(const QString& name, const QByteArray& password, bool forSignature);
    bool write(UserRecord row, const QString& actor, const QString& action, const QString& oldValue,
               const QString& newValue, const QString& reason, QString* error);
    bool record(const QString& actor, const QString& action, const QString& object,
                const QString& newValue, QString* error);
    bool existing(const QString& name, UserRecord* row, QString* error) const;
    bool keepsAnAdministrator(const UserRecord& changed, QString* error) const;
    QByteArray hashOf(const QByteArray& password, QString* error) const;

    SqliteHandle db;
    Clock clock;
    PasswordHash::Cost cost;
    Writes writes;
};
