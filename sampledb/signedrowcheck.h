#pragma once

#include "signedrecord.h"
#include "sqlitehandle.h"

#include <QByteArray>
#include <QString>

#include <functional>

struct sqlite3_stmt;

// Whether a signed row of one of the tables that keep a whole signed record per row (audit
// reviews, report approvals) still holds what was signed: the row read again by its id and each
// signed field compared with it.
class SignedRowCheck
{
public:
    // The problem with the row of `table` that `signedFields` names, or an empty text: the
    // table or the row gone, a field changed, or the file unreadable. `columns` are the ones
    // `fieldsAt` reads; `noun` and `plural` name the rows in the texts ("review", "reviews").
    static QString problem(SqliteHandle db, const char* table, const char* columns,
                           const SignedRecord& signedFields, const QString& noun,
                           const QString& plural,
                           const std::function<SignedRecord(sqlite3_stmt*)>& fieldsAt);
};
