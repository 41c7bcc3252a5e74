#include "calibrationtable.h"

#include "checkedrows.h"
#include "signedrecord.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"

#include <QDebug>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>

namespace {

const char* const CreateTable =
    "create table if not exists calibration (id integer primary key, serial text not null, "
    "channelColumn text not null, certificate text not null, laboratory text not null, "
    "calibrated text not null, due text not null, reference text not null, asFound real, "
    "asLeft real, uncertainty real not null, certificateFile text not null, enteredBy text not "
    "null, enteredAt integer not null, signatureId integer not null default 0)";
// An entry is evidence: a correction is a newer entry, never an edit.
const char* const NoUpdate =
    "create trigger if not exists calibration_no_update before update on calibration begin "
    "select raise(abort, 'calibration entries are never changed'); end";
const char* const NoDelete =
    "create trigger if not exists calibration_no_delete before delete on calibration begin "
    "select raise(abort, 'calibration entries are never deleted'); end";
const char* const CreateReminders =
    "create table if not exists calibration_reminder (calibrationId integer not null, "
    "daysBefore integer not null, sentAt integer not null, primary key (calibrationId, "
    "daysBefore))";

const char* const Columns =
    "id, serial, channelColumn, certificate, laboratory, calibrated, due, reference, asFound, "
    "asLeft, uncertainty, certificateFile, enteredBy, enteredAt, signatureId";

// A text column within the longest text any column may hold.
bool textColumn(sqlite3_stmt* s, int column, QString* text)
{
    return CheckedRows::text(s, column, CalibrationRecord::MaxFilePath, text);
}

// A number column: true for a number (or a null when `missing` may hold it).
bool numberColumn(sqlite3_stmt* s, int column, std::optional<double>* value)
{
    switch (sqlite3_column_type(s, column)) {
    case SQLITE_NULL:
        value->reset();
        return true;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        *value = sqlite3_column_double(s, column);
        return true;
    default:
        return false;
    }
}

// The row at the statement, or false when a column is not what the table keeps.
bool rowAt(sqlite3_stmt* s, CalibrationRecord* r)
{
    QString calibrated;
    QString due;
    std::optional<double> uncertainty;
    const bool typed = CheckedRows::integer(s, 0, &r->id) && textColumn(s, 1, &r->serial) &&
                       textColumn(s, 2, &r->column) && textColumn(s, 3, &r->certificate) &&
                       textColumn(s, 4, &r->laboratory) && textColumn(s, 5, &calibrated) &&
                       textColumn(s, 6, &due) && textColumn(s, 7, &r->reference) &&
                       numberColumn(s, 8, &r->asFound) && numberColumn(s, 9, &r->asLeft) &&
                       numberColumn(s, 10, &uncertainty) && uncertainty.has_value() &&
                       textColumn(s, 11, &r->certificateFile) && textColumn(s, 12, &r->enteredBy) &&
                       CheckedRows::integer(s, 13, &r->enteredAt) &&
                       CheckedRows::integer(s, 14, &r->signatureId);
    if (!typed)
        return false;
    r->uncertainty = *uncertainty;
    r->calibrated = CalibrationRecord::dateFromText(calibrated);
    r->due = CalibrationRecord::dateFromText(due);
    return r->problem().isEmpty() && r->signatureId >= 0;
}

} // namespace

bool CalibrationTable::ensureTable(SqliteHandle db, QString* error)
{
    for (const char* sql : {CreateTable, NoUpdate, NoDelete, CreateReminders}) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            return SqliteStatement::failed(db, error);
    }
    return true;
}

bool CalibrationTable::insert(SqliteHandle db, const CalibrationRecord& r, QString* error)
{
    const QString problem = r.problem();
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    if (!ensureTable(db, error))
        return false;
    SqliteStatement s(db, QByteArray("insert into calibration (") + Columns +
                              ") values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) on conflict "
                              "(id) do nothing");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    const auto bindNumber = [&s](int index, const std::optional<double>& value) {
        if (value)
            sqlite3_bind_double(s.get(), index, *value);
        else
            sqlite3_bind_null(s.get(), index);
    };
    sqlite3_bind_int64(s.get(), 1, r.id);
    SqliteStatement::bindText(s.get(), 2, r.serial);
    SqliteStatement::bindText(s.get(), 3, r.column);
    SqliteStatement::bindText(s.get(), 4, r.certificate);
    SqliteStatement::bindText(s.get(), 5, r.laboratory);
    SqliteStatement::bindText(s.get(), 6, CalibrationRecord::dateText(r.calibrated));
    SqliteStatement::bindText(s.get(), 7, CalibrationRecord::dateText(r.due));
    SqliteStatement::bindText(s.get(), 8, r.reference);
    bindNumber(9, r.asFound);
    bindNumber(10, r.asLeft);
    sqlite3_bind_double(s.get(), 11, r.uncertainty);
    SqliteStatement::bindText(s.get(), 12, r.certificateFile);
    SqliteStatement::bindText(s.get(), 13, r.enteredBy);
    sqlite3_bind_int64(s.get(), 14, r.enteredAt);
    sqlite3_bind_int64(s.get(), 15, r.signatureId);
    return sqlite3_step(s.get()) == SQLITE_DONE || SqliteStatement::failed(db, error);
}

bool CalibrationTable::all(SqliteHandle db, QVector<CalibrationRecord>* out, QString* error,
                           int* skipped)
{
    return CheckedRows::read<CalibrationRecord>(
        db, "calibration", QByteArray("select ") + Columns + " from calibration order by id",
        nullptr, rowAt,
        [](sqlite3_stmt* s) {
            qWarning().noquote() << "Calibration entry" << sqlite3_column_int64(s, 0)
                                 << "is out of bounds and left out";
        },
        out, error, skipped);
}

bool CalibrationTable::read(const QString& databasePath, QVector<CalibrationRecord>* out,
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

const CalibrationRecord* CalibrationTable::inForce(const QVector<CalibrationRecord>& rows,
                                                   const QString& serial, const QString& column,
                                                   const QDate& day)
{
    const CalibrationRecord* best = nullptr;
    for (const CalibrationRecord& r : rows) {
        if (r.serial != serial || r.column != column || !r.calibrated.isValid() ||
            r.calibrated > day)
            continue;
        if (!best || r.calibrated > best->calibrated ||
            (r.calibrated == best->calibrated && r.id > best->id))
            best = &r;
    }
    return best;
}

bool CalibrationTable::reminders(SqliteHandle db, QVector<Reminder>* sent, QString* error)
{
    sent->clear();
    bool exists = false;
    if (!SqliteStatement::tableExists(db, "calibration_reminder", &exists, error))
        return false;
    if (!exists)
        return true;
    SqliteStatement s(db, "select calibrationId, daysBefore from calibration_reminder");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        sent->append({sqlite3_column_int64(s.get(), 0), sqlite3_column_int(s.get(), 1)});
    return rc == SQLITE_DONE || SqliteStatement::failed(db, error);
}

bool CalibrationTable::readReminders(const QString& databasePath, QVector<Reminder>* sent,
                                     QString* error)
{
    sent->clear();
    if (!QFileInfo::exists(databasePath))
        return true;
    SqliteConnection connection;
    if (!connection.openReadOnly(databasePath, 2000)) {
        *error = connection.errorText();
        return false;
    }
    return reminders(connection.get(), sent, error);
}

bool CalibrationTable::noteReminder(SqliteHandle db, qint64 id, int daysBefore, qint64 at,
                                    QString* error)
{
    if (!ensureTable(db, error))
        return false;
    SqliteStatement s(db, "insert into calibration_reminder (calibrationId, daysBefore, sentAt) "
                          "values (?, ?, ?) on conflict do nothing");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    sqlite3_bind_int64(s.get(), 1, id);
    sqlite3_bind_int(s.get(), 2, daysBefore);
    sqlite3_bind_int64(s.get(), 3, at);
    return sqlite3_step(s.get()) == SQLITE_DONE || SqliteStatement::failed(db, error);
}

SignedRecord CalibrationTable::signedRecord(const CalibrationRecord& r)
{
    const auto number = [](const std::optional<double>& value) {
        return value ? QString::number(*value, 'g', 17) : QString();
    };
    SignedRecord s;
    s.kind = recordKind();
    s.id = QString::number(r.id);
    s.add(QStringLiteral("node"), r.serial);
    s.add(QStringLiteral("channel"), r.column);
    s.add(QStringLiteral("certificate"), r.certificate);
    s.add(QStringLiteral("laboratory"), r.laboratory);
    s.add(QStringLiteral("calibrated"), CalibrationRecord::dateText(r.calibrated));
    s.add(QStringLiteral("due"), CalibrationRecord::dateText(r.due));
    s.add(QStringLiteral("reference"), r.reference);
    s.add(QStringLiteral("asFound"), number(r.asFound));
    s.add(QStringLiteral("asLeft"), number(r.asLeft));
    s.add(QStringLiteral("uncertainty"), number(r.uncertainty));
    s.add(QStringLiteral("certificateFile"), r.certificateFile);
    s.add(QStringLiteral("enteredBy"), r.enteredBy);
    s.add(QStringLiteral("enteredAt"), QString::number(r.enteredAt));
    return s;
}

QString CalibrationTable::signedRecordProblem(SqliteHandle db, const SignedRecord& signedFields)
{
    if (signedFields.kind != recordKind())
        return QStringLiteral("The signed record is not a calibration entry.");
    bool numeric = false;
    const qint64 id = signedFields.id.toLongLong(&numeric);
    if (!numeric)
        return QStringLiteral("The signed record's id is not a number.");
    QVector<CalibrationRecord> rows;
    QString error;
    int skipped = 0;
    if (!all(db, &rows, &error, &skipped))
        return QStringLiteral("The calibration register could not be read: ") + error;
    const auto row = std::find_if(rows.cbegin(), rows.cend(),
                                  [id](const CalibrationRecord& r) { return r.id == id; });
    if (row == rows.cend())
        return skipped > 0 ? QStringLiteral("The signed entry is no longer in the register "
                                            "as a valid row.")
                           : QStringLiteral("The signed entry is no longer in the register.");
    return signedFields.changedIn(signedRecord(*row), QStringLiteral("entry"));
}
