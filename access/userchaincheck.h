#pragma once

#include "sqlitehandle.h"
#include "userrecord.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

// Checks a project's users table against its audit trail: every row must be the one the newest
// entry about that user hashed (UserTable::rowDigest), and every user the trail added must still
// have a row. A row inserted or changed with another program, or a removed one, is a finding.
// Access control is on once the trail holds a "user added" of an Administrator; emptying the
// table does not switch it off.
//
// It trusts the trail's entries; that the trail itself is unbroken is the chain's own check.
class UserChainCheck
{
public:
    // The audit actions whose entries carry a user's row digest.
    static const QStringList& userActions();
    static QString actionAdded() { return QStringLiteral("user added"); }
    static QString actionRecovered() { return QStringLiteral("access recovered"); }

    // Reads the table and the trail's user entries. False with the reason when they cannot be
    // read (no findings are made then).
    bool load(SqliteHandle db, QString* error);

    bool accessControlOn() const { return on; }
    // One plain sentence per row that does not match, per missing user; empty when all match.
    QStringList findings() const;
    // Empty when the row is the one the trail hashed last; otherwise the finding.
    QString findingFor(const UserRecord& row) const;

    // A name as findings show it: control and format characters as \u{XXXX}, at most one
    // character past the longest name allowed.
    static QString shownName(const QString& name);

    // For the verification of a whole project: loads and checks; an unreadable table or trail is
    // a finding too.
    static QStringList check(SqliteHandle db);

private:
    bool on = false;
    QVector<UserRecord> rows;
    QHash<QString, QByteArray> lastDigest; // by the user's name, folded to lower case
    QHash<QString, QString> trailName;     // the name as the trail wrote it
};
