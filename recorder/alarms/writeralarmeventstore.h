#pragma once

#include "alarmeventstore.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

class DatabaseWriter;

// The alarm event log written by the recorder's one database writer, in order with the samples
// and the outbox, on the writer's thread: nothing here waits for the file or for another
// connection's lock. A write handed over is the writer's to keep: it retries it and spills it
// to its journal with the samples, which the next start replays.
class WriterAlarmEventStore : public QObject, public AlarmEventStore
{
    Q_OBJECT

public:
    // `writer` is the open project's and must be open.
    WriterAlarmEventStore(DatabaseWriter* writer, const QString& databasePath,
                          QObject* parent = nullptr);

    // Reads the next free event id (a read only: in WAL mode it never waits for the writer),
    // as sampledb gives it (AlarmEventLog). False with the reason in errorText(); ids then start
    // from the clock.
    bool open();
    QString errorText() const { return error; }

    void submit(const AlarmEventWrite& write) override;
    qint64 firstFreeId() const override { return nextId; }
    QVector<AlarmEventRecord> stoppedEvents() const override { return stopped; }
    QVector<AlarmEventRecord> interruptedEvents() const override { return interrupted; }
    // Writes waiting for the file while the writer fails (those on their way for a moment are
    // no news).
    int pendingCount() const override;
    // Asks the writer to write now. True: everything is in the writer's hands, which keeps it
    // through failures and restarts.
    bool flush() override;

signals:
    // Writes waiting for the file while the writer fails (0 once all are stored).
    void pendingChanged(int count);
    // Writes were committed: readers of the log may ask again.
    void written();

private:
    void stored(quint64 ticket);
    void reportPending();

    QPointer<DatabaseWriter> writer;
    QString path;
    QString error;
    qint64 nextId = 0;
    QVector<AlarmEventRecord> stopped;
    QVector<AlarmEventRecord> interrupted;
    QSet<quint64> waiting;
    int reportedPending = 0;
    bool writtenDue = false;
};
