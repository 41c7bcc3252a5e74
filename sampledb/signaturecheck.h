#pragma once

#include "auditverifier.h"
#include "sqlitehandle.h"

#include <QHash>
#include <QString>

#include <functional>

struct SignedRecord;

// Checks a project's electronic signatures, as part of the verification of its records: each
// signature row must match its audit entry ("signed", whose chain vouches for it), its record's
// fields must hash to the hash it keeps, and the record itself must still hold the fields as
// signed. A "signed" entry without its row is a finding too. A change the record may take after
// the signature without breaking it (an alarm's end, a later extreme beyond the signed one) is
// none.
class SignatureCheck
{
public:
    // Empty when the record of `signedFields` in the database still holds them; otherwise why
    // not, one plain sentence.
    using RecordCheck = std::function<QString(SqliteHandle db, const SignedRecord& signedFields)>;

    // The check for AuditVerifier; alarm events are checked by this class, other kinds by the
    // checks given, by record kind. A signature of a kind without a check is checked against
    // its entry and its hash only (counted as such).
    static AuditVerifier::Check make(const QHash<QString, RecordCheck>& recordChecks = {});

    // The check of an alarm event's signed fields against its row.
    static QString alarmEventProblem(SqliteHandle db, const SignedRecord& signedFields);
};
