#include "alarmtesttable.h"

#include "checkedrows.h"
#include "sampletable.h"
#include "signedrecord.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"

#include <QDebug>
#include <QFileInfo>

#include <sqlite3.h>

namespace {

const char* const CreateTable =
    "create table if not exists alarm_test (testId integer not null, time integer not null, "
    "user text not null, nodes text not null, target text not null, answer text not null, "
    "text text not null, signatureId integer not null default 0, primary key (testId, target))";
// A test is evidence that the alarms were tried: it is never edited or removed.
const char* const NoUpdate =
    "create trigger if not exists alarm_test_no_update before update on alarm_test begin "
    "select raise(abort, 'alarm tests are never changed'); end";
const char* const NoDelete =
    "create trigger if not exists alarm_test_no_delete before delete on alarm_test begin "
    "select raise(abort, 'alarm tests are never deleted'); end";

const char* const Columns = "testId, time, user, nodes, target, answer, text, signatureId";

bool rowAt(sqlite3_stmt* s, AlarmTestRecord* r)
{
    const int text = AlarmTestRecord::MaxText;
    return CheckedRows::integer(s, 0, &r->testId) && CheckedRows::integer(s, 1, &r->time) &&
           CheckedRows::text(s, 2, text, &r->user) &&
           CheckedRows::text(s, 3, AlarmTestRecord::MaxNodes, &r->nodes) &&
           CheckedRows::text(s, 4, text, &r->target) && CheckedRows::text(s, 5, text, &r->answer) &&
           CheckedRows::text(s, 6, text, &r->text) && CheckedRows::integer(s, 7, &r->signatureId) &&
           r->problem().isEmpty();
}

bool selectRows(SqliteHandle db, const QByteArray& where, qint64 from, qint64 to,
                QVector<AlarmTestRecord>* out, QString* error, int* skipped)
{
    return CheckedRows::read<AlarmTestRecord>(
        db, "alarm_test",
        QByteArray("select ") + Columns + " from alarm_test " + where +
            " order by time, testId, target",
        [&where, from, to](sqlite3_stmt* s) {
            if (!where.isEmpty()) {
                sqlite3_bind_int64(s, 1, from);
                sqlite3_bind_int64(s, 2, to);
            }
        },
        rowAt,
        [](sqlite3_stmt* s) {
            qWarning().noquote() << "Alarm test" << sqlite3_column_int64(s, 0)
                                 << "has a row out of bounds; it is left out";
        },
        out, error, skipped);
}

bool knownState(const QString& name)
{
    return name == AlarmTestTable::armedStateName() || name == AlarmTestTable::reminderStateName();
}

} // namespace

bool AlarmTestTable::ensureTable(SqliteHandle db, QString* error)
{
    for (const char* sql : {CreateTable, NoUpdate, NoDelete}) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            return SqliteStatement::failed(db, error);
    }
    return true;
}

bool AlarmTestTable::insert(SqliteHandle db, const QVector<AlarmTestRecord>& rows, QString* error)
{
    for (const AlarmTestRecord& r : rows) {
        QString problem = r.problem();
        if (problem.isEmpty() && r.testId != rows.first().testId)
            problem = QStringLiteral("Rows of more than one test.");
        if (!problem.isEmpty()) {
            *error = problem;
            return false;
        }
    }
    if (!ensureTable(db, error))
        return false;
    SqliteStatement s(db, QByteArray("insert into alarm_test (") + Columns +
                              ") values (?, ?, ?, ?, ?, ?, ?, ?) on conflict do nothing");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    for (const AlarmTestRecord& r : rows) {
        s.reset(true);
        sqlite3_bind_int64(s.get(), 1, r.testId);
        sqlite3_bind_int64(s.get(), 2, r.time);
        SqliteStatement::bindText(s.get(), 3, r.user);
        SqliteStatement::bindText(s.get(), 4, r.nodes);
        SqliteStatement::bindText(s.get(), 5, r.target);
        SqliteStatement::bindText(s.get(), 6, r.answer);
        SqliteStatement::bindText(s.get(), 7, r.text);
        sqlite3_bind_int64(s.get(), 8, r.signatureId);
        if (sqlite3_step(s.get()) != SQLITE_DONE)
            return SqliteStatement::failed(db, error);
    }
    return true;
}

bool AlarmTestTable::all(SqliteHandle db, QVector<AlarmTestRecord>* out, QString* error,
                         int* skipped)
{
    return selectRows(db, QByteArray(), 0, 0, out, error, skipped);
}

bool AlarmTestTable::read(const QString& databasePath, qint64 from, qint64 to,
                          QVector<AlarmTestRecord>* out, QString* error)
{
    out->clear();
    if (!QFileInfo::exists(databasePath))
        return true;
    SqliteConnection connection;
    if (!connection.openReadOnly(databasePath, 2000)) {
        *error = connection.errorText();
        return false;
    }
    return selectRows(connection.get(), "where time >= ? and time < ?", from, to, out, error,
                      nullptr);
}

bool AlarmTestTable::readState(const QString& databasePath, const QString& name, qint64* value,
                               bool* found, QString* error)
{
    *found = false;
    if (!QFileInfo::exists(databasePath))
        return true;
    SqliteConnection connection;
    if (!connection.openReadOnly(databasePath, 2000)) {
        *error = connection.errorText();
        return false;
    }
    SqliteHandle db = connection.get();
    bool exists = false;
    const QByteArray table = SampleTable::stateName().toUtf8();
    if (!SqliteStatement::tableExists(db, table.constData(), &exists, error))
        return false;
    if (!exists)
        return true;
    SqliteStatement s(db, "select value from " + table + " where name = ?");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    SqliteStatement::bindText(s.get(), 1, name);
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_ROW && sqlite3_column_type(s.get(), 0) == SQLITE_INTEGER) {
        *value = sqlite3_column_int64(s.get(), 0);
        *found = true;
        return true;
    }
    return rc == SQLITE_DONE || rc == SQLITE_ROW || SqliteStatement::failed(db, error);
}

bool AlarmTestTable::setState(SqliteHandle db, const QString& name, qint64 value, QString* error)
{
    if (!knownState(name)) {
        *error = QStringLiteral("\"%1\" is no state of the alarm tests.").arg(name.left(40));
        return false;
    }
    if (sqlite3_exec(db, SampleTable::createStateStatement().toUtf8().constData(), nullptr, nullptr,
                     nullptr) != SQLITE_OK)
        return SqliteStatement::failed(db, error);
    SqliteStatement s(db, QByteArray("insert into ") + SampleTable::stateName().toUtf8() +
                              " (name, value) values (?, ?) on conflict (name) do update set "
                              "value = excluded.value");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    SqliteStatement::bindText(s.get(), 1, name);
    sqlite3_bind_int64(s.get(), 2, value);
    return sqlite3_step(s.get()) == SQLITE_DONE || SqliteStatement::failed(db, error);
}

SignedRecord AlarmTestTable::signedRecord(const QVector<AlarmTestRecord>& rows)
{
    SignedRecord s;
    s.kind = recordKind();
    if (rows.isEmpty())
        return s;
    const AlarmTestRecord& first = rows.first();
    s.id = QString::number(first.testId);
    s.add(QStringLiteral("time"), QString::number(first.time));
    s.add(QStringLiteral("user"), first.user);
    s.add(QStringLiteral("nodes"), first.nodes);
    for (const AlarmTestRecord& r : rows)
        s.add(QStringLiteral("target ") + r.target, r.answer + QStringLiteral(": ") + r.text);
    return s;
}

QString AlarmTestTable::signedRecordProblem(SqliteHandle db, const SignedRecord& signedFields)
{
    if (signedFields.kind != recordKind())
        return QStringLiteral("The signed record is not an alarm test.");
    bool numeric = false;
    const qint64 id = signedFields.id.toLongLong(&numeric);
    if (!numeric)
        return QStringLiteral("The signed record's id is not a number.");
    QVector<AlarmTestRecord> rows;
    QString error;
    int skipped = 0;
    if (!all(db, &rows, &error, &skipped))
        return QStringLiteral("The alarm-test log could not be read: ") + error;
    QVector<AlarmTestRecord> test;
    for (const AlarmTestRecord& r : qAsConst(rows)) {
        if (r.testId == id)
            test.append(r);
    }
    if (test.isEmpty())
        return skipped > 0 ? QStringLiteral("The signed test is no longer in the log as valid "
                                            "rows.")
                           : QStringLiteral("The signed test is no longer in the log.");
    // Its rows in the order they were signed in: the order they were written, by target.
    QVector<AlarmTestRecord> ordered;
    for (const auto& field : signedFields.fields) {
        if (!field.first.startsWith(QLatin1String("target ")))
            continue;
        const QString target = field.first.mid(7);
        for (const AlarmTestRecord& r : qAsConst(test)) {
            if (r.target == target)
                ordered.append(r);
        }
    }
    if (ordered.size() != test.size())
        return QStringLiteral("The test's targets are not those signed.");
    return signedFields.changedIn(signedRecord(ordered), QStringLiteral("test"));
}
