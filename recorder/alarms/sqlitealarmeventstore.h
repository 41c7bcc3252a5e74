#pragma once

#include "alarmeventstore.h"
#include "sqliteconnection.h"

#include <QObject>
#include <QString>

#include <deque>

class QTimer;

// The alarm event log written through a connection of its own to the project's database. Every
// write waits in order in a queue until a transaction with it committed; a write that finds the
// file locked or failing stays queued and is tried again a second later, and the count waiting
// is reported. The connection never waits for another's lock: the owner's thread (the GUI
// thread) must not stall on the sample writer.
class SqliteAlarmEventStore : public QObject, public AlarmEventStore
{
    Q_OBJECT

public:
    static constexpr int RetryIntervalMs = 1000;
    // Writes taken in one transaction at the most.
    static constexpr int MaxWritesPerTransaction = 200;

    explicit SqliteAlarmEventStore(const QString& databasePath, QObject* parent = nullptr);
    ~SqliteAlarmEventStore() override;

    // Opens the file (which must exist) and reads the next event id; the event tables are made
    // by the first write when they are missing. False with the reason in errorText(); writes
    // submitted meanwhile wait and opening is tried again with each retry.
    bool open();
    bool isOpen() const { return connection.isOpen() && nextId > 0; }
    QString errorText() const { return error; }

    void submit(const AlarmEventWrite& write) override;
    qint64 firstFreeId() const override { return nextId; }
    QVector<AlarmEventRecord> stoppedEvents() const override { return stopped; }
    QVector<AlarmEventRecord> interruptedEvents() const override { return interrupted; }
    int pendingCount() const override { return int(queue.size()); }
    bool flush() override;

    // Stops retrying by timer (the owner drives flush() itself, as at the end of the program).
    void setRetryEnabled(bool enabled);

signals:
    // The number of writes waiting after a failed flush, and 0 once they were written.
    void pendingChanged(int count);
    // Writes were committed: readers of the log may ask again.
    void written();

private:
    bool writeBatch(int count);
    void scheduleRetry();

    QString path;
    SqliteConnection connection;
    QString error;
    qint64 nextId = 0;
    QVector<AlarmEventRecord> stopped;
    QVector<AlarmEventRecord> interrupted;
    std::deque<AlarmEventWrite> queue;
    QTimer* retryTimer = nullptr;
    bool retryEnabled = true;
    int reportedPending = 0;
};
