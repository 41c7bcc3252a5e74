#pragma once

#include "samplerecord.h"

#include <QObject>
#include <QString>

// Writer of a project's sample database. Samples wait in one process-wide queue, shared by all
// writers, until insertNow() stores them in one transaction.
class InsertSerialData : public QObject
{
    Q_OBJECT

public:
    // Upper bound of the pending queue: one day of the largest project (16 nodes) at the
    // shortest interval (1 s), about 45 MB. The queue only grows past a few flushes while the
    // file cannot be written; beyond the bound the oldest samples are dropped with a warning.
    static constexpr int MaxPending = 16 * 86400;
    // Rows per insert statement: SQLite's default limit of terms in one compound SELECT.
    static constexpr int MaxRowsPerStatement = 500;
    // How long a statement waits for another connection's lock before it fails; the writer
    // runs on the GUI thread, so this is also the longest a flush blocks it for a lock.
    static constexpr int BusyTimeoutMs = 2000;
    // Rows written between two releases of the connection's page cache, about 40 pages of
    // file: what the cache may grow by before it is handed back.
    static constexpr int ReleaseCacheRows = 4096;

    InsertSerialData(const QString& path, const QString& name, QObject* parent = nullptr);
    ~InsertSerialData() override;

    bool createConnection();
    bool createTable();

    static void queueSample(const SampleRecord& record);
    static int pendingCount();

    void insertNow();

    quint32 startDateTime();
    quint32 endDateTime();

private:
    bool applyPragmas();
    bool isWritable();
    bool insertBatch(int count);
    void releaseCache();
    QString fullConnectionName() const;

    bool isOpen = false;
    int rowsSinceRelease = 0;
    QString databasePath;
    QString connectionName;
};
