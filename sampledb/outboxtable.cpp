#include "outboxtable.h"

#include "sqlitestatement.h"

#include <sqlite3.h>

namespace {

bool fail(sqlite3* db, QString* error)
{
    if (error)
        *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

void bindText(sqlite3_stmt* s, int index, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(s, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QString columnText(sqlite3_stmt* s, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, column)),
                             sqlite3_column_bytes(s, column));
}

bool read(sqlite3* db, const char* sql, QVector<OutboxRecord>* out, QString* error)
{
    out->clear();
    if (!OutboxTable::exists(db))
        return true;
    SqliteStatement s(db, sql);
    if (!s.isValid())
        return fail(db, error);
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        OutboxRecord r;
        r.messageId = columnText(s.get(), 0);
        r.eventId = sqlite3_column_int64(s.get(), 1);
        r.kind = columnText(s.get(), 2);
        r.target = columnText(s.get(), 3);
        r.body = columnText(s.get(), 4);
        r.created = sqlite3_column_int64(s.get(), 5);
        r.attempts = sqlite3_column_int(s.get(), 6);
        r.nextAttemptMs = sqlite3_column_int64(s.get(), 7);
        if (sqlite3_column_type(s.get(), 8) != SQLITE_NULL)
            r.sentAt = sqlite3_column_int64(s.get(), 8);
        r.lastError = columnText(s.get(), 9);
        out->append(r);
    }
    return rc == SQLITE_DONE || fail(db, error);
}

} // namespace

bool OutboxTable::create(sqlite3* db, QString* error)
{
    const char* sql = "create table if not exists notification_outbox ("
                      "id integer primary key, messageId text not null, eventId integer not null, "
                      "kind text not null, target text not null, body text not null, "
                      "created integer not null, attempts integer not null default 0, "
                      "nextAttemptMs integer not null default 0, sentAt integer, "
                      "lastError text not null default '', unique (messageId, target))";
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK || fail(db, error);
}

bool OutboxTable::exists(sqlite3* db)
{
    SqliteStatement s(db, "select 1 from sqlite_master where type = 'table' and name = "
                          "'notification_outbox'");
    return s.isValid() && sqlite3_step(s.get()) == SQLITE_ROW;
}

bool OutboxTable::add(sqlite3* db, const OutboxRecord& r, QString* error)
{
    if (!create(db, error))
        return false;
    SqliteStatement s(db, "insert or ignore into notification_outbox (messageId, eventId, kind, "
                          "target, body, created, attempts, nextAttemptMs, lastError) values "
                          "(?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!s.isValid())
        return fail(db, error);
    bindText(s.get(), 1, r.messageId);
    sqlite3_bind_int64(s.get(), 2, r.eventId);
    bindText(s.get(), 3, r.kind);
    bindText(s.get(), 4, r.target);
    bindText(s.get(), 5, r.body);
    sqlite3_bind_int64(s.get(), 6, r.created);
    sqlite3_bind_int(s.get(), 7, r.attempts);
    sqlite3_bind_int64(s.get(), 8, r.nextAttemptMs);
    bindText(s.get(), 9, r.lastError);
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

bool OutboxTable::noteAttempt(sqlite3* db, const QString& messageId, const QString& target,
                              int attempts, qint64 nextAttemptMs, const QString& lastError,
                              QString* error)
{
    if (!create(db, error))
        return false;
    // A message already sent keeps its record: a late failure of a copy changes nothing.
    SqliteStatement s(db, "update notification_outbox set attempts = ?, nextAttemptMs = ?, "
                          "lastError = ? where messageId = ? and target = ? and sentAt is null");
    if (!s.isValid())
        return fail(db, error);
    sqlite3_bind_int(s.get(), 1, attempts);
    sqlite3_bind_int64(s.get(), 2, nextAttemptMs);
    bindText(s.get(), 3, lastError);
    bindText(s.get(), 4, messageId);
    bindText(s.get(), 5, target);
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

bool OutboxTable::markSent(sqlite3* db, const QString& messageId, const QString& target,
                           qint64 sentAt, QString* error)
{
    if (!create(db, error))
        return false;
    SqliteStatement s(db, "update notification_outbox set sentAt = ?, attempts = attempts + 1 "
                          "where messageId = ? and target = ? and sentAt is null");
    if (!s.isValid())
        return fail(db, error);
    sqlite3_bind_int64(s.get(), 1, sentAt);
    bindText(s.get(), 2, messageId);
    bindText(s.get(), 3, target);
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

bool OutboxTable::unsent(sqlite3* db, QVector<OutboxRecord>* out, QString* error)
{
    return read(db,
                "select messageId, eventId, kind, target, body, created, attempts, nextAttemptMs, "
                "sentAt, lastError from notification_outbox where sentAt is null order by id",
                out, error);
}

bool OutboxTable::all(sqlite3* db, QVector<OutboxRecord>* out, QString* error)
{
    return read(db,
                "select messageId, eventId, kind, target, body, created, attempts, nextAttemptMs, "
                "sentAt, lastError from notification_outbox order by id",
                out, error);
}
