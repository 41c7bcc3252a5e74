#pragma once

#include "auditentry.h"
#include "userrecord.h"

// A change of the users table and the audit entry that records it, written in one transaction
// (UserTable::apply). The row is the whole row after the change; the entry's newValue is the
// change as a reader sees it, to which the row's digest is added when it is written.
struct UserChange
{
    UserRecord row;
    AuditEntry entry;
};
