#include "insertserialdata.h"

#include "kinetictable.h"
#include "outboxtable.h"
#include "recordedperiod.h"
#include "sampleseal.h"
#include "sampletable.h"
#include "summaryrepair.h"
#include "writerconnection.h"

#include <QDateTime>
#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

namespace {

void trace(const QString& text)
{
    qDebug().noquote() << text;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

InsertSerialData::InsertSerialData(const QString& path, const QString& name, QObject* parent)
    : SampleSink(parent), pending(MaxPending), databasePath(path), connectionName(name)
{
}

InsertSerialData::~InsertSerialData()
{
    // Prepared statements keep the connection busy; they go before it closes.
    statements.clear();
    kinetic.clear();
    const QString name = fullConnectionName();
    if (QSqlDatabase::contains(name)) {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.commit();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        trace(
            QStringLiteral("InsertSerialData::~InsertSerialData : QSqlDatabase::removeDatabase(") +
            name);
    }
    trace(QStringLiteral("InsertSerialData::~InsertSerialData()"));
}

QString InsertSerialData::fullConnectionName() const
{
    return connectionName + QStringLiteral("filedb");
}

bool InsertSerialData::createConnection()
{
    const QString name = fullConnectionName();
    if (QSqlDatabase::contains(name)) {
        // A connection that failed is closed below and must not be taken for a working one.
        isOpen = QSqlDatabase::database(name, false).isOpen();
        return isOpen;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(databasePath);
    if (db.open() && applyPragmas() && createTable() && WriterConnection::isWritable(db) &&
        WriterConnection::setBusyTimeout(db, FlushBusyTimeoutMs)) {
        trace(QStringLiteral("InsertSerialData::createConnection : success"));
        isOpen = true;
        // A summary an earlier recorder made gets this version's triggers; a missing or foreign
        // one loses its triggers at once, so that no insert fails on them, and is rebuilt in the
        // background (hasSummary() is false until then). A lock held elsewhere leaves it to the
        // first failing insert and to the build.
        WriterConnection::repairSummary(db);
    } else {
        trace(QStringLiteral("InsertSerialData::createConnection : fail"));
        db.close();
    }
    return isOpen;
}

bool InsertSerialData::applyPragmas()
{
    return WriterConnection::applyPragmas(QSqlDatabase::database(fullConnectionName(), false),
                                          BusyTimeoutMs);
}

bool InsertSerialData::createTable()
{
    return WriterConnection::createTable(QSqlDatabase::database(fullConnectionName(), false));
}

bool InsertSerialData::hasIndex() const
{
    return SampleTable::hasIndex(QSqlDatabase::database(fullConnectionName(), false));
}

bool InsertSerialData::hasSummary() const
{
    sqlite3* db = WriterConnection::handleOf(QSqlDatabase::database(fullConnectionName(), false));
    return db && SummaryRepair::hasSummaryDefinitions(db);
}

bool InsertSerialData::hasKinetic() const
{
    sqlite3* db = WriterConnection::handleOf(QSqlDatabase::database(fullConnectionName(), false));
    return db && KineticTable::exists(db);
}

bool InsertSerialData::takeSummaryDropped()
{
    return std::exchange(summaryDropped, false);
}

void InsertSerialData::queueSample(const SampleRecord& record)
{
    pending.queueSample(record);
}

void InsertSerialData::queueJob(const WriteJob& job, quint64 ticket)
{
    pending.queueJob(job, ticket);
}

void InsertSerialData::discardPending()
{
    pending.discardSamples();
}

void InsertSerialData::takePending(int count)
{
    pending.take(count);
}

std::vector<InsertSerialData::StoredJob> InsertSerialData::takeStoredJobs()
{
    return std::exchange(storedJobs, {});
}

bool InsertSerialData::insertNow(int limit)
{
    if (pending.entries().empty())
        return true;
    if (!isOpen)
        return false;
    trace(QStringLiteral("InsertSerialData::insertNow : starttime : ") +
          QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    // Records leave the queue only once their transaction is committed; a failed batch stays
    // ahead of newer samples and is written by the next flush.
    const int waiting = static_cast<int>(pending.entries().size());
    const int count = limit < 0 ? waiting : std::min(limit, waiting);
    std::vector<const WriteEntry*> batch;
    batch.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        batch.push_back(&pending.entries()[size_t(i)]);
    std::vector<qint64> rowIds;
    QString error;
    const bool stored = store(batch, {}, &rowIds, &error);
    if (stored) {
        for (size_t i = 0; i < batch.size(); ++i) {
            if (batch[i]->isJob && batch[i]->ticket != 0)
                storedJobs.push_back({batch[i]->ticket, rowIds[i]});
        }
        pending.take(count);
        pending.resetDropped();
        rowsSinceRelease += count;
        if (rowsSinceRelease >= ReleaseCacheRows) {
            releaseCache();
            rowsSinceRelease = 0;
        }
    } else {
        qWarning().noquote() << QStringLiteral(
                                    "InsertSerialData::insertNow : kept for the next flush : ") +
                                    QString::number(pending.entries().size());
    }
    trace(QStringLiteral("InsertSerialData::insertNow : endtime : ") +
          QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    return stored;
}

// Writes the batch in one transaction: samples in statements of at most MaxRowsPerStatement rows
// combined with UNION, jobs one by one in their place, then `last`. Returns true once committed.
// A batch that fails because the summary's triggers are broken (its table dropped, or they
// belong to another table) is written again at once without them: no insert fails because of
// the summary.
bool InsertSerialData::store(const std::vector<const WriteEntry*>& batch, const Step& last,
                             std::vector<qint64>* rowIds, QString* error)
{
    if (!isOpen) {
        *error = QStringLiteral("not open");
        return false;
    }
    const std::vector<bool> repeated = batch.size() > size_t(MaxRowsPerStatement)
                                           ? InsertStatements::repeatedRecords(batch)
                                           : std::vector<bool>();
    QSqlDatabase db = QSqlDatabase::database(fullConnectionName(), false);
    bool dropTriggers = false;
    for (;;) {
        if (writeBatch(db, batch, repeated, last, rowIds, dropTriggers, error))
            return true;
        if (dropTriggers || !brokenSummary(db))
            return false;
        dropTriggers = true;
    }
}

bool InsertSerialData::writeBatch(QSqlDatabase& db, const std::vector<const WriteEntry*>& batch,
                                  const std::vector<bool>& repeated, const Step& last,
                                  std::vector<qint64>* rowIds, bool dropTriggers, QString* error)
{
    const bool begun = db.transaction();
    trace(QStringLiteral("begin transaction : ") + boolText(begun));
    if (!begun) {
        *error = db.lastError().text();
        lastErrorCode = db.lastError().nativeErrorCode().toInt();
        trace(QStringLiteral("lastError : ") + *error);
        return false;
    }

    sqlite3* handle = WriterConnection::handleOf(db);
    bool ok = true;
    if (dropTriggers) {
        ok = SummaryRepair::dropTriggers(handle, error);
        qWarning().noquote() << QStringLiteral(
                                    "InsertSerialData::insertNow : summary triggers dropped : ") +
                                    (ok ? QStringLiteral("true") : *error);
        // The kept statements carry the triggers' program.
        statements.clear();
    }
    if (rowIds)
        rowIds->assign(batch.size(), 0);
    size_t next = 0;
    std::vector<const SampleRecord*> rows;
    // The quarters this batch wrote rows into after their seal in it, if any: sealed before and
    // ended, they are sealed again in this transaction, so that rows coming late never read as
    // forged.
    std::set<qint64> touched;
    while (ok && next < batch.size()) {
        if (batch[next]->isJob) {
            qint64 sealed = 0;
            if (batch[next]->job.sealsQuarter(&sealed))
                touched.erase(sealed);
            qint64 rowId = 0;
            ok = batch[next]->job.run(handle, &rowId, error);
            if (!ok)
                lastErrorCode = sqlite3_extended_errcode(handle);
            else if (rowIds)
                (*rowIds)[next] = rowId;
            ++next;
            continue;
        }
        rows.clear();
        for (; next < batch.size() && !batch[next]->isJob &&
               static_cast<int>(rows.size()) < MaxRowsPerStatement;
             ++next) {
            if (repeated.empty() || !repeated[next]) {
                rows.push_back(&batch[next]->sample);
                touched.insert(SampleSeal::quarterOfSeconds(batch[next]->sample.pointDate));
            }
        }
        if (!rows.empty())
            ok = statements.insertRows(db, rows, error, &lastErrorCode);
        for (size_t i = 0; ok && i < rows.size(); ++i)
            kinetic.add(handle, *rows[i]);
    }
    // Not written, the buckets read as rows in the reports: the samples still go in.
    if (ok && !kinetic.write(handle))
        trace(QStringLiteral("InsertSerialData::insertNow : kinetic sums not written"));
    if (ok) {
        ok = SampleSeal::resealLate(
            handle, touched, clockTimeMs >= 0 ? clockTimeMs : QDateTime::currentMSecsSinceEpoch(),
            error);
        if (!ok)
            lastErrorCode = sqlite3_extended_errcode(handle);
    }
    if (ok && last) {
        ok = last(handle, error);
        if (!ok)
            lastErrorCode = sqlite3_extended_errcode(handle);
    }

    if (ok) {
        ok = db.commit();
        if (!ok)
            *error = db.lastError().text();
        trace(QStringLiteral("commit transaction : ") + boolText(ok));
    }
    if (!ok) {
        kinetic.rollback();
        const bool rolledBack = db.rollback();
        trace(QStringLiteral("rollback transaction : ") + boolText(rolledBack));
    } else if (dropTriggers) {
        summaryDropped = true;
    }
    return ok;
}

bool InsertSerialData::stateValue(const QString& name, qint64* value) const
{
    QSqlQuery query(QSqlDatabase::database(fullConnectionName(), false));
    query.prepare(QStringLiteral("select value from ") + SampleTable::stateName() +
                  QStringLiteral(" where name = ?"));
    query.addBindValue(name);
    if (!query.exec() || !query.next())
        return false;
    *value = query.value(0).toLongLong();
    return true;
}

bool InsertSerialData::messageOrigin(QString* origin, QString* error) const
{
    sqlite3* db = WriterConnection::handleOf(QSqlDatabase::database(fullConnectionName(), false));
    if (!db) {
        *error = QStringLiteral("not open");
        return false;
    }
    return OutboxTable::origin(db, origin, error);
}

// An insert that failed on the summary rather than on a lock, a full disk or the file: the
// triggers of its names are there but not this version's as a whole.
bool InsertSerialData::brokenSummary(const QSqlDatabase& db) const
{
    const int code = lastErrorCode & 0xff;
    if (code != SQLITE_ERROR && code != SQLITE_CONSTRAINT && code != SQLITE_MISMATCH)
        return false;
    sqlite3* handle = WriterConnection::handleOf(db);
    return handle && SummaryRepair::hasTriggers(handle) &&
           !SummaryRepair::hasSummaryDefinitions(handle);
}

// An appending writer reads almost nothing back, yet every page it writes stays in the
// connection's cache, up to cache_size pages (256 MiB): a day-long recording would grow the
// program by the size of its file. Handing the cache back every ReleaseCacheRows rows keeps the
// program's memory flat; the next flush reads the few pages it needs (the b-tree's right edge)
// from the operating system's file cache. Doing it after every flush would cost each small
// flush those reads.
void InsertSerialData::releaseCache()
{
    QSqlQuery query(QSqlDatabase::database(fullConnectionName(), false));
    if (!query.exec(QStringLiteral("PRAGMA shrink_memory")))
        trace(QStringLiteral("PRAGMA shrink_memory : query error"));
}

quint32 InsertSerialData::startDateTime()
{
    return RecordedPeriod::query(QSqlDatabase::database(fullConnectionName(), false),
                                 RecordedPeriod::First,
                                 QStringLiteral("InsertSerialData::startDateTime : "));
}

quint32 InsertSerialData::endDateTime()
{
    return RecordedPeriod::query(QSqlDatabase::database(fullConnectionName(), false),
                                 RecordedPeriod::Last,
                                 QStringLiteral("InsertSerialData::endDateTime : "));
}
