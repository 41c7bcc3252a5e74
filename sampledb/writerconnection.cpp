#include "writerconnection.h"

#include "kinetictable.h"
#include "sampletable.h"
#include "summaryrepair.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <utility>

namespace {

void trace(const QString& text)
{
    qDebug().noquote() << text;
}

} // namespace

SqliteHandle WriterConnection::handleOf(const QSqlDatabase& db)
{
    const QVariant handle = db.isOpen() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

// A summary an earlier recorder made gets this version's triggers; a missing or foreign one
// loses its triggers at once, so that no insert fails on them, and is rebuilt in the background
// (hasSummary() is false until then). A lock held elsewhere leaves it to the first failing
// insert and to the build.
void WriterConnection::repairSummary(const QSqlDatabase& connection)
{
    sqlite3* db = handleOf(connection);
    bool rebuild = false;
    QString error;
    if (!db || !SummaryRepair::repairSummary(db, &rebuild, &error))
        qWarning().noquote() << QStringLiteral("InsertSerialData::createConnection : summary : ") +
                                    error;
    else if (rebuild)
        qDebug().noquote() << QStringLiteral(
            "InsertSerialData::createConnection : summary to be rebuilt");
}

bool WriterConnection::applyPragmas(const QSqlDatabase& db, int busyTimeoutMs)
{
    QSqlQuery query(db);
    const QString busy = QStringLiteral("PRAGMA busy_timeout = ") + QString::number(busyTimeoutMs);
    // In this order, each with the trace of its failure.
    const std::pair<QString, QString> pragmas[] = {
        // First, so that each of the following statements waits this long at most for a lock.
        {busy, busy + QStringLiteral(" : query error")},
        {QStringLiteral("PRAGMA page_size = 4096"),
         QStringLiteral("PRAGMA page_size = 4096 : query error")},
        {QStringLiteral("PRAGMA cache_size = 65536"),
         QStringLiteral("PRAGMA cache_size = 65536 : query error")},
        // A flush changes a page of the index for every node besides the table's: its statement
        // journal outgrows the 64 KiB SQLite keeps in memory and every flush wrote a temporary
        // file (with the index, half the insert rate of single-row inserts). In memory it stays
        // small.
        {QStringLiteral("PRAGMA temp_store = MEMORY"),
         QStringLiteral("PRAGMA temp_store = MEMORY : query error")},
        // WAL keeps the file sound when the program dies during a write, and lets the report
        // generator read while samples are written.
        {QStringLiteral("PRAGMA journal_mode = WAL"),
         QStringLiteral("PRAGMA journal_mode = MEMORY : query error")},
    };
    for (const auto& [statement, failure] : pragmas) {
        if (!query.exec(statement)) {
            trace(failure);
            return false;
        }
    }
    // A file system without shared memory keeps the rollback journal, which is still safe.
    const QString mode = query.next() ? query.value(0).toString() : QString();
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        qWarning().noquote() << QStringLiteral("PRAGMA journal_mode = WAL : journal mode stays ") +
                                    mode;
    return true;
}

bool WriterConnection::setBusyTimeout(const QSqlDatabase& db, int busyTimeoutMs)
{
    QSqlQuery query(db);
    const QString busy = QStringLiteral("PRAGMA busy_timeout = ") + QString::number(busyTimeoutMs);
    if (query.exec(busy))
        return true;
    trace(busy + QStringLiteral(" : query error"));
    return false;
}

// A write-protected file opens and answers queries, but every flush would fail: refuse it here,
// where the recorder reports the failure, instead of queueing samples that can never be stored.
// A lock held by another connection is no reason to refuse: flushes wait for it or keep their
// samples.
bool WriterConnection::isWritable(QSqlDatabase db)
{
    // Deleting nothing needs the write access of a real insert; the rollback leaves the file as
    // it was. (Taking the write lock alone succeeds on a write-protected file in WAL mode.)
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
                                db.databaseName();
    return false;
}

bool WriterConnection::createTable(QSqlDatabase db)
{
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
    created = created && query.exec(KineticTable::createStatement());
    created = created && query.exec(SampleTable::newGenerationStatement()) && db.commit();
    if (!created) {
        trace(QStringLiteral("InsertSerialData::createTable : create table : query error"));
        db.rollback();
        return false;
    }
    trace(QStringLiteral("InsertSerialData::createTable : create table"));
    return true;
}
