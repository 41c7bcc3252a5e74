#include "reportruntable.h"

#include "checkedrows.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"

#include <QDebug>
#include <QFileInfo>

#include <sqlite3.h>

namespace {

const char* const CreateTable =
    "create table if not exists report_run (kind text not null, first text not null, last text "
    "not null, dueTime integer not null, madeTime integer not null, state text not null, late "
    "integer not null, attempts integer not null, error text not null, primary key (kind, "
    "first))";

const char* const Columns = "kind, first, last, dueTime, madeTime, state, late, attempts, error";

bool textAt(sqlite3_stmt* s, int column, QString* text)
{
    return CheckedRows::text(s, column, ReportRunRecord::MaxErrorLength, text);
}

bool rowAt(sqlite3_stmt* s, ReportRunRecord* r)
{
    QString first;
    QString last;
    qint64 late = 0;
    qint64 attempts = 0;
    if (!textAt(s, 0, &r->kind) || !textAt(s, 1, &first) || !textAt(s, 2, &last) ||
        !CheckedRows::integer(s, 3, &r->dueMs) || !CheckedRows::integer(s, 4, &r->madeMs) ||
        !textAt(s, 5, &r->state) || !CheckedRows::integer(s, 6, &late) ||
        !CheckedRows::integer(s, 7, &attempts) || !textAt(s, 8, &r->error))
        return false;
    if (attempts < 0 || attempts > 1000000 || (late != 0 && late != 1))
        return false;
    r->first = QDate::fromString(first, Qt::ISODate);
    r->last = QDate::fromString(last, Qt::ISODate);
    r->late = late != 0;
    r->attempts = int(attempts);
    return r->problem().isEmpty();
}

} // namespace

bool ReportRunTable::ensureTable(SqliteHandle db, QString* error)
{
    return sqlite3_exec(db, CreateTable, nullptr, nullptr, nullptr) == SQLITE_OK ||
           SqliteStatement::failed(db, error);
}

bool ReportRunTable::put(SqliteHandle db, const ReportRunRecord& r, QString* error)
{
    const QString problem = r.problem();
    if (!problem.isEmpty()) {
        *error = QStringLiteral("report run: ") + problem;
        return false;
    }
    if (!ensureTable(db, error))
        return false;
    SqliteStatement s(db, QByteArray("insert or replace into report_run (") + Columns +
                              ") values (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    SqliteStatement::bindText(s.get(), 1, r.kind);
    SqliteStatement::bindText(s.get(), 2, r.first.toString(Qt::ISODate));
    SqliteStatement::bindText(s.get(), 3, r.last.toString(Qt::ISODate));
    sqlite3_bind_int64(s.get(), 4, r.dueMs);
    sqlite3_bind_int64(s.get(), 5, r.madeMs);
    SqliteStatement::bindText(s.get(), 6, r.state);
    sqlite3_bind_int(s.get(), 7, r.late ? 1 : 0);
    sqlite3_bind_int(s.get(), 8, r.attempts);
    SqliteStatement::bindText(s.get(), 9, r.error);
    return sqlite3_step(s.get()) == SQLITE_DONE || SqliteStatement::failed(db, error);
}

bool ReportRunTable::all(SqliteHandle db, QVector<ReportRunRecord>* out, QString* error,
                         int* skipped)
{
    return CheckedRows::read<ReportRunRecord>(
        db, "report_run", QByteArray("select ") + Columns + " from report_run order by dueTime",
        nullptr, rowAt,
        [](sqlite3_stmt*) {
            qWarning().noquote() << "Report run row is out of bounds and left out";
        },
        out, error, skipped);
}

bool ReportRunTable::read(const QString& databasePath, QVector<ReportRunRecord>* out,
                          QString* error, int* skipped)
{
    out->clear();
    if (skipped)
        *skipped = 0;
    if (!QFileInfo::exists(databasePath))
        return true;
    SqliteConnection connection;
    if (!connection.openReadOnly(databasePath, 2000)) {
        *error = connection.errorText();
        return false;
    }
    return all(connection.get(), out, error, skipped);
}
