#include "sampleseal.h"

#include "auditentry.h"
#include "audittrail.h"
#include "sampletable.h"
#include "sealdigest.h"
#include "sqlitestatement.h"

#include <QDateTime>
#include <QDebug>
#include <QRegularExpression>
#include <QVector>

#include <sqlite3.h>

#include <algorithm>
#include <limits>
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

// The newest sealed quarter and the sequence of its newest seal, or none.
bool newestSealed(sqlite3* db, bool* any, qint64* quarter, qint64* sequence, QString* error)
{
    SqliteStatement s(db, "select quarter, sequence from quorbinal_seals order by quarter desc "
                          "limit 1");
    if (!s.isValid())
        return fail(db, error);
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return fail(db, error);
    *any = rc == SQLITE_ROW;
    *quarter = *any ? sqlite3_column_int64(s.get(), 0) : 0;
    *sequence = *any ? sqlite3_column_int64(s.get(), 1) : 0;
    return true;
}

// The nodes one index seek at a time: a seal reads its quarter, never the table.
const char* const NodesQuery =
    "with recursive node(serial) as (select (select min(serialno) from quorbinal) union all "
    "select (select min(serialno) from quorbinal where serialno > node.serial) from node where "
    "node.serial is not null) select serial from node where serial is not null";

// Each node's rows of `quarter` with an id up to `lastId`, through the index, into `fold`.
bool foldQuarter(sqlite3* db, qint64 quarter, qint64 lastId, SealDigest* fold, QString* error)
{
    SqliteStatement nodes(db, NodesQuery);
    SqliteStatement rowsOf(db, "select id, serialno, pointDate, channel1, channel2 from "
                               "quorbinal where serialno = ? and pointDate >= ? and pointDate < ? "
                               "and id <= ? order by id");
    if (!nodes.isValid() || !rowsOf.isValid())
        return fail(db, error);
    int rc;
    while ((rc = sqlite3_step(nodes.get())) == SQLITE_ROW) {
        sqlite3_bind_value(rowsOf.get(), 1, sqlite3_column_value(nodes.get(), 0));
        sqlite3_bind_int64(rowsOf.get(), 2, quarter * SampleSeal::QuarterSeconds);
        sqlite3_bind_int64(rowsOf.get(), 3, (quarter + 1) * SampleSeal::QuarterSeconds);
        sqlite3_bind_int64(rowsOf.get(), 4, lastId);
        int step;
        while ((step = sqlite3_step(rowsOf.get())) == SQLITE_ROW)
            fold->addRow(rowsOf.get());
        if (step != SQLITE_DONE)
            return fail(db, error);
        sqlite3_reset(rowsOf.get());
    }
    return rc == SQLITE_DONE || fail(db, error);
}

// The ids of the rows of `quarter`, ascending.
bool idsOf(sqlite3* db, qint64 quarter, std::vector<qint64>* ids, QString* error)
{
    SqliteStatement nodes(db, NodesQuery);
    SqliteStatement idsOfNode(db, "select id from quorbinal where serialno = ? and pointDate >= "
                                  "? and pointDate < ?");
    if (!nodes.isValid() || !idsOfNode.isValid())
        return fail(db, error);
    int rc;
    while ((rc = sqlite3_step(nodes.get())) == SQLITE_ROW) {
        sqlite3_bind_value(idsOfNode.get(), 1, sqlite3_column_value(nodes.get(), 0));
        sqlite3_bind_int64(idsOfNode.get(), 2, quarter * SampleSeal::QuarterSeconds);
        sqlite3_bind_int64(idsOfNode.get(), 3, (quarter + 1) * SampleSeal::QuarterSeconds);
        int step;
        while ((step = sqlite3_step(idsOfNode.get())) == SQLITE_ROW)
            ids->push_back(sqlite3_column_int64(idsOfNode.get(), 0));
        if (step != SQLITE_DONE)
            return fail(db, error);
        sqlite3_reset(idsOfNode.get());
    }
    if (rc != SQLITE_DONE)
        return fail(db, error);
    std::sort(ids->begin(), ids->end());
    return true;
}

// Seals `quarter` again when rows were only added after its seal `sequence`: its sealed rows are
// still the first ones by id, unchanged. Anything else is left for the verification to report.
bool resealAppended(sqlite3* db, qint64 quarter, qint64 sequence, qint64 timeMs, QString* error)
{
    QVector<AuditEntry> entries;
    if (!AuditTrail::read(db, sequence, sequence, &entries, error))
        return false;
    qint64 sealedQuarter = 0;
    qint64 sealedRows = 0;
    QByteArray sealedDigest;
    if (entries.size() != 1 ||
        !SampleSeal::parseEntry(entries.at(0), &sealedQuarter, &sealedRows, &sealedDigest) ||
        sealedQuarter != quarter)
        return true;
    qint64 rows = 0;
    QByteArray digest;
    if (!SampleSeal::digestOf(db, quarter, &rows, &digest, error))
        return false;
    if (rows <= sealedRows)
        return true;
    qint64 prefixRows = 0;
    QByteArray prefix;
    if (!SampleSeal::prefixDigestOf(db, quarter, sealedRows, &prefixRows, &prefix, error))
        return false;
    if (prefixRows != sealedRows || prefix != sealedDigest) {
        qWarning().noquote() << QStringLiteral("SampleSeal::catchUp : not sealed again, its "
                                               "sealed rows differ : ") +
                                    SampleSeal::objectOf(quarter);
        return true;
    }
    return SampleSeal::seal(db, quarter, timeMs, SampleSeal::restartedReason(), error);
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

bool SampleSeal::hasEnded(qint64 quarter, qint64 timeMs)
{
    return timeMs >= ((quarter + 1) * QuarterSeconds + MarginSeconds) * 1000;
}

bool SampleSeal::digestOf(SqliteHandle handle, qint64 quarter, qint64* rows, QByteArray* digest,
                          QString* error)
{
    SealDigest fold;
    if (!foldQuarter(handle, quarter, std::numeric_limits<qint64>::max(), &fold, error))
        return false;
    *rows = fold.rows();
    *digest = fold.result();
    return true;
}

bool SampleSeal::prefixDigestOf(SqliteHandle handle, qint64 quarter, qint64 count, qint64* rows,
                                QByteArray* digest, QString* error)
{
    std::vector<qint64> ids;
    if (!idsOf(handle, quarter, &ids, error))
        return false;
    SealDigest fold;
    if (count > 0 && !foldQuarter(handle, quarter,
                                  qint64(ids.size()) > count ? ids.at(size_t(count - 1))
                                                             : std::numeric_limits<qint64>::max(),
                                  &fold, error))
        return false;
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
    qint64 sequence = 0;
    if (!ensureSeals(db, error) || !newestSealed(db, &any, &newest, &sequence, error))
        return false;
    if (!any)
        return true;
    if (newest <= throughQuarter && !resealAppended(db, newest, sequence, timeMs, error))
        return false;
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
    std::vector<qint64> ended;
    for (const qint64 quarter : quarters) {
        if (hasEnded(quarter, timeMs))
            ended.push_back(quarter);
    }
    if (ended.empty())
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
        for (const qint64 quarter : ended) {
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
