#pragma once

#include "sqlitehandle.h"

#include <QString>

struct AuditEntry;
struct SignedRecord;

// An Administrator's change of a user, as a signature signs it: the audit entry that recorded
// the change (UserTable::apply), kind "user change", id its sequence, fields user, action,
// object, newValue (with the row's digest) and reason as the entry holds them. The entry is
// chained, so a signature bound to it cannot be moved to another change unnoticed.
class UserChangeSignature
{
public:
    static QString recordKind() { return QStringLiteral("user change"); }
    static SignedRecord record(const AuditEntry& entry);
    // "" when the audit entry of that sequence still holds the signed fields; otherwise a plain
    // sentence.
    static QString signedRecordProblem(SqliteHandle db, const SignedRecord& signedFields);
};
