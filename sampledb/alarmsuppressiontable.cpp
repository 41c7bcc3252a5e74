#include "alarmsuppressiontable.h"

#include "checkedrows.h"
#include "signedrecord.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"

#include <QDebug>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <functional>

namespace {

const char* const CreateTable =
    "create table if not exists alarm_suppression (id integer primary key, kind text not null, "
    "serial text not null, channel integer not null, fromTime integer not null, untilTime "
    "integer not null, reason text not null, user text not null, endedTime integer)";
const char* const NoDelete =
    "create trigger if not exists alarm_suppression_no_delete before delete on "
    "alarm_suppression begin select raise(abort, 'suppressions are kept'); end";
const char* const Columns = "id, kind, serial, channel, fromTime, untilTime, reason, user, "
                            "endedTime";
// A row of a select of Columns; false for one whose kind no version wrote.
bool rowAt(sqlite3_stmt* s, AlarmSuppression* r)
{
    const auto kind = AlarmSuppression::kindFromText(SqliteStatement::textAt(s, 1));
    if (!kind)
        return false;
    r->id = sqlite3_column_int64(s, 0);
    r->kind = *kind;
    r->serial = SqliteStatement::textAt(s, 2);
    r->channel = int(qBound<qint64>(0, sqlite3_column_int64(s, 3), 2));
    r->from = sqlite3_column_int64(s, 4);
    r->until = sqlite3_column_int64(s, 5);
    r->reason = SqliteStatement::textAt(s, 6);
    r->user = SqliteStatement::textAt(s, 7);
    if (sqlite3_column_type(s, 8) != SQLITE_NULL)
        r->ended = sqlite3_column_int64(s, 8);
    return true;
}

// The rows `where` selects, with one or two values bound; a row whose kind no version wrote is
// left out with a note.
bool select(sqlite3* db, const QByteArray& where, qint64 a, qint64 b, bool twoValues,
            QVector<AlarmSuppression>* rows, QString* error)
{
    return CheckedRows::read<AlarmSuppression>(
        db, "alarm_suppression",
        QByteArray("select ") + Columns + " from alarm_suppression where " + where +
            " order by fromTime, id",
        [a, b, twoValues](sqlite3_stmt* s) {
            sqlite3_bind_int64(s, 1, a);
            if (twoValues)
                sqlite3_bind_int64(s, 2, b);
        },
        rowAt,
        [](sqlite3_stmt* s) {
            qWarning().noquote() << "Alarm suppression" << sqlite3_column_int64(s, 0)
                                 << "has a kind no version wrote; it is left out";
        },
        rows, error, nullptr);
}

// The end a row holds until: its early end, or its time.
const char* const EndExpression = "min(coalesce(endedTime, untilTime), untilTime)";

} // namespace

bool AlarmSuppressionTable::ensureTable(SqliteHandle db, QString* error)
{
    for (const char* sql : {CreateTable, NoDelete}) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            return SqliteStatement::failed(db, error);
    }
    return true;
}

bool AlarmSuppressionTable::insert(SqliteHandle db, const AlarmSuppression& r, QString* error)
{
    if (!ensureTable(db, error))
        return false;
    SqliteStatement s(db, QByteArray("insert into alarm_suppression (") + Columns +
                              ") values (?, ?, ?, ?, ?, ?, ?, ?, ?) on conflict (id) do nothing");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    sqlite3_bind_int64(s.get(), 1, r.id);
    SqliteStatement::bindText(s.get(), 2, AlarmSuppression::kindText(r.kind));
    SqliteStatement::bindText(s.get(), 3, r.serial);
    sqlite3_bind_int(s.get(), 4, r.channel);
    sqlite3_bind_int64(s.get(), 5, r.from);
    sqlite3_bind_int64(s.get(), 6, r.until);
    SqliteStatement::bindText(s.get(), 7, r.reason);
    SqliteStatement::bindText(s.get(), 8, r.user);
    if (r.ended)
        sqlite3_bind_int64(s.get(), 9, *r.ended);
    else
        sqlite3_bind_null(s.get(), 9);
    return sqlite3_step(s.get()) == SQLITE_DONE || SqliteStatement::failed(db, error);
}

bool AlarmSuppressionTable::endEarly(SqliteHandle db, qint64 id, qint64 endedTime, QString* error)
{
    if (!ensureTable(db, error))
        return false;
    SqliteStatement s(db, "update alarm_suppression set endedTime = max(?, fromTime) where id = ? "
                          "and endedTime is null");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    sqlite3_bind_int64(s.get(), 1, endedTime);
    sqlite3_bind_int64(s.get(), 2, id);
    return sqlite3_step(s.get()) == SQLITE_DONE || SqliteStatement::failed(db, error);
}

bool AlarmSuppressionTable::holdingAt(SqliteHandle db, qint64 at, QVector<AlarmSuppression>* rows,
                                      QString* error)
{
    return select(db, QByteArray("fromTime <= ?1 and ") + EndExpression + " > ?1", at, 0, false,
                  rows, error);
}

bool AlarmSuppressionTable::overlapping(SqliteHandle db, qint64 from, qint64 to,
                                        QVector<AlarmSuppression>* rows, QString* error)
{
    return select(db, QByteArray("fromTime < ?2 and ") + EndExpression + " > ?1", from, to, true,
                  rows, error);
}

bool AlarmSuppressionTable::find(SqliteHandle db, qint64 id, std::optional<AlarmSuppression>* row,
                                 QString* error)
{
    row->reset();
    QVector<AlarmSuppression> rows;
    if (!select(db, "id = ?1", id, 0, false, &rows, error))
        return false;
    if (!rows.isEmpty())
        *row = rows.first();
    return true;
}

SignedRecord AlarmSuppressionTable::signedRecord(const AlarmSuppression& r)
{
    SignedRecord s;
    s.kind =
        r.kind == AlarmSuppression::Kind::Shelve ? shelveRecordKind() : outOfServiceRecordKind();
    s.id = QString::number(r.id);
    s.add(QStringLiteral("node"), r.serial);
    if (r.kind == AlarmSuppression::Kind::Shelve)
        s.add(QStringLiteral("channel"), QString::number(r.channel));
    s.add(QStringLiteral("from"), QString::number(r.from));
    s.add(QStringLiteral("until"), QString::number(r.until));
    s.add(QStringLiteral("reason"), r.reason);
    s.add(QStringLiteral("user"), r.user);
    return s;
}

QString AlarmSuppressionTable::signedRecordProblem(SqliteHandle db,
                                                   const SignedRecord& signedFields)
{
    const bool shelve = signedFields.kind == shelveRecordKind();
    if (!shelve && signedFields.kind != outOfServiceRecordKind())
        return QStringLiteral("The signed record is not a shelve or an out-of-service time.");
    bool numeric = false;
    const qint64 id = signedFields.id.toLongLong(&numeric);
    if (!numeric)
        return QStringLiteral("The signed record's id is not a number.");
    std::optional<AlarmSuppression> row;
    QString error;
    if (!find(db, id, &row, &error))
        return QStringLiteral("The table of shelves could not be read: ") + error;
    if (!row)
        return QStringLiteral("The signed record is no longer in the table.");
    const bool rowShelve = row->kind == AlarmSuppression::Kind::Shelve;
    if (rowShelve != shelve)
        return QStringLiteral("The record is now of another kind than the one signed.");
    return signedFields.changedIn(signedRecord(*row), QStringLiteral("record"));
}

namespace {

bool readWith(const QString& databasePath, QVector<AlarmSuppression>* rows, QString* error,
              const std::function<bool(SqliteHandle)>& read)
{
    rows->clear();
    if (!QFileInfo::exists(databasePath))
        return true;
    SqliteConnection connection;
    if (!connection.openReadOnly(databasePath, 2000)) {
        *error = connection.errorText();
        return false;
    }
    return read(connection.get());
}

} // namespace

bool AlarmSuppressionTable::readHolding(const QString& databasePath, qint64 at,
                                        QVector<AlarmSuppression>* rows, QString* error)
{
    return readWith(databasePath, rows, error,
                    [&](SqliteHandle db) { return holdingAt(db, at, rows, error); });
}

bool AlarmSuppressionTable::readOverlapping(const QString& databasePath, qint64 from, qint64 to,
                                            QVector<AlarmSuppression>* rows, QString* error)
{
    return readWith(databasePath, rows, error,
                    [&](SqliteHandle db) { return overlapping(db, from, to, rows, error); });
}
