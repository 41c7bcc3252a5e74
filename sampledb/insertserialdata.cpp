#include "insertserialdata.h"

#include "novalue.h"
#include "outboxtable.h"
#include "sampletable.h"
#include "summaryrepair.h"

#include <QDateTime>
#include <QDebug>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

const char* const InsertHead = "insert into quorbinal (serialno, channel1, channel2, pointDate)";

void trace(const QString& text)
{
    qDebug().noquote() << text;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Channel values are written in the general numeric format with six significant digits
// (12345.67 as 12345.7). Not-finite values and the no-value marker have no number to store:
// they become NULL, never the text "nan" or "inf".
QString channelLiteral(double value)
{
    if (value == NoValue || !std::isfinite(value))
        return QStringLiteral("NULL");
    return QString::number(value, 'g', 6);
}

// The value the literal of channelLiteral() stands for: the same six digits, or NULL.
QVariant channelValue(double value)
{
    const QString text = channelLiteral(value);
    return text == QLatin1String("NULL") ? QVariant(QVariant::Double) : QVariant(text.toDouble());
}

bool sameChannel(double a, double b)
{
    const QString textA = channelLiteral(a);
    const QString textB = channelLiteral(b);
    const bool nullA = textA == QLatin1String("NULL");
    const bool nullB = textB == QLatin1String("NULL");
    return nullA || nullB ? nullA == nullB : textA.toDouble() == textB.toDouble();
}

// A null string would bind as NULL and violate "not null" on every retry.
QString serialno(const SampleRecord& record)
{
    return record.deviceNumber.isNull() ? QStringLiteral("") : record.deviceNumber;
}

// Two records that give identical rows; NULL matches NULL, as in UNION.
bool sameRow(const SampleRecord& a, const SampleRecord& b)
{
    return a.pointDate == b.pointDate && serialno(a) == serialno(b) &&
           sameChannel(a.channel1, b.channel1) && sameChannel(a.channel2, b.channel2);
}

// Marks each sample of the batch that repeats an earlier one. UNION merges identical rows
// within one statement only; this extends it to a batch of several statements. Identical rows
// share node and time, so only records with equal ones are compared.
std::vector<bool> repeatedRecords(const std::vector<const WriteEntry*>& batch)
{
    std::vector<std::pair<uint, size_t>> keys;
    keys.reserve(batch.size());
    for (size_t i = 0; i < batch.size(); ++i) {
        if (batch[i]->isJob)
            continue;
        const SampleRecord& r = batch[i]->sample;
        keys.emplace_back(::qHash(r.deviceNumber) ^ (r.pointDate * 2654435761u), i);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<bool> repeated(batch.size(), false);
    for (size_t first = 0; first < keys.size();) {
        size_t end = first + 1;
        while (end < keys.size() && keys[end].first == keys[first].first)
            ++end;
        for (size_t x = first; x < end; ++x) {
            const size_t kept = keys[x].second;
            if (repeated[kept])
                continue;
            for (size_t y = x + 1; y < end; ++y) {
                const size_t other = keys[y].second;
                if (!repeated[other] && sameRow(batch[kept]->sample, batch[other]->sample))
                    repeated[other] = true;
            }
        }
        first = end;
    }
    return repeated;
}

// The connection's own SQLite handle, for what the SQL module cannot ask.
sqlite3* handleOf(const QSqlDatabase& db)
{
    const QVariant handle = db.isOpen() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

QString timeText(quint32 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// One column of the recorded-period query: 0 the first sample's time, 1 the last one's. With
// the index a few dozen index lookups; without it (a file the recorder has not indexed yet) one
// scan of the table.
quint32 periodQuery(const QString& connection, int column, const QString& traceHead)
{
    const QSqlDatabase db = QSqlDatabase::database(connection, false);
    QSqlQuery query(db);
    if (!query.exec(SampleTable::recordedPeriodQuery(SampleTable::hasIndex(db))) || !query.next()) {
        trace(traceHead + QStringLiteral("query error"));
        return 0;
    }
    const QVariant value = query.value(column);
    const qlonglong seconds = value.isNull() ? 0 : value.toLongLong();
    const quint32 result = static_cast<quint32>(
        std::clamp<qlonglong>(seconds, 0, std::numeric_limits<quint32>::max()));
    trace(traceHead + timeText(result));
    return result;
}

} // namespace

InsertSerialData::InsertSerialData(const QString& path, const QString& name, QObject* parent)
    : SampleSink(parent), databasePath(path), connectionName(name)
{
}

InsertSerialData::~InsertSerialData()
{
    // Prepared statements keep the connection busy; they go before it closes.
    statements.clear();
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
    if (db.open() && applyPragmas() && createTable() && isWritable() && shortenBusyTimeout()) {
        trace(QStringLiteral("InsertSerialData::createConnection : success"));
        isOpen = true;
        repairSummary();
    } else {
        trace(QStringLiteral("InsertSerialData::createConnection : fail"));
        db.close();
    }
    return isOpen;
}

// A summary an earlier recorder made gets this version's triggers; a missing or foreign one
// loses its triggers at once, so that no insert fails on them, and is rebuilt in the background
// (hasSummary() is false until then). A lock held elsewhere leaves it to the first failing
// insert and to the build.
void InsertSerialData::repairSummary()
{
    sqlite3* db = handleOf(QSqlDatabase::database(fullConnectionName(), false));
    bool rebuild = false;
    QString error;
    if (!db || !SummaryRepair::repairSummary(db, &rebuild, &error))
        qWarning().noquote() << QStringLiteral("InsertSerialData::createConnection : summary : ") +
                                    error;
    else if (rebuild)
        qDebug().noquote() << QStringLiteral(
            "InsertSerialData::createConnection : summary to be rebuilt");
}

bool InsertSerialData::applyPragmas()
{
    QSqlQuery query(QSqlDatabase::database(fullConnectionName(), false));
    // First, so that each of the following statements waits this long at most for a lock.
    const QString busy = QStringLiteral("PRAGMA busy_timeout = ") + QString::number(BusyTimeoutMs);
    if (!query.exec(busy)) {
        trace(busy + QStringLiteral(" : query error"));
        return false;
    }
    if (!query.exec(QStringLiteral("PRAGMA page_size = 4096"))) {
        trace(QStringLiteral("PRAGMA page_size = 4096 : query error"));
        return false;
    }
    if (!query.exec(QStringLiteral("PRAGMA cache_size = 65536"))) {
        trace(QStringLiteral("PRAGMA cache_size = 65536 : query error"));
        return false;
    }
    // A flush changes a page of the index for every node besides the table's: its statement
    // journal outgrows the 64 KiB SQLite keeps in memory and every flush wrote a temporary file
    // (with the index, half the insert rate of single-row inserts). In memory it stays small.
    if (!query.exec(QStringLiteral("PRAGMA temp_store = MEMORY"))) {
        trace(QStringLiteral("PRAGMA temp_store = MEMORY : query error"));
        return false;
    }
    // WAL keeps the file sound when the program dies during a write, and lets the report
    // generator read while samples are written.
    if (!query.exec(QStringLiteral("PRAGMA journal_mode = WAL"))) {
        trace(QStringLiteral("PRAGMA journal_mode = MEMORY : query error"));
        return false;
    }
    // A file system without shared memory keeps the rollback journal, which is still safe.
    const QString mode = query.next() ? query.value(0).toString() : QString();
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        qWarning().noquote() << QStringLiteral("PRAGMA journal_mode = WAL : journal mode stays ") +
                                    mode;
    return true;
}

bool InsertSerialData::shortenBusyTimeout()
{
    QSqlQuery query(QSqlDatabase::database(fullConnectionName(), false));
    const QString busy =
        QStringLiteral("PRAGMA busy_timeout = ") + QString::number(FlushBusyTimeoutMs);
    if (query.exec(busy))
        return true;
    trace(busy + QStringLiteral(" : query error"));
    return false;
}

// A write-protected file opens and answers queries, but every flush would fail: refuse it here,
// where the recorder reports the failure, instead of queueing samples that can never be stored.
// A lock held by another connection is no reason to refuse: flushes wait for it or keep their
// samples.
bool InsertSerialData::isWritable()
{
    // Deleting nothing needs the write access of a real insert; the rollback leaves the file as
    // it was. (Taking the write lock alone succeeds on a write-protected file in WAL mode.)
    QSqlDatabase db = QSqlDatabase::database(fullConnectionName(), false);
    if (!db.transaction())
        return true;
    QSqlQuery query(db);
    const bool wrote = query.exec(QStringLiteral("delete from quorbinal where 0"));
    const int code = query.lastError().nativeErrorCode().toInt();
    query.finish();
    db.rollback();
    constexpr int SqliteReadOnly = 8;
    if (wrote || (code & 0xff) != SqliteReadOnly)
        return true;
    qWarning().noquote() << QStringLiteral("InsertSerialData::createConnection : read-only : ") +
                                databasePath;
    return false;
}

bool InsertSerialData::createTable()
{
    QSqlDatabase db = QSqlDatabase::database(fullConnectionName(), false);
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("select name from sqlite_master where type='table' and "
                                   "name='quorbinal';"))) {
        trace(QStringLiteral("InsertSerialData::createTable : select table : query error"));
        return false;
    }
    if (query.next()) {
        trace(QStringLiteral("InsertSerialData::createTable : table exist"));
        return true;
    }
    query.finish();
    // A new file gets its range index and its summary with the table, in one transaction: while
    // it is empty they cost nothing, and no file this recorder makes ever needs the background
    // build.
    bool created = db.transaction() && query.exec(SampleTable::createStatement()) &&
                   query.exec(SampleTable::createIndexStatement()) &&
                   query.exec(SampleTable::createStateStatement());
    for (const QString& statement : SampleTable::createSummaryStatements())
        created = created && query.exec(statement);
    created = created && query.exec(SampleTable::newGenerationStatement()) && db.commit();
    if (!created) {
        trace(QStringLiteral("InsertSerialData::createTable : create table : query error"));
        db.rollback();
        return false;
    }
    trace(QStringLiteral("InsertSerialData::createTable : create table"));
    return true;
}

bool InsertSerialData::hasIndex() const
{
    return SampleTable::hasIndex(QSqlDatabase::database(fullConnectionName(), false));
}

bool InsertSerialData::hasSummary() const
{
    sqlite3* db = handleOf(QSqlDatabase::database(fullConnectionName(), false));
    return db && SummaryRepair::hasSummaryDefinitions(db);
}

bool InsertSerialData::takeSummaryDropped()
{
    return std::exchange(summaryDropped, false);
}

void InsertSerialData::queueSample(const SampleRecord& record)
{
    if (pendingSamples >= std::max(pendingLimit, 1)) {
        // The oldest sample goes; jobs are never dropped.
        const auto oldest = std::find_if(pending.begin(), pending.end(),
                                         [](const WriteEntry& e) { return !e.isJob; });
        if (oldest != pending.end()) {
            pending.erase(oldest);
            --pendingSamples;
            ++droppedSamples;
            if (droppedSamples == 1 || droppedSamples % 10000 == 0)
                qWarning().noquote()
                    << QStringLiteral("InsertSerialData::queueSample : queue full, oldest "
                                      "samples dropped : ") +
                           QString::number(droppedSamples);
        }
    }
    pending.push_back(WriteEntry::ofSample(record));
    ++pendingSamples;
}

void InsertSerialData::queueJob(const WriteJob& job, quint64 ticket)
{
    pending.push_back(WriteEntry::ofJob(job, ticket));
}

void InsertSerialData::discardPending()
{
    if (pendingSamples == 0)
        return;
    qWarning().noquote() << QStringLiteral("InsertSerialData::discardPending : ") +
                                QString::number(pendingSamples);
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [](const WriteEntry& e) { return !e.isJob; }),
                  pending.end());
    pendingSamples = 0;
    droppedSamples = 0;
}

void InsertSerialData::takePending(int count)
{
    const auto end =
        pending.begin() + std::min<std::ptrdiff_t>(count, std::ptrdiff_t(pending.size()));
    pendingSamples -=
        int(std::count_if(pending.begin(), end, [](const WriteEntry& e) { return !e.isJob; }));
    pending.erase(pending.begin(), end);
}

std::vector<InsertSerialData::StoredJob> InsertSerialData::takeStoredJobs()
{
    return std::exchange(storedJobs, {});
}

bool InsertSerialData::insertNow(int limit)
{
    if (pending.empty())
        return true;
    if (!isOpen)
        return false;
    trace(QStringLiteral("InsertSerialData::insertNow : starttime : ") +
          QDateTime::currentDateTime().toString(Qt::ISODateWithMs));
    // Records leave the queue only once their transaction is committed; a failed batch stays
    // ahead of newer samples and is written by the next flush.
    const int waiting = static_cast<int>(pending.size());
    const int count = limit < 0 ? waiting : std::min(limit, waiting);
    std::vector<const WriteEntry*> batch;
    batch.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        batch.push_back(&pending[size_t(i)]);
    std::vector<qint64> rowIds;
    QString error;
    const bool stored = store(batch, {}, &rowIds, &error);
    if (stored) {
        for (size_t i = 0; i < batch.size(); ++i) {
            if (batch[i]->isJob && batch[i]->ticket != 0)
                storedJobs.push_back({batch[i]->ticket, rowIds[i]});
        }
        takePending(count);
        droppedSamples = 0;
        rowsSinceRelease += count;
        if (rowsSinceRelease >= ReleaseCacheRows) {
            releaseCache();
            rowsSinceRelease = 0;
        }
    } else {
        qWarning().noquote() << QStringLiteral(
                                    "InsertSerialData::insertNow : kept for the next flush : ") +
                                    QString::number(pending.size());
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
    const std::vector<bool> repeated =
        batch.size() > size_t(MaxRowsPerStatement) ? repeatedRecords(batch) : std::vector<bool>();
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

    sqlite3* handle = handleOf(db);
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
    while (ok && next < batch.size()) {
        if (batch[next]->isJob) {
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
            if (repeated.empty() || !repeated[next])
                rows.push_back(&batch[next]->sample);
        }
        if (!rows.empty())
            ok = insertRows(db, rows, error);
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
    sqlite3* db = handleOf(QSqlDatabase::database(fullConnectionName(), false));
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
    sqlite3* handle = handleOf(db);
    return handle && SummaryRepair::hasTriggers(handle) &&
           !SummaryRepair::hasSummaryDefinitions(handle);
}

// One statement. As traced, numbers go into it as literals and only serialno, free text from
// the project file, is a parameter, one named parameter per distinct node: preparing a statement
// costs SQLite time in the square of its parameter count. A flush of the usual size instead runs
// a statement kept prepared, with every value a parameter: preparing costs more than running.
bool InsertSerialData::insertRows(const QSqlDatabase& db,
                                  const std::vector<const SampleRecord*>& rows, QString* error)
{
    QString sql = QLatin1String(InsertHead);
    QStringList serials;
    for (size_t i = 0; i < rows.size(); ++i) {
        const SampleRecord& record = *rows[i];
        const QString serial = serialno(record);
        int parameter = serials.indexOf(serial);
        if (parameter < 0) {
            parameter = serials.size();
            serials.append(serial);
        }
        sql += (i > 0 ? QLatin1String(" union select :s") : QLatin1String(" select :s")) +
               QString::number(parameter) + QLatin1String(", ") + channelLiteral(record.channel1) +
               QLatin1String(", ") + channelLiteral(record.channel2) + QLatin1String(", ") +
               QString::number(record.pointDate);
    }
    sql += QLatin1Char(';');
    trace(QStringLiteral("InsertSerialData::insertNow : query : ") + sql);

    QSqlQuery adHoc(db);
    QSqlQuery* query = keptStatement(static_cast<int>(rows.size()));
    bool ok = true;
    if (query) {
        for (size_t i = 0; i < rows.size(); ++i) {
            const SampleRecord& record = *rows[i];
            const int first = static_cast<int>(4 * i);
            query->bindValue(first, serialno(record));
            query->bindValue(first + 1, channelValue(record.channel1));
            query->bindValue(first + 2, channelValue(record.channel2));
            query->bindValue(first + 3, static_cast<qlonglong>(record.pointDate));
        }
    } else {
        query = &adHoc;
        ok = adHoc.prepare(sql);
        for (int i = 0; ok && i < serials.size(); ++i)
            adHoc.bindValue(QStringLiteral(":s") + QString::number(i), serials.at(i));
    }
    ok = ok && query->exec();
    lastErrorCode = ok ? 0 : query->lastError().nativeErrorCode().toInt();
    if (!ok)
        *error = query->lastError().text();
    trace(QStringLiteral("insert query : ") + boolText(ok));
    trace(QStringLiteral("lastError : ") + query->lastError().text());
    query->finish();
    return ok;
}

// The kept statement of `rows` rows, four parameters a row; null for a larger statement, whose
// thousands of parameters would cost more than its literals, or when it cannot be prepared.
QSqlQuery* InsertSerialData::keptStatement(int rows)
{
    if (rows > MaxKeptStatementRows)
        return nullptr;
    std::unique_ptr<QSqlQuery>& kept = statements[rows];
    if (!kept) {
        QString sql = QLatin1String(InsertHead);
        for (int i = 0; i < rows; ++i)
            sql += i > 0 ? QLatin1String(" union select ?, ?, ?, ?")
                         : QLatin1String(" select ?, ?, ?, ?");
        kept = std::make_unique<QSqlQuery>(QSqlDatabase::database(fullConnectionName(), false));
        // Not kept when it fails (the table is gone): the statement with literals reports why.
        if (!kept->prepare(sql)) {
            statements.erase(rows);
            return nullptr;
        }
    }
    return kept.get();
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
    return periodQuery(fullConnectionName(), 0,
                       QStringLiteral("InsertSerialData::startDateTime : "));
}

quint32 InsertSerialData::endDateTime()
{
    return periodQuery(fullConnectionName(), 1, QStringLiteral("InsertSerialData::endDateTime : "));
}
