#include "databasewriterworker.h"

#include "indexbuilder.h"
#include "insertserialdata.h"

#include <QDebug>
#include <QThread>
#include <QTimer>

#include <limits>

namespace {

// Entries one transaction takes: a backlog goes in parts, so that no single transaction holds
// the write lock for long.
constexpr int MaxRowsPerWrite = 4000;
// Between two attempts while the program ends.
constexpr int ShutdownRetryMs = 250;

void trace(const QString& text)
{
    qDebug().noquote() << text;
}

} // namespace

DatabaseWriterWorker::DatabaseWriterWorker(const QString& path, const QString& connection,
                                           quint64 ticketRun)
    : databasePath(path), connectionName(connection), run(ticketRun),
      journal(SpillJournal::pathFor(path))
{
}

DatabaseWriterWorker::~DatabaseWriterWorker() = default;

void DatabaseWriterWorker::open()
{
    store = std::make_unique<InsertSerialData>(databasePath, connectionName);
    isOpen = store->createConnection();
    bool indexed = false;
    bool building = false;
    quint32 first = 0;
    quint32 last = 0;
    QString origin;
    if (isOpen) {
        // Without the index the period would cost a scan of the whole table: the build reads it.
        indexed = store->hasIndex();
        if (indexed) {
            first = store->startDateTime();
            last = store->endDateTime();
        }
        building = !indexed || !store->hasSummary() || !store->hasKinetic();
        QString error;
        if (!store->messageOrigin(&origin, &error))
            qWarning().noquote() << QStringLiteral("DatabaseWriter::open : message origin : ") +
                                        error;
    }
    loadJournal();
    reportStatus();
    emit opened(isOpen, indexed, first, last, building, origin);
    if (!isOpen)
        return;
    if (building)
        startBuild();
    else if (journal.hasRecords())
        // What an earlier run could not store goes in first, before anything of this one.
        writeAll();
    reportStatus();
}

void DatabaseWriterWorker::loadJournal()
{
    QString error;
    if (!journal.load(&error)) {
        qWarning().noquote() << QStringLiteral("DatabaseWriter::open : journal : ") + error;
        return;
    }
    if (!journal.hasRecords())
        return;
    const qint64 position = isOpen ? journal.replayedPosition(store.get()) : 0;
    journal.count(position, &journalSamples, &journalJobs);
    qDebug().noquote() << QStringLiteral("DatabaseWriter::open : waiting in ") + journal.path() +
                              QStringLiteral(" : ") + QString::number(journalSamples) +
                              QStringLiteral(" samples, ") + QString::number(journalJobs) +
                              QStringLiteral(" other writes");
}

void DatabaseWriterWorker::setPendingLimit(int samples)
{
    if (store)
        store->setPendingLimit(samples);
}

void DatabaseWriterWorker::addSample(const SampleRecord& record)
{
    ++receivedSamples;
    if (store)
        store->queueSample(record);
    reportSoon();
}

void DatabaseWriterWorker::addJob(const WriteJob& job, quint64 ticket)
{
    if (store)
        store->queueJob(job, ticket);
    reportSoon();
}

// Samples come one by one: one report once those that came together are in.
void DatabaseWriterWorker::reportSoon()
{
    if (reportScheduled)
        return;
    reportScheduled = true;
    QTimer::singleShot(0, this, [this] {
        reportScheduled = false;
        reportStatus();
    });
}

qint64 DatabaseWriterWorker::waitingEntries() const
{
    return qint64(store ? store->pendingEntries().size() : 0) + journalSamples + journalJobs;
}

// The flush policy decides. While the build holds the write lock (seconds to minutes), what
// waits goes to the journal at every tick, as it would have gone to the database: a kill during
// the build then loses no more than a kill at any other time. A write that fails for another
// reason (a lock held elsewhere, the file) keeps what waits in memory until the policy's time is
// up, and then in the journal.
void DatabaseWriterWorker::tick(qint64 nowMs)
{
    if (!isOpen || shuttingDown)
        return;
    store->setClockTime(nowMs);
    const bool due =
        policy.due(int(std::min<qint64>(waitingEntries(), std::numeric_limits<int>::max())),
                   gatewayCount, nowMs);
    if (due && !builder) {
        if (writeAll())
            policy.flushed(int(waitingEntries()));
        else
            policy.failed(nowMs);
    }
    if ((builder || (policy.failing() && policy.overdue(nowMs))) &&
        !store->pendingEntries().empty())
        spill();
    reportStatus();
}

// Everything waiting, written now whatever the policy; false when the file did not take it.
bool DatabaseWriterWorker::writeNow(qint64 nowMs)
{
    if (store)
        store->setClockTime(nowMs);
    if (!isOpen || builder)
        return false;
    const bool written = writeAll();
    if (written)
        policy.flushed(int(waitingEntries()));
    else
        policy.failed(nowMs);
    return written;
}

void DatabaseWriterWorker::flush(quint64 request, qint64 nowMs)
{
    const bool written = writeNow(nowMs);
    reportStatus();
    emit flushed(request, written && waitingEntries() == 0);
}

// What could not be written now goes to the journal at once, without waiting for the flush
// policy's time: the caller holds a change back until its record is durable.
void DatabaseWriterWorker::secure(quint64 request, qint64 nowMs)
{
    const bool written = writeNow(nowMs);
    const bool kept = store && (written || spill()) && store->pendingEntries().empty();
    reportStatus();
    emit secured(request, kept);
}

// The journal first (it holds the older writes), then the memory queue, in order.
bool DatabaseWriterWorker::writeAll()
{
    QString error;
    if (journal.hasRecords()) {
        SpillJournal::Replayed replayed;
        const bool done =
            journal.replayInto(store.get(), std::numeric_limits<size_t>::max(), &replayed, &error);
        journalSamples = std::max<qint64>(0, journalSamples - replayed.samples);
        journalJobs = std::max<qint64>(0, journalJobs - replayed.jobs);
        for (const auto& [ticket, rowId] : replayed.tickets) {
            if (ticket >> 32 == run >> 32)
                emit jobStored(ticket, rowId);
        }
        if (replayed.samples + replayed.jobs > 0)
            trace(QStringLiteral("DatabaseWriter : replayed from ") + journal.path() +
                  QStringLiteral(" : ") + QString::number(replayed.samples) +
                  QStringLiteral(" samples, ") + QString::number(replayed.jobs) +
                  QStringLiteral(" other writes"));
        if (!done)
            return false;
        if (!journal.hasRecords())
            journalSamples = journalJobs = 0;
    }
    while (!store->pendingEntries().empty()) {
        const bool written = store->insertNow(MaxRowsPerWrite);
        answerJobs();
        if (!written)
            return false;
    }
    // A write found the summary's triggers broken and went on without them.
    if (store->takeSummaryDropped() && !builder)
        startBuild();
    return true;
}

void DatabaseWriterWorker::answerJobs()
{
    for (const InsertSerialData::StoredJob& job : store->takeStoredJobs())
        emit jobStored(job.ticket, job.rowId);
}

// Everything in memory goes to the journal, synced. A journal that cannot be written (a full
// disk) leaves it in memory, where the queue's bound applies.
bool DatabaseWriterWorker::spill()
{
    const std::deque<WriteEntry>& entries = store->pendingEntries();
    if (entries.empty())
        return true;
    QString error;
    if (!journal.append(entries, entries.size(), &error)) {
        if (!journalFailing)
            qWarning().noquote() << QStringLiteral("DatabaseWriter : journal failing : ") + error;
        journalFailing = true;
        return false;
    }
    journalFailing = false;
    qint64 samples = 0;
    for (const WriteEntry& e : entries)
        samples += e.isJob ? 0 : 1;
    journalSamples += samples;
    journalJobs += qint64(entries.size()) - samples;
    trace(QStringLiteral("DatabaseWriter : kept in ") + journal.path() + QStringLiteral(" : ") +
          QString::number(samples) + QStringLiteral(" samples"));
    store->takePending(int(entries.size()));
    return true;
}

void DatabaseWriterWorker::discard()
{
    if (!store)
        return;
    store->discardPending();
    if (journalSamples > 0 && journalJobs == 0) {
        QString error;
        qWarning().noquote() << QStringLiteral("DatabaseWriter : discarded from the journal : ") +
                                    QString::number(journalSamples);
        if (journal.discard(&error))
            journalSamples = 0;
    }
    policy.flushed(int(waitingEntries()));
    reportStatus();
}

void DatabaseWriterWorker::startBuild()
{
    builder = new IndexBuilder(databasePath, this);
    connect(builder, &IndexBuilder::progress, this, &DatabaseWriterWorker::indexProgress);
    connect(builder, &QThread::finished, this, &DatabaseWriterWorker::buildFinished);
    builder->start(QThread::LowPriority);
}

void DatabaseWriterWorker::buildFinished()
{
    if (!builder)
        return;
    emit indexFinished(builder->periodKnown(), builder->periodStart(), builder->periodEnd());
    delete builder;
    builder = nullptr;
    store->buildFinished();
    if (shuttingDown)
        return;
    // What the build kept waiting goes in at once.
    if (waitingEntries() > 0) {
        if (writeAll())
            policy.flushed(int(waitingEntries()));
    }
    reportStatus();
}

void DatabaseWriterWorker::stopIndexing()
{
    // Its destructor interrupts the build and waits for the thread, a few milliseconds.
    delete builder;
    builder = nullptr;
}

// Tries at once; what cannot be written goes to the journal at once (the service manager may
// kill the program any time now), and the database is tried again every ShutdownRetryMs until
// the grace time is over.
void DatabaseWriterWorker::shutdown(int graceMs)
{
    stopIndexing();
    shuttingDown = true;
    if (isOpen && writeAll()) {
        policy.flushed(int(waitingEntries()));
        endShutdown();
        return;
    }
    spill();
    if (!isOpen) {
        endShutdown();
        return;
    }
    shutdownGraceMs = graceMs;
    shutdownClock.start();
    retryTimer = new QTimer(this);
    connect(retryTimer, &QTimer::timeout, this, &DatabaseWriterWorker::retryShutdown);
    retryTimer->start(ShutdownRetryMs);
    reportStatus();
}

void DatabaseWriterWorker::retryShutdown()
{
    if (writeAll()) {
        policy.flushed(int(waitingEntries()));
        endShutdown();
        return;
    }
    if (shutdownClock.elapsed() >= shutdownGraceMs) {
        spill();
        endShutdown();
    }
}

void DatabaseWriterWorker::endShutdown()
{
    if (retryTimer)
        retryTimer->stop();
    const qint64 lost = store ? store->pendingCount() : 0;
    if (journalSamples > 0)
        qWarning().noquote() << QStringLiteral("DatabaseWriter::shutdown : ") +
                                    QString::number(journalSamples) +
                                    QStringLiteral(" samples kept in ") + journal.path() +
                                    QStringLiteral(" for the next start");
    reportStatus();
    emit shutDown(journalSamples, lost);
}

void DatabaseWriterWorker::finish()
{
    stopIndexing();
    if (retryTimer)
        retryTimer->stop();
    if (store && !store->pendingEntries().empty()) {
        const int samples = store->pendingCount();
        if (spill())
            qWarning().noquote() << QStringLiteral("DatabaseWriter : at the end, kept in ") +
                                        journal.path() + QStringLiteral(" : ") +
                                        QString::number(samples) + QStringLiteral(" samples");
        else
            qWarning().noquote() << QStringLiteral("DatabaseWriter : at the end, not stored : ") +
                                        QString::number(store->pendingCount()) +
                                        QStringLiteral(" samples");
    }
    store.reset();
    QThread::currentThread()->quit();
}

void DatabaseWriterWorker::reportStatus()
{
    WriterStatus status;
    status.receivedSamples = receivedSamples;
    status.waitingSamples = (store ? store->pendingCount() : 0) + journalSamples;
    status.journalSamples = journalSamples;
    status.waitingJobs = qint64(store ? store->pendingEntries().size() : 0) -
                         (store ? store->pendingCount() : 0) + journalJobs;
    status.droppedSamples = store ? store->droppedCount() : 0;
    status.failing = policy.failing();
    status.journalFailing = journalFailing;
    if (status.receivedSamples == lastStatus.receivedSamples &&
        status.waitingSamples == lastStatus.waitingSamples &&
        status.journalSamples == lastStatus.journalSamples &&
        status.waitingJobs == lastStatus.waitingJobs &&
        status.droppedSamples == lastStatus.droppedSamples &&
        status.failing == lastStatus.failing && status.journalFailing == lastStatus.journalFailing)
        return;
    lastStatus = status;
    emit statusChanged(status);
}
