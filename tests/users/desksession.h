#pragma once

#include "accesspolicy.h"
#include "auditentry.h"
#include "signinsession.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

class QTemporaryDir;

// A sign-in session on a fresh project database in a temporary folder, with the cheapest
// password hashes, for the users windows' tests: users added and signed in the way the
// windows do it, on the session's thread, waited for with a bound.
class DeskSession
{
    // Goes last: the session's thread writes its sign-out into the folder before it ends.
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_database;

public:
    struct Person
    {
        QString name;
        AccessPolicy::Role role;
        QByteArray password;
        bool disabled = false;
    };
    static const QByteArray AdminPassword;
    static const QByteArray SupervisorPassword;
    static const QByteArray OperatorPassword;
    // "anna" Administrator, "sam" Supervisor, "olga" Operator.
    static QVector<Person> team();

    explicit DeskSession(const IdleSignOut::Clock& idleClock = IdleSignOut::Clock());
    ~DeskSession();

    // False with the reason when the database could not be opened.
    bool open(QString* error);
    // Adds the people in order (the first must be an Administrator), as the desktop account.
    bool add(const QVector<Person>& people, QString* error);
    // True once the sign-in answered; its outcome is the session's user.
    bool signIn(const QString& name, const QByteArray& password);
    // The project's audit trail, oldest first.
    QVector<AuditEntry> trail() const;
    QString databasePath() const { return m_database; }

    SignInSession session;
};
