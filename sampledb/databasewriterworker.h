#pragma once

#include "flushpolicy.h"
#include "spilljournal.h"
#include "writerstatus.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>

class IndexBuilder;
class InsertSerialData;
class QTimer;

// The DatabaseWriter's half on its own thread: it holds the connection (InsertSerialData with
// its queue), the flush policy's decisions, the spill journal and the background index build.
// Everything here is called by queued calls from the front and answers with signals; no call
// blocks the front's thread.
class DatabaseWriterWorker : public QObject
{
    Q_OBJECT

public:
    DatabaseWriterWorker(const QString& databasePath, const QString& connectionName,
                         quint64 ticketRun);
    ~DatabaseWriterWorker() override;

    void open();
    void setGatewayCount(int count) { gatewayCount = count; }
    void setPendingLimit(int samples);
    void addSample(const SampleRecord& record);
    void addJob(const WriteJob& job, quint64 ticket);
    void tick(qint64 nowMs);
    void flush(quint64 request, qint64 nowMs);
    // Everything submitted before is made durable: written, or else kept in the journal.
    void secure(quint64 request, qint64 nowMs);
    void discard();
    void stopIndexing();
    void shutdown(int graceMs);
    // The last call: what still waits goes to the journal, the connection closes, the thread
    // ends.
    void finish();

signals:
    void opened(bool ok, bool indexed, quint32 first, quint32 last, bool building,
                const QString& messageOrigin);
    void statusChanged(const WriterStatus& status);
    void indexProgress(int percent);
    void indexFinished(bool periodKnown, quint32 first, quint32 last);
    void flushed(quint64 request, bool nothingWaits);
    void secured(quint64 request, bool kept);
    void jobStored(quint64 ticket, qint64 rowId);
    // The end of a shutdown: samples kept in the journal for the next start, samples lost.
    void shutDown(qint64 kept, qint64 lost);

private:
    void startBuild();
    void buildFinished();
    bool writeAll();
    bool writeNow(qint64 nowMs);
    bool spill();
    void loadJournal();
    void answerJobs();
    void retryShutdown();
    void endShutdown();
    void reportStatus();
    void reportSoon();
    qint64 waitingEntries() const;

    QString databasePath;
    QString connectionName;
    quint64 run;
    std::unique_ptr<InsertSerialData> store;
    bool isOpen = false;
    SpillJournal journal;
    qint64 journalSamples = 0;
    qint64 journalJobs = 0;
    bool journalFailing = false;
    FlushPolicy policy;
    int gatewayCount = 1;
    qint64 receivedSamples = 0;
    IndexBuilder* builder = nullptr;
    bool shuttingDown = false;
    int shutdownGraceMs = 0;
    QElapsedTimer shutdownClock;
    QTimer* retryTimer = nullptr;
    WriterStatus lastStatus;
    bool reportScheduled = false;
};
