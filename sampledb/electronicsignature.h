#pragma once

#include <QByteArray>
#include <QString>

// One electronic signature as the project's database keeps it (SignatureTable): who signed, when,
// what the signature means, and the record it is bound to (its fields as they stood, and their
// hash). Each is also an entry of the audit trail ("signed"), whose chain vouches for it.
struct ElectronicSignature
{
    qint64 id = 0;
    qint64 timeMs = 0;   // when it was signed, milliseconds since 1970 UTC
    QString signer;      // the user's id (name)
    QString fullName;    // the user's full name; the id when none is kept
    QString meaning;     // "acknowledged", "shelved", "accepted", "reviewed", "approved", ...
    QString recordKind;  // SignedRecord::kind
    QString recordId;    // SignedRecord::id
    QByteArray recordFields; // SignedRecord::canonical() as signed
    QByteArray recordHash;   // SHA-256 of recordFields, 64 lowercase hex digits
    qint64 auditSequence = 0; // the audit trail's "signed" entry

    // The signature as people read it, in local time:
    // "Olga Berg (olga), 2026-12-09 21:04:05 CET, acknowledged".
    QString manifestation() const;
};
