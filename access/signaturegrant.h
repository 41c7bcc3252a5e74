#pragma once

#include <QString>

// A signature just given: the signer's id and password were checked (the password alone for a
// later signature of the same signed-in session). What it signs is the caller's:
// SignatureTable::make(record, grant.signer, grant.fullName, meaning, grant.timeMs).
struct SignatureGrant
{
    QString signer;   // the user's id
    QString fullName; // the user's full name; the id when none is kept
    qint64 timeMs = 0; // when the password was checked, ms since 1970 UTC
};
