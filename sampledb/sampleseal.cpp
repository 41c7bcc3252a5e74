#include "sampleseal.h"

#include "auditentry.h"
#include "audittrail.h"
#include "sampletable.h"
#include "sealdigest.h"
#include "sqlitestatement.h"

#include <QDateTime>
#include <QRegularExpression>

#include <sqlite3.h>

#include <vector>

namespace {

bool fail(sqlite3* db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

const char* const CreateSeals = "create table if not exists quorbinal_seals (quarter integer "
                                "primary key, sequence integer not null)";

bool ensureSeals(sqlite3* db, QString* error)
{
    return sqlite3_exec(db, CreateSeals, nullptr, nullptr, nullptr) == SQLITE_OK ||
           fail(db, error);
}

// The newest sealed quarter, or none.
bool newestSealed(sqlite3* db, bool* any, qint64* quarter, QString* error)
{
    SqliteStatement s(db, "select max(quarter) from quorbinal_seals");
    if (!s.isValid())
        return fail(db, error);
    if (sqlite3_step(s.get()) != SQLITE_ROW)
        return fail(db, error);
    *any = sqlite3_column_type(s.get(), 0) != SQLITE_NULL;
    *quarter = sqlite3_column_int64(s.get(), 0);
    return true;
}

} // namespace

qint64 SampleSeal::quarterOfSeconds(qint64 seconds)
{
    return seconds >= 0 ? seconds / QuarterSeconds
                        : -((-seconds + QuarterSeconds - 1) / QuarterSeconds);
}

QString SampleSeal::objectOf(qint64 quarter)
{
    return QDateTime::fromSecsSinceEpoch(quarter * QuarterSeconds, Qt::UTC)
               .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QLatin1Char('Z');
}

bool SampleSeal::parseObject(const QString& object, qint64* quarter)
{
    if (!object.endsWith(QLatin1Char('Z')))
        return false;
    const QDateTime read =
        QDateTime::fromString(object.left(object.size() - 1), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (!read.isValid())
        return false;
    const qint64 seconds = QDateTime(read.date(), read.time(), Qt::UTC).toSecsSinceEpoch();
    if (seconds % QuarterSeconds != 0)
        return false;
    *quarter = seconds / QuarterSeconds;
    return objectOf(*quarter) == object;
}

QString SampleSeal::valueOf(qint64 rows, const QByteArray& digest)
{
    return QStringLiteral("rows ") + QString::number(rows) + QStringLiteral(", sha256 ") +
           QString::fromLatin1(digest);
}

bool SampleSeal::parseValue(const QString& value, qint64* rows, QByteArray* digest)
{
    static const QRegularExpression form(QStringLiteral("^rows (\\d{1,18}), sha256 ([0-9a-f]{64})$"));
    const QRegularExpressionMatch match = form.match(value);
    if (!match.hasMatch())
        return false;
    *rows = match.captured(1).toLongLong();
    *digest = match.captured(2).toLatin1();
    return true;
}

bool SampleSeal::parseEntry(const AuditEntry& entry, qint64* quarter, qint64* rows,
                            QByteArray* digest)
{
    return entry.action == action() && entry.user == user() &&
           parseObject(entry.object, quarter) && parseValue(entry.newValue, rows, digest);
}

bool SampleSeal::digestOf(SqliteHandle handle, qint64 quarter, qint64* rows, QByteArray* digest,
                          QString* error)
{
    sqlite3* db = handle;
    // The nodes one index seek at a time, then each node's rows of the quarter through the
    // index: a seal reads its quarter, never the table.
    SqliteStatement nodes(db, "with recursive node(serial) as (select (select min(serialno) "
                              "from quorbinal) union all select (select min(serialno) from "
                              "quorbinal where serialno > node.serial) from node where "
                              "node.serial is not null) select serial from node where serial is "
                              "not null");
    SqliteStatement rowsOf(db, "select id, serialno, pointDate, channel1, channel2 from "
                               "quorbinal where serialno = ? and pointDate >= ? and pointDate < ? "
                               "order by id");
    if (!nodes.isValid() || !rowsOf.isValid())
        return fail(db, error);
    SealDigest fold;
    int rc;
    while ((rc = sqlite3_step(nodes.get())) == SQLITE_ROW) {
        sqlite3_bind_value(rowsOf.get(), 1, sqlite3_column_value(nodes.get(), 0));
        sqlite3_bind_int64(rowsOf.get(), 2, quarter * QuarterSeconds);
        sqlite3_bind_int64(rowsOf.get(), 3, (quarter + 1) * QuarterSeconds);
        int step;
        while ((step = sqlite3_step(rowsOf.get())) == SQLITE_ROW)
            fold.addRow(rowsOf.get());
        if (step != SQLITE_DONE)
            return fail(db, error);
        sqlite3_reset(rowsOf.get());
    }
    if (rc != SQLITE_DONE)
        return fail(db, error);
    *rows = fold.rows();
    *digest = fold.result();
    return true;
}

bool SampleSeal::seal(SqliteHandle handle, qint64 quarter, qint64 timeMs, const QString& reason,
                      QString* error)
{
    sqlite3* db = handle;
    qint64 rows = 0;
    QByteArray digest;
    if (!ensureSeals(db, error) || !digestOf(db, quarter, &rows, &digest, error))
        return false;
    AuditEntry entry;
    entry.timeMs = timeMs;
    entry.user = user();
    entry.action = action();
    entry.object = objectOf(quarter);
    entry.newValue = valueOf(rows, digest);
    entry.reason = reason;
    if (!AuditTrail::append(db, &entry, error))
        return false;
    SqliteStatement s(db, "insert into quorbinal_seals (quarter, sequence) values (?, ?) on "
                          "conflict (quarter) do update set sequence = excluded.sequence");
    if (!s.isValid())
        return fail(db, error);
    sqlite3_bind_int64(s.get(), 1, quarter);
    sqlite3_bind_int64(s.get(), 2, entry.sequence);
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

bool SampleSeal::catchUp(SqliteHandle handle, qint64 throughQuarter, qint64 timeMs,
                         QString* error)
{
    sqlite3* db = handle;
    bool any = false;
    qint64 newest = 0;
    if (!ensureSeals(db, error) || !newestSealed(db, &any, &newest, error))
        return false;
    if (!any)
        return true;
    SqliteStatement period(db, SampleTable::recordedPeriodQuery(true).toUtf8());
    if (!period.isValid() || sqlite3_step(period.get()) != SQLITE_ROW)
        return fail(db, error);
    if (sqlite3_column_type(period.get(), 1) == SQLITE_NULL)
        return true;
    const qint64 last = std::min(quarterOfSeconds(sqlite3_column_int64(period.get(), 1)),
                                 throughQuarter);
    period.finalize();
    for (qint64 quarter = newest + 1; quarter <= last; ++quarter) {
        if (!seal(db, quarter, timeMs, catchUpReason(), error))
            return false;
    }
    return true;
}

bool SampleSeal::resealLate(SqliteHandle handle, const std::set<qint64>& quarters, qint64 timeMs,
                            QString* error)
{
    if (quarters.empty())
        return true;
    sqlite3* db = handle;
    std::vector<qint64> sealed;
    {
        SqliteStatement s(db, "select 1 from quorbinal_seals where quarter = ?");
        // Without the table nothing was sealed yet (made by the first seal, not by every flush).
        if (!s.isValid())
            return sqlite3_table_column_metadata(db, nullptr, "quorbinal_seals", nullptr, nullptr,
                                                 nullptr, nullptr, nullptr, nullptr) != SQLITE_OK ||
                   fail(db, error);
        for (const qint64 quarter : quarters) {
            sqlite3_bind_int64(s.get(), 1, quarter);
            const int rc = sqlite3_step(s.get());
            if (rc == SQLITE_ROW)
                sealed.push_back(quarter);
            else if (rc != SQLITE_DONE)
                return fail(db, error);
            sqlite3_reset(s.get());
        }
    }
    for (const qint64 quarter : sealed) {
        if (!seal(db, quarter, timeMs, lateRowsReason(), error))
            return false;
    }
    return true;
}
