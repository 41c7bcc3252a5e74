#include "outboxtable.h"

#include "sampletable.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"

#include <QRandomGenerator>

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

bool hasSupersededColumn(sqlite3* db)
{
    SqliteStatement s(db, "select 1 from pragma_table_info('notification_outbox') where name = "
                          "'supersededAt'");
    return s.isValid() && sqlite3_step(s.get()) == SQLITE_ROW;
}

bool hasAttachmentColumns(sqlite3* db)
{
    SqliteStatement s(db, "select count(*) from pragma_table_info('notification_outbox') where "
                          "name in ('attachmentName', 'attachment')");
    return s.isValid() && sqlite3_step(s.get()) == SQLITE_ROW &&
           sqlite3_column_int(s.get(), 0) == 2;
}

// `where` and `order` complete the select; a table of an earlier version reads as holding no
// superseded row.
bool read(sqlite3* db, const char* where, QVector<OutboxRecord>* out, QString* error)
{
    out->clear();
    if (!OutboxTable::exists(db))
        return true;
    const QByteArray sql =
        QByteArray("select messageId, eventId, kind, target, body, created, attempts, "
                   "nextAttemptMs, sentAt, lastError, ") +
        (hasSupersededColumn(db) ? "supersededAt" : "null as supersededAt") +
        (hasAttachmentColumns(db) ? ", attachmentName, attachment"
                                  : ", null as attachmentName, null as attachment") +
        " from notification_outbox " + where;
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
        if (sqlite3_column_type(s.get(), 10) != SQLITE_NULL)
            r.supersededAt = sqlite3_column_int64(s.get(), 10);
        r.attachmentName = columnText(s.get(), 11);
        if (sqlite3_column_type(s.get(), 12) != SQLITE_NULL) {
            const void* bytes = sqlite3_column_blob(s.get(), 12);
            const int size = sqlite3_column_bytes(s.get(), 12);
            // An empty BLOB reads as a null pointer: an empty, not a null, array.
            r.attachment = size > 0 ? QByteArray(static_cast<const char*>(bytes), size)
                                    : QByteArray("");
        }
        out->append(r);
    }
    return rc == SQLITE_DONE || fail(db, error);
}

} // namespace

bool OutboxTable::create(SqliteHandle db, QString* error)
{
    const char* sql = "create table if not exists notification_outbox ("
                      "id integer primary key, messageId text not null, eventId integer not null, "
                      "kind text not null, target text not null, body text not null, "
                      "created integer not null, attempts integer not null default 0, "
                      "nextAttemptMs integer not null default 0, sentAt integer, "
                      "lastError text not null default '', supersededAt integer, "
                      "attachmentName text, attachment blob, unique (messageId, target))";
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(db, error);
    // A table an earlier version made gets the columns; its rows stay as they were.
    if (!hasSupersededColumn(db) &&
        sqlite3_exec(db, "alter table notification_outbox add column supersededAt integer",
                     nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(db, error);
    if (hasAttachmentColumns(db))
        return true;
    for (const char* column : {"attachmentName text", "attachment blob"}) {
        const QByteArray name = QByteArray(column).split(' ').first();
        SqliteStatement has(db, "select 1 from pragma_table_info('notification_outbox') where "
                                "name = '" + name + "'");
        if (has.isValid() && sqlite3_step(has.get()) == SQLITE_ROW)
            continue;
        const QByteArray alter = QByteArray("alter table notification_outbox add column ") + column;
        if (sqlite3_exec(db, alter.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            return fail(db, error);
    }
    return true;
}

bool OutboxTable::exists(SqliteHandle db)
{
    SqliteStatement s(db, "select 1 from sqlite_master where type = 'table' and name = "
                          "'notification_outbox'");
    return s.isValid() && sqlite3_step(s.get()) == SQLITE_ROW;
}

bool OutboxTable::add(SqliteHandle db, const OutboxRecord& r, QString* error)
{
    if (!create(db, error))
        return false;
    SqliteStatement s(db, "insert or ignore into notification_outbox (messageId, eventId, kind, "
                          "target, body, created, attempts, nextAttemptMs, lastError, "
                          "attachmentName, attachment) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
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
    if (!r.attachmentName.isEmpty()) {
        bindText(s.get(), 10, r.attachmentName);
        sqlite3_bind_blob64(s.get(), 11, r.attachment.constData(),
                            sqlite3_uint64(r.attachment.size()), SQLITE_TRANSIENT);
    }
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

bool OutboxTable::noteAttempt(SqliteHandle db, const QString& messageId, const QString& target,
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

bool OutboxTable::markSent(SqliteHandle db, const QString& messageId, const QString& target,
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

bool OutboxTable::markSuperseded(SqliteHandle db, const QString& messageId, const QString& target,
                                 qint64 at, QString* error)
{
    if (!create(db, error))
        return false;
    SqliteStatement s(db, "update notification_outbox set supersededAt = ? where messageId = ? "
                          "and target = ? and sentAt is null and supersededAt is null");
    if (!s.isValid())
        return fail(db, error);
    sqlite3_bind_int64(s.get(), 1, at);
    bindText(s.get(), 2, messageId);
    bindText(s.get(), 3, target);
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

bool OutboxTable::pruneSentBodies(SqliteHandle db, qint64 sentBefore, QString* error)
{
    if (!exists(db))
        return true;
    // The attachment goes with the body; a table of an earlier version has none.
    const QByteArray drop =
        hasAttachmentColumns(db) ? "body = '', attachment = null where sentAt is not null and "
                                   "sentAt < ? and (body <> '' or attachment is not null)"
                                 : "body = '' where sentAt is not null and sentAt < ? and "
                                   "body <> ''";
    SqliteStatement s(db, "update notification_outbox set " + drop);
    if (!s.isValid())
        return fail(db, error);
    sqlite3_bind_int64(s.get(), 1, sentBefore);
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

bool OutboxTable::origin(SqliteHandle db, QString* origin, QString* error)
{
    if (sqlite3_exec(db, SampleTable::createStateStatement().toUtf8().constData(), nullptr, nullptr,
                     nullptr) != SQLITE_OK)
        return fail(db, error);
    const QByteArray state = SampleTable::stateName().toUtf8();
    // Drawn here, kept if another writer stored its own first: the file's origin never changes.
    {
        SqliteStatement s(db, "insert into " + state +
                                  " (name, value) values (?, ?), (?, ?) on conflict (name) do "
                                  "nothing");
        if (!s.isValid())
            return fail(db, error);
        const QByteArray high = originHighName().toUtf8();
        const QByteArray low = originLowName().toUtf8();
        sqlite3_bind_text(s.get(), 1, high.constData(), int(high.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(s.get(), 2, qint64(QRandomGenerator::system()->generate64()));
        sqlite3_bind_text(s.get(), 3, low.constData(), int(low.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(s.get(), 4, qint64(QRandomGenerator::system()->generate64()));
        if (sqlite3_step(s.get()) != SQLITE_DONE)
            return fail(db, error);
    }
    const QByteArray value = "(select value from " + state + " where name = ?)";
    SqliteStatement s(db, "select " + value + ", " + value);
    if (!s.isValid())
        return fail(db, error);
    bindText(s.get(), 1, originHighName());
    bindText(s.get(), 2, originLowName());
    if (sqlite3_step(s.get()) != SQLITE_ROW || sqlite3_column_type(s.get(), 0) != SQLITE_INTEGER ||
        sqlite3_column_type(s.get(), 1) != SQLITE_INTEGER) {
        if (error)
            *error = QStringLiteral("message origin not readable");
        return false;
    }
    *origin = QString::number(quint64(sqlite3_column_int64(s.get(), 0)), 16)
                  .rightJustified(16, QLatin1Char('0')) +
              QString::number(quint64(sqlite3_column_int64(s.get(), 1)), 16)
                  .rightJustified(16, QLatin1Char('0'));
    return true;
}

bool OutboxTable::unsent(SqliteHandle db, QVector<OutboxRecord>* out, QString* error)
{
    // Before the column existed nothing was superseded: every row without sentAt waits.
    const bool column = exists(db) && hasSupersededColumn(db);
    return read(db,
                column ? "where sentAt is null and supersededAt is null order by id"
                       : "where sentAt is null order by id",
                out, error);
}

bool OutboxTable::unsentIn(const QString& databasePath, QVector<OutboxRecord>* out, QString* error)
{
    SqliteConnection db;
    if (!db.open(databasePath, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX)) {
        if (error)
            *error = db.errorText();
        return false;
    }
    sqlite3_busy_timeout(db.get(), UnsentBusyTimeoutMs);
    return unsent(db.get(), out, error);
}

bool OutboxTable::all(SqliteHandle db, QVector<OutboxRecord>* out, QString* error)
{
    return read(db, "order by id", out, error);
}
