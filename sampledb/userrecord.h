#pragma once

#include <QByteArray>
#include <QString>

// One row of a project's users table, as stored. Plain data; UserTable stores and reads it.
struct UserRecord
{
    QString name;            // unique (letter case ignored), no control characters
    QString role;            // "Operator", "Supervisor" or "Administrator"
    QByteArray passwordHash; // an Argon2id string ($argon2id$...), never the password
    bool disabled = false;
    int failedSignIns = 0;  // failed sign-ins since the last good one
    qint64 waitUntilMs = 0; // no sign-in before this time (ms since 1970 UTC); 0: none
    QString fullName;       // as signatures show the person; may be empty
};
