#pragma once

#include "samplesink.h"
#include "writejob.h"
#include "writerstatus.h"

#include <QString>

class DatabaseWriterWorker;
class QThread;

// The one writer of everything the recorder stores in a project's database (samples, and the
// jobs of other writes: see WriteJob), on a thread of its own, so that no flush, lock wait,
// fsync or retry runs on the caller's (the GUI) thread. This front lives on the caller's thread;
// every call is a queued call to the thread, which answers with the signals below. What waits
// is written in the order it came, with one flush policy, one retry and one spill journal for
// all of it: a write the database cannot take within the policy's time (a lock held elsewhere,
// a failing file), or any write during the index build, is appended to "<database>-pending" and replayed, in order
// and exactly once, at the next successful write or the next open. Nothing is dropped silently:
// only samples, only when the journal cannot be written either and the memory queue is full,
// counted in the status.
//
// The index and summary a file lacks (or holds foreign) are built in the background by the
// writer's thread once open() has answered; writes wait meanwhile in the journal, appended at
// every tick.
class DatabaseWriter : public SampleSink
{
    Q_OBJECT

public:
    // How long the end of the program keeps trying to reach the database before what still
    // waits stays in the journal for the next start.
    static constexpr int ShutdownGraceMs = 20000;

    DatabaseWriter(const QString& databasePath, const QString& connectionName,
                   QObject* parent = nullptr);
    // What still waits goes to the journal on the writer's thread, which then ends.
    ~DatabaseWriter() override;

    // Opens the file (and replays what an earlier run left in the journal). The caller's event
    // loop runs meanwhile (no user input) until the answer. False when the file cannot be used.
    bool open();
    // Read after open(): the file has the range index, and its recorded period (0 when the
    // table is empty or the index is not there yet: then it comes with indexFinished()).
    bool isIndexed() const { return indexed; }
    bool isBuilding() const { return building; }
    quint32 periodStart() const { return firstTime; }
    quint32 periodEnd() const { return lastTime; }
    // Read after open(): the database's own random id (32 hex digits) that every message id made
    // for it carries; empty when the file could not be opened or written.
    QString messageOrigin() const { return origin; }

    void setGatewayCount(int count);
    // Beyond `samples` samples in memory the oldest are dropped (only while the journal cannot
    // be written either).
    void setPendingLimit(int samples);

    void queueSample(const SampleRecord& record) override;
    // A write of another kind, in order with the samples; its ticket comes back with
    // jobStored() once it is in the database (written from the journal after a restart it
    // answers nobody: refer to rows by keys of your own, not by row ids).
    quint64 submit(const WriteJob& job);

    // The database timer's tick at `nowMs` (the caller's clock): the flush policy decides.
    void tick(qint64 nowMs);
    // Writes everything now, whatever the policy; flushed() answers.
    void flush(qint64 nowMs);
    // flush(), with the caller's event loop running (no user input) until the answer: true
    // when nothing waits any more.
    bool flushAndWait(qint64 nowMs);
    // Makes everything submitted so far durable: written, or kept in the journal when the file
    // cannot take it now. secured() answers with the returned request number; `kept` is false
    // only when the journal could not be written either (the writes wait in memory).
    quint64 secure(qint64 nowMs);
    // Forgets the waiting samples, in memory and in the journal: the user chose so.
    void discardPending();
    // Interrupts a running build; the file stays without it until it is opened again.
    void stopIndexing();
    // The end of the program: writes what waits, keeps trying for up to `graceMs`, then leaves
    // the rest in the journal; shutDown() answers.
    void shutdown(int graceMs = ShutdownGraceMs);

    // Samples not in the database yet: those on their way to the writer's thread, in its
    // memory and in the journal.
    int pendingCount() const;
    const WriterStatus& status() const { return current; }

signals:
    void statusChanged();
    void indexProgress(int percent);
    void indexFinished(bool periodKnown, quint32 first, quint32 last);
    void flushed(bool nothingWaits);
    void jobStored(quint64 ticket, qint64 rowId);
    void secured(quint64 request, bool kept);
    // `kept` samples stay in the journal for the next start; `lost` could be kept nowhere.
    void shutDown(qint64 kept, qint64 lost);

private:
    void adoptStatus(const WriterStatus& status);

    QThread* thread = nullptr;
    DatabaseWriterWorker* worker = nullptr;
    WriterStatus current;
    qint64 sentSamples = 0;
    quint64 run = 0;
    quint64 nextTicket = 0;
    quint64 nextFlush = 0;
    bool indexed = false;
    bool building = false;
    quint32 firstTime = 0;
    quint32 lastTime = 0;
    QString origin;
};
