#pragma once

#include <QByteArray>
#include <QString>

// One entry of a project's audit trail: who did what to which object, what was there before and
// after, and why. Plain data; AuditTrail chains, stores and reads it.
struct AuditEntry
{
    qint64 sequence = 0; // 1, 2, 3, ... in the order committed, without gaps
    qint64 timeMs = 0;   // when it happened, milliseconds since 1970 UTC
    QString user;        // a user's name, the desktop account without access control, "recorder"
    QString action;      // what was done: "setting changed", "recording started", ...
    QString object;      // what it was done to: a node, a setting, a user, a quarter hour
    QString oldValue;    // never a secret: a password is only ever "password changed"
    QString newValue;
    QString reason;
    QByteArray previousHash; // 64 hex digits: the hash of the entry before (zeros for the first)
    QByteArray hash;         // 64 hex digits over previousHash and this entry's canonical form
};
