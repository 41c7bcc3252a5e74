#pragma once

#include "insertstatements.h"
#include "kineticsums.h"
#include "pendingqueue.h"
#include "samplerecord.h"
#include "samplesink.h"
#include "sqlitehandle.h"
#include "writeentry.h"

#include <QString>

#include <deque>
#include <functional>
#include <vector>

class QSqlDatabase;

// Writer of a project's sample database. Samples wait in the writer's own queue until
// insertNow() stores them in one transaction; they go with the writer, so that no sample of one
// project can ever be written into another project's file. Other writes (jobs) wait in the same
// queue, in order with the samples. It works on the thread that made it; the recorder keeps it
// on the DatabaseWriter's thread. It owns the transaction of each flush; the queue's bound is
// PendingQueue's, the rows' statements InsertStatements', the connection's set-up
// WriterConnection's.
class InsertSerialData : public SampleSink
{

public:
    // Upper bound of the pending queue: one day of the largest project (16 nodes) at the
    // shortest interval (1 s), about 45 MB. The queue only grows past a few flushes while the
    // file cannot be written; beyond the bound the oldest samples are dropped with a warning.
    static constexpr int MaxPending = 16 * 86400;
    // Rows per insert statement: SQLite's default limit of terms in one compound SELECT.
    static constexpr int MaxRowsPerStatement = 500;
    // How long opening the file waits for another connection's lock before it fails.
    static constexpr int BusyTimeoutMs = 2000;
    // The same wait for every statement once the file is open. The writer runs on the GUI
    // thread: a flush that meets a lock gives up after this long and keeps its samples.
    static constexpr int FlushBusyTimeoutMs = 200;
    // Rows written between two releases of the connection's page cache, about 40 pages of
    // file: what the cache may grow by before it is handed back.
    static constexpr int ReleaseCacheRows = 4096;

    InsertSerialData(const QString& path, const QString& name, QObject* parent = nullptr);
    ~InsertSerialData() override;

    bool createConnection();
    // Creates the table, with its range index and its summary, in a new file.
    bool createTable();
    // True when the file has the range index, or the summary with its triggers as this version
    // makes them. A file made before they existed, or whose summary is missing or foreign, gets
    // them from an IndexBuilder, which takes seconds on a large file and must not run on the
    // GUI thread.
    bool hasIndex() const;
    bool hasSummary() const;
    // True when the file has the kinetic sums (KineticTable); a file made before them gets them
    // from the IndexBuilder.
    bool hasKinetic() const;
    // True once after a write found the summary's triggers broken and dropped them: the
    // summary is to be rebuilt.
    bool takeSummaryDropped();
    // The IndexBuilder has finished: the kinetic sums it may have made are looked for at once.
    void buildFinished() { kinetic.clear(); }

    // Beyond `samples` waiting samples the oldest are dropped; MaxPending unless changed.
    void setPendingLimit(int samples) { pending.setLimit(samples); }
    void queueSample(const SampleRecord& record) override;
    // A job waits in order with the samples; `ticket` comes back with takeStoredJobs().
    void queueJob(const WriteJob& job, quint64 ticket);
    // Samples waiting (jobs not counted).
    int pendingCount() const { return pending.sampleCount(); }
    // Everything waiting, oldest first.
    const std::deque<WriteEntry>& pendingEntries() const { return pending.entries(); }
    // The oldest `count` entries leave the queue (they are kept elsewhere now).
    void takePending(int count);
    // Samples dropped at the queue's bound since the queue last reached the file.
    qint64 droppedCount() const { return pending.droppedCount(); }
    // Forgets every waiting sample (the user chose not to keep them); jobs stay.
    void discardPending();

    // Writes the oldest `limit` waiting entries (all when negative) in one transaction. True
    // when they were committed or nothing was waiting; false when the file was not open or the
    // write failed, and the entries still wait.
    bool insertNow(int limit = -1);
    // The tickets of the jobs insertNow() committed, with the row ids they wrote.
    struct StoredJob
    {
        quint64 ticket;
        qint64 rowId;
    };
    std::vector<StoredJob> takeStoredJobs();

    // The time, milliseconds UTC, by which a write judges which sealed quarters have ended (and
    // dates their seals): the caller's clock as the database timer gives it. The computer's
    // clock until it is set.
    void setClockTime(qint64 nowMs) { clockTimeMs = nowMs; }

    // Runs inside a transaction of store(), after the batch.
    using Step = std::function<bool(SqliteHandle db, QString* error)>;
    // Writes the batch, and then `last` when given, in one transaction, as insertNow() writes
    // its queue; `rowIds` gets the row id each job wrote. True once committed; false with the
    // reason otherwise, and nothing of it is in the file.
    bool store(const std::vector<const WriteEntry*>& batch, const Step& last,
               std::vector<qint64>* rowIds, QString* error);
    // A named value of the database's state table; false when it has none.
    bool stateValue(const QString& name, qint64* value) const;
    // The origin every message id of this database carries (OutboxTable::origin()).
    bool messageOrigin(QString* origin, QString* error) const;

    // The recorded period: the first and the last sample's time, 0 on an empty table or when the
    // query fails. Through the index in a millisecond or two whatever the file's size; without
    // it each call scans the table.
    quint32 startDateTime();
    quint32 endDateTime();

private:
    bool applyPragmas();
    bool writeBatch(QSqlDatabase& db, const std::vector<const WriteEntry*>& batch,
                    const std::vector<bool>& repeated, const Step& last,
                    std::vector<qint64>* rowIds, bool dropTriggers, QString* error);
    bool brokenSummary(const QSqlDatabase& db) const;
    void releaseCache();
    QString fullConnectionName() const;

    bool isOpen = false;
    int rowsSinceRelease = 0;
    PendingQueue pending;
    std::vector<StoredJob> storedJobs;
    InsertStatements statements;
    KineticSums kinetic;
    int lastErrorCode = 0;
    bool summaryDropped = false;
    qint64 clockTimeMs = -1;
    QString databasePath;
    QString connectionName;
};
