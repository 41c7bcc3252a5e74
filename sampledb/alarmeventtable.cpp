#include "alarmeventtable.h"

#include "sampletable.h"
#include "sqlitestatement.h"

#include <sqlite3.h>

#include <algorithm>

namespace {

const char* const NextChangeMark = "(select coalesce(max(changeMark), 0) + 1 from alarm_event)";

bool fail(sqlite3* db, QString* error)
{
    if (error)
        *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

void bindText(sqlite3_stmt* s, int index, const QString& text)
{
    if (text.isNull()) {
        sqlite3_bind_null(s, index);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(s, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

// Serial numbers are "not null": a null text binds as the empty one.
void bindSerial(sqlite3_stmt* s, int index, const QString& serial)
{
    bindText(s, index, serial.isNull() ? QStringLiteral("") : serial);
}

void bindDouble(sqlite3_stmt* s, int index, const std::optional<double>& value)
{
    if (value)
        sqlite3_bind_double(s, index, *value);
    else
        sqlite3_bind_null(s, index);
}

void bindTime(sqlite3_stmt* s, int index, const std::optional<qint64>& value)
{
    if (value)
        sqlite3_bind_int64(s, index, *value);
    else
        sqlite3_bind_null(s, index);
}

QString columnText(sqlite3_stmt* s, int column)
{
    if (sqlite3_column_type(s, column) == SQLITE_NULL)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, column)),
                             sqlite3_column_bytes(s, column));
}

std::optional<double> columnDouble(sqlite3_stmt* s, int column)
{
    if (sqlite3_column_type(s, column) == SQLITE_NULL)
        return std::nullopt;
    return sqlite3_column_double(s, column);
}

std::optional<qint64> columnTime(sqlite3_stmt* s, int column)
{
    if (sqlite3_column_type(s, column) == SQLITE_NULL)
        return std::nullopt;
    return sqlite3_column_int64(s, column);
}

bool stepDone(sqlite3* db, SqliteStatement& s, QString* error)
{
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

bool hasObject(sqlite3* db, const char* type, const QString& name)
{
    SqliteStatement s(db, "select 1 from sqlite_master where type = ? and name = ?");
    if (!s.isValid())
        return false;
    sqlite3_bind_text(s.get(), 1, type, -1, SQLITE_STATIC);
    bindText(s.get(), 2, name);
    return sqlite3_step(s.get()) == SQLITE_ROW;
}

// The corrective action's five fields from `first` on; NULL for an action not given.
void bindAction(sqlite3_stmt* s, int first, const CorrectiveAction& action)
{
    const QString* fields[] = {&action.cause, &action.actionTaken, &action.productAffected,
                               &action.quantity, &action.decidedBy};
    const bool given = !action.isEmpty();
    for (int i = 0; i < 5; ++i) {
        if (given)
            bindText(s, first + i, fields[i]->isNull() ? QStringLiteral("") : *fields[i]);
        else
            sqlite3_bind_null(s, first + i);
    }
}

bool insert(sqlite3* db, const AlarmEventRecord& r, QString* error)
{
    SqliteStatement s(db, AlarmEventTable::insertStatement().toUtf8());
    if (!s.isValid())
        return fail(db, error);
    sqlite3_bind_int64(s.get(), 1, r.id);
    bindSerial(s.get(), 2, r.serial);
    sqlite3_bind_int(s.get(), 3, r.channel);
    bindText(s.get(), 4, alarmKindText(r.kind));
    bindDouble(s.get(), 5, r.limit);
    sqlite3_bind_int64(s.get(), 6, r.start);
    sqlite3_bind_int64(s.get(), 7, r.raised);
    bindDouble(s.get(), 8, r.extremeValue);
    bindTime(s.get(), 9, r.extremeTime);
    bindTime(s.get(), 10, r.end);
    if (r.end)
        bindText(s.get(), 11, alarmEndText(r.ended));
    else
        sqlite3_bind_null(s.get(), 11);
    bindTime(s.get(), 12, r.acknowledgedAt);
    bindText(s.get(), 13, r.acknowledgedAt ? r.acknowledgedBy : QString());
    bindText(s.get(), 14, r.acknowledgedAt ? r.comment : QString());
    bindTime(s.get(), 15, r.continues);
    bindAction(s.get(), 16, r.acknowledgedAt ? r.action : CorrectiveAction());
    return stepDone(db, s, error);
}

bool hasColumn(sqlite3* db, const char* name)
{
    SqliteStatement s(db, "select 1 from pragma_table_info('alarm_event') where name = ?");
    if (!s.isValid())
        return false;
    sqlite3_bind_text(s.get(), 1, name, -1, SQLITE_STATIC);
    return sqlite3_step(s.get()) == SQLITE_ROW;
}

bool hasContinuesColumn(sqlite3* db)
{
    return hasColumn(db, "continuesId");
}

// The corrective action came last of the columns added to earlier tables: with it, all are there.
bool hasActionColumns(sqlite3* db)
{
    return hasColumn(db, "decidedBy");
}

const char* const ActionColumnNames[] = {"cause", "actionTaken", "product", "quantity",
                                         "decidedBy"};

bool closeEvent(sqlite3* db, const AlarmEventRecord& r, QString* error)
{
    SqliteStatement s(db, AlarmEventTable::closeStatement().toUtf8());
    if (!s.isValid())
        return fail(db, error);
    sqlite3_bind_int64(s.get(), 1, r.id);
    bindTime(s.get(), 2, r.end);
    bindText(s.get(), 3, alarmEndText(r.ended == AlarmEnd::Active ? AlarmEnd::Cleared : r.ended));
    bindDouble(s.get(), 4, r.extremeValue);
    bindTime(s.get(), 5, r.extremeTime);
    return stepDone(db, s, error);
}

// The latest moment the recorder is known to have seen the event's node after its start: its
// last stored sample with a value (through the range index only: a scan of a large file made
// before the index would hold the writer), or the latest sample noted for the node.
qint64 lastSeen(sqlite3* db, const QString& serial, qint64 after, bool indexed)
{
    qint64 seen = after;
    SqliteStatement noted(db, "select lastSample from alarm_node_seen where serialno = ?");
    if (noted.isValid()) {
        bindSerial(noted.get(), 1, serial);
        if (sqlite3_step(noted.get()) == SQLITE_ROW)
            seen = std::max(seen, sqlite3_column_int64(noted.get(), 0));
    }
    if (indexed) {
        SqliteStatement stored(db, "select max(pointDate) from quorbinal where serialno = ? and "
                                   "pointDate >= ? and (channel1 is not null or channel2 is not "
                                   "null)");
        if (stored.isValid()) {
            bindSerial(stored.get(), 1, serial);
            sqlite3_bind_int64(stored.get(), 2, after);
            if (sqlite3_step(stored.get()) == SQLITE_ROW &&
                sqlite3_column_type(stored.get(), 0) != SQLITE_NULL)
                seen = std::max(seen, sqlite3_column_int64(stored.get(), 0));
        }
    }
    return seen;
}

// Events a recorder left open when it ended without closing them (a crash, a power cut) end at
// their node's last sample before that, as stopped by the recorder. One by one: each gets a
// change mark of its own.
bool closeInterrupted(sqlite3* db, QString* error)
{
    struct Open
    {
        qint64 id;
        QString serial;
        qint64 after;
    };
    QVector<Open> open;
    {
        SqliteStatement s(db, "select id, serialno, max(startTime, raisedTime, "
                              "coalesce(extremeTime, 0)) from alarm_event where endTime is null "
                              "order by id");
        if (!s.isValid())
            return fail(db, error);
        int rc = SQLITE_OK;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
            open.append({sqlite3_column_int64(s.get(), 0), columnText(s.get(), 1),
                         sqlite3_column_int64(s.get(), 2)});
        if (rc != SQLITE_DONE)
            return fail(db, error);
    }
    const bool indexed = hasObject(db, "index", SampleTable::indexName());
    for (const Open& event : qAsConst(open)) {
        AlarmEventRecord r;
        r.id = event.id;
        r.end = lastSeen(db, event.serial, event.after, indexed);
        r.ended = AlarmEnd::RecorderStopped;
        if (!closeEvent(db, r, error))
            return false;
    }
    return true;
}

bool bindAndStep(sqlite3* db, const QString& sql, const AlarmEventWrite& w, QString* error)
{
    SqliteStatement s(db, sql.toUtf8());
    if (!s.isValid())
        return fail(db, error);
    const AlarmEventRecord& r = w.record;
    sqlite3_bind_int64(s.get(), 1, r.id);
    if (w.kind == AlarmEventWrite::Kind::Extreme) {
        bindDouble(s.get(), 2, r.extremeValue);
        bindTime(s.get(), 3, r.extremeTime);
    } else {
        bindTime(s.get(), 2, r.acknowledgedAt);
        bindText(s.get(), 3, r.acknowledgedBy.isNull() ? QStringLiteral("") : r.acknowledgedBy);
        bindText(s.get(), 4, r.comment.isNull() ? QStringLiteral("") : r.comment);
        bindAction(s.get(), 5, r.action);
    }
    return stepDone(db, s, error);
}

// Every event the statement yields, whole, after those `out` holds.
bool readRecords(sqlite3* db, const SqliteStatement& s, QVector<AlarmEventRecord>* out,
                 QString* error)
{
    if (!s.isValid())
        return fail(db, error);
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        AlarmEventRecord r;
        AlarmEventTable::readRecord(s.get(), &r);
        out->append(r);
    }
    return rc == SQLITE_DONE || fail(db, error);
}

bool noteLastSamples(sqlite3* db, const AlarmEventWrite& w, QString* error)
{
    SqliteStatement s(db, AlarmEventTable::lastSampleStatement().toUtf8());
    if (!s.isValid())
        return fail(db, error);
    for (const auto& [serial, time] : w.lastSamples) {
        s.reset(true);
        bindSerial(s.get(), 1, serial);
        sqlite3_bind_int64(s.get(), 2, time);
        if (!stepDone(db, s, error))
            return false;
    }
    return true;
}

} // namespace

QStringList AlarmEventTable::createStatements()
{
    return {
        QStringLiteral("create table if not exists alarm_event (id integer primary key, serialno "
                       "varchar(18) not null, channel integer not null, kind text not null, "
                       "limitValue float, startTime integer not null, raisedTime integer not "
                       "null, extremeValue float, extremeTime integer, endTime integer, "
                       "endReason text, ackTime integer, ackBy text, comment text, changeMark "
                       "integer not null, continuesId integer, cause text, actionTaken text, "
                       "product text, quantity text, decidedBy text)"),
        QStringLiteral("create unique index if not exists alarm_event_change on alarm_event "
                       "(changeMark)"),
        QStringLiteral("create index if not exists alarm_event_start on alarm_event (startTime)"),
        QStringLiteral("create table if not exists alarm_node_seen (serialno varchar(18) primary "
                       "key, lastSample integer not null) without rowid"),
    };
}

bool AlarmEventTable::create(SqliteHandle db, QString* error)
{
    for (const QString& statement : createStatements()) {
        if (sqlite3_exec(db, statement.toUtf8().constData(), nullptr, nullptr, nullptr) !=
            SQLITE_OK)
            return fail(db, error);
    }
    // A table an earlier version made gets the columns; readers of either version go on.
    if (!hasContinuesColumn(db) &&
        sqlite3_exec(db, "alter table alarm_event add column continuesId integer", nullptr,
                     nullptr, nullptr) != SQLITE_OK)
        return fail(db, error);
    if (hasActionColumns(db))
        return true;
    for (const char* name : ActionColumnNames) {
        if (hasColumn(db, name))
            continue;
        const QByteArray sql = QByteArray("alter table alarm_event add column ") + name +
                               QByteArray(" text");
        if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            return fail(db, error);
    }
    return true;
}

bool AlarmEventTable::exists(SqliteHandle db)
{
    return hasObject(db, "table", tableName());
}

QString AlarmEventTable::columns()
{
    return QStringLiteral("id, serialno, channel, kind, limitValue, startTime, raisedTime, "
                          "extremeValue, extremeTime, endTime, endReason, ackTime, ackBy, "
                          "comment, changeMark");
}

QString AlarmEventTable::actionColumns(SqliteHandle db)
{
    if (!hasActionColumns(db))
        return QStringLiteral(", null, null, null, null, null");
    return QStringLiteral(", cause, actionTaken, product, quantity, decidedBy");
}

QString AlarmEventTable::insertStatement()
{
    // An upsert: inserting an id again (a retried batch) replaces the row with the same values.
    return QStringLiteral("insert into alarm_event (") + columns() +
           QStringLiteral(", continuesId, cause, actionTaken, product, quantity, decidedBy) "
                          "values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ") +
           QLatin1String(NextChangeMark) +
           QStringLiteral(
               ", ?15, ?16, ?17, ?18, ?19, ?20) on conflict (id) do update set serialno = excluded.serialno, channel "
               "= excluded.channel, kind = excluded.kind, limitValue = "
               "excluded.limitValue, startTime = excluded.startTime, raisedTime = "
               "excluded.raisedTime, extremeValue = excluded.extremeValue, "
               "extremeTime = excluded.extremeTime, endTime = excluded.endTime, "
               "endReason = excluded.endReason, ackTime = excluded.ackTime, ackBy = "
               "excluded.ackBy, comment = excluded.comment, changeMark = "
               "excluded.changeMark, continuesId = excluded.continuesId, cause = excluded.cause, "
               "actionTaken = excluded.actionTaken, product = excluded.product, quantity = "
               "excluded.quantity, decidedBy = excluded.decidedBy");
}

QString AlarmEventTable::extremeStatement()
{
    return QStringLiteral("update alarm_event set extremeValue = ?2, extremeTime = ?3, changeMark "
                          "= ") +
           QLatin1String(NextChangeMark) +
           QStringLiteral(" where id = ?1 and (extremeValue is not ?2 or extremeTime is not ?3)");
}

QString AlarmEventTable::closeStatement()
{
    return QStringLiteral("update alarm_event set endTime = ?2, endReason = ?3, extremeValue = "
                          "coalesce(?4, extremeValue), extremeTime = coalesce(?5, extremeTime), "
                          "changeMark = ") +
           QLatin1String(NextChangeMark) + QStringLiteral(" where id = ?1 and endTime is null");
}

QString AlarmEventTable::acknowledgeStatement()
{
    // The first acknowledgement stands: an audit record is not written over.
    return QStringLiteral("update alarm_event set ackTime = ?2, ackBy = ?3, comment = ?4, "
                          "cause = ?5, actionTaken = ?6, product = ?7, quantity = ?8, "
                          "decidedBy = ?9, changeMark = ") +
           QLatin1String(NextChangeMark) + QStringLiteral(" where id = ?1 and ackTime is null");
}

QString AlarmEventTable::lastSampleStatement()
{
    return QStringLiteral("insert into alarm_node_seen (serialno, lastSample) values (?, ?) on "
                          "conflict (serialno) do update set lastSample = max(lastSample, "
                          "excluded.lastSample)");
}

QString AlarmEventTable::changesQuery(SqliteHandle db)
{
    return QStringLiteral("select ") + columns() + actionColumns(db) +
           QStringLiteral(" from alarm_event where changeMark > ? order by changeMark limit ?");
}

void AlarmEventTable::readRecord(sqlite3_stmt* s, AlarmEventRecord* r)
{
    r->id = sqlite3_column_int64(s, 0);
    r->serial = columnText(s, 1);
    r->channel = sqlite3_column_int(s, 2);
    alarmKindFromText(columnText(s, 3), &r->kind);
    r->limit = columnDouble(s, 4);
    r->start = sqlite3_column_int64(s, 5);
    r->raised = sqlite3_column_int64(s, 6);
    r->extremeValue = columnDouble(s, 7);
    r->extremeTime = columnTime(s, 8);
    r->end = columnTime(s, 9);
    if (!alarmEndFromText(columnText(s, 10), &r->ended) && r->end)
        r->ended = AlarmEnd::Cleared;
    if (!r->end)
        r->ended = AlarmEnd::Active;
    r->acknowledgedAt = columnTime(s, 11);
    r->acknowledgedBy = columnText(s, 12);
    r->comment = columnText(s, 13);
    r->changeMark = sqlite3_column_int64(s, 14);
    // Present in every statement that selects actionColumns() after columns().
    if (sqlite3_column_count(s) >= 20) {
        r->action.cause = columnText(s, 15);
        r->action.actionTaken = columnText(s, 16);
        r->action.productAffected = columnText(s, 17);
        r->action.quantity = columnText(s, 18);
        r->action.decidedBy = columnText(s, 19);
    }
}

bool AlarmEventTable::apply(SqliteHandle db, const AlarmEventWrite& write, QString* error)
{
    if ((!exists(db) || !hasActionColumns(db)) && !create(db, error))
        return false;
    switch (write.kind) {
    case AlarmEventWrite::Kind::Insert:
        return insert(db, write.record, error);
    case AlarmEventWrite::Kind::Extreme:
        return bindAndStep(db, extremeStatement(), write, error);
    case AlarmEventWrite::Kind::Close:
        return closeEvent(db, write.record, error);
    case AlarmEventWrite::Kind::Acknowledge:
        return bindAndStep(db, acknowledgeStatement(), write, error);
    case AlarmEventWrite::Kind::LastSamples:
        return noteLastSamples(db, write, error);
    case AlarmEventWrite::Kind::CloseInterrupted:
        return closeInterrupted(db, error);
    }
    return true;
}

bool AlarmEventTable::stoppedEvents(SqliteHandle db, QVector<AlarmEventRecord>* out, QString* error)
{
    out->clear();
    if (!exists(db))
        return true;
    // The latest event of each node and channel, when it ended with the recorder or is still
    // open (a recorder that died: the next start closes it as stopped).
    SqliteStatement s(db, "select id, serialno, channel, kind from alarm_event e where (endTime "
                          "is null or endReason = 'recorder stopped') and id = (select max(id) "
                          "from alarm_event f where f.serialno = e.serialno and f.channel = "
                          "e.channel) order by id");
    if (!s.isValid())
        return fail(db, error);
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        AlarmEventRecord r;
        r.id = sqlite3_column_int64(s.get(), 0);
        r.serial = columnText(s.get(), 1);
        r.channel = sqlite3_column_int(s.get(), 2);
        if (!alarmKindFromText(columnText(s.get(), 3), &r.kind))
            continue;
        r.ended = AlarmEnd::RecorderStopped;
        out->append(r);
    }
    return rc == SQLITE_DONE || fail(db, error);
}

bool AlarmEventTable::interruptedEvents(SqliteHandle db, QVector<AlarmEventRecord>* out,
                                        QString* error)
{
    out->clear();
    if (!exists(db))
        return true;
    const bool outbox = hasObject(db, "table", QStringLiteral("notification_outbox"));
    const QByteArray sql =
        QByteArray("select ") + (columns() + actionColumns(db)).toUtf8() +
        QByteArray(" from alarm_event e where endTime is null") +
        (outbox ? QByteArray(" and not exists (select 1 from notification_outbox o where "
                             "o.eventId = e.id and o.kind = 'clear')")
                : QByteArray()) +
        QByteArray(" order by id");
    SqliteStatement s(db, sql);
    if (!readRecords(db, s, out, error))
        return false;
    // The same end as closeInterrupted() gives them.
    const bool indexed = hasObject(db, "index", SampleTable::indexName());
    for (AlarmEventRecord& r : *out) {
        r.end = lastSeen(db, r.serial, std::max({r.start, r.raised, r.extremeTime.value_or(0)}),
                         indexed);
        r.ended = AlarmEnd::RecorderStopped;
    }
    return true;
}

qint64 AlarmEventTable::nextId(SqliteHandle db, QString* error)
{
    if (!exists(db))
        return 1;
    SqliteStatement s(db, "select coalesce(max(id), 0) + 1 from alarm_event");
    if (!s.isValid() || sqlite3_step(s.get()) != SQLITE_ROW) {
        fail(db, error);
        return -1;
    }
    return sqlite3_column_int64(s.get(), 0);
}

namespace {

// The statement of list() or count() with the filter's conditions bound.
SqliteStatement filtered(sqlite3* db, const QString& head, const AlarmEventFilter& filter,
                         const QString& tail)
{
    QStringList where;
    if (!filter.serial.isEmpty())
        where << QStringLiteral("serialno = :serial");
    if (filter.kind)
        where << QStringLiteral("kind = :kind");
    if (filter.to)
        where << QStringLiteral("startTime <= :to");
    if (filter.from)
        where << QStringLiteral("(endTime is null or endTime >= :from)");
    if (filter.unacknowledgedOnly)
        where << QStringLiteral("ackTime is null");
    if (filter.endedOnly)
        where << QStringLiteral("endTime is not null");
    QString sql = head;
    if (!where.isEmpty())
        sql += QStringLiteral(" where ") + where.join(QStringLiteral(" and "));
    sql += tail;
    SqliteStatement s(db, sql.toUtf8());
    if (!s.isValid())
        return s;
    auto parameter = [&s](const char* name) { return sqlite3_bind_parameter_index(s.get(), name); };
    if (!filter.serial.isEmpty())
        bindSerial(s.get(), parameter(":serial"), filter.serial);
    if (filter.kind)
        bindText(s.get(), parameter(":kind"), alarmKindText(*filter.kind));
    if (filter.to)
        sqlite3_bind_int64(s.get(), parameter(":to"), *filter.to);
    if (filter.from)
        sqlite3_bind_int64(s.get(), parameter(":from"), *filter.from);
    if (const int limit = parameter(":limit"))
        sqlite3_bind_int(s.get(), limit, std::max(filter.limit, 0));
    return s;
}

} // namespace

bool AlarmEventTable::list(SqliteHandle db, const AlarmEventFilter& filter,
                           QVector<AlarmEventRecord>* out, QString* error)
{
    out->clear();
    if (!exists(db))
        return true;
    SqliteStatement s = filtered(
        db, QStringLiteral("select ") + columns() + actionColumns(db) +
                QStringLiteral(" from alarm_event"),
        filter,
        QStringLiteral(" order by endTime is not null, startTime desc, id desc limit :limit"));
    return readRecords(db, s, out, error);
}

qint64 AlarmEventTable::count(SqliteHandle db, const AlarmEventFilter& filter, QString* error)
{
    if (!exists(db))
        return 0;
    SqliteStatement s =
        filtered(db, QStringLiteral("select count(*) from alarm_event"), filter, QString());
    if (!s.isValid() || sqlite3_step(s.get()) != SQLITE_ROW) {
        fail(db, error);
        return -1;
    }
    return sqlite3_column_int64(s.get(), 0);
}

bool AlarmEventTable::changesSince(SqliteHandle db, qint64 mark, int limit,
                                   QVector<AlarmEventRecord>* out, QString* error)
{
    out->clear();
    if (!exists(db))
        return true;
    SqliteStatement s(db, changesQuery(db).toUtf8());
    if (s.isValid()) {
        sqlite3_bind_int64(s.get(), 1, mark);
        sqlite3_bind_int(s.get(), 2, std::max(limit, 0));
    }
    return readRecords(db, s, out, error);
}
