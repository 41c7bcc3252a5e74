#include "databasewriter.h"

#include "databasewriterworker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QThread>

#include <limits>

DatabaseWriter::DatabaseWriter(const QString& databasePath, const QString& connectionName,
                               QObject* parent)
    : SampleSink(parent), thread(new QThread(this)),
      // Tickets of this writer carry its own upper half: a job replayed from the journal of
      // another run answers nobody here.
      run(quint64(QRandomGenerator::global()->generate() | 1u) << 32)
{
    qRegisterMetaType<WriterStatus>();
    thread->setObjectName(QStringLiteral("database writer"));
    worker = new DatabaseWriterWorker(databasePath, connectionName, run);
    worker->moveToThread(thread);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &DatabaseWriterWorker::statusChanged, this, &DatabaseWriter::adoptStatus);
    connect(worker, &DatabaseWriterWorker::indexProgress, this, &DatabaseWriter::indexProgress);
    connect(worker, &DatabaseWriterWorker::indexFinished, this,
            [this](bool known, quint32 first, quint32 last) {
                building = false;
                emit indexFinished(known, first, last);
            });
    connect(worker, &DatabaseWriterWorker::flushed, this,
            [this](quint64, bool nothingWaits) { emit flushed(nothingWaits); });
    connect(worker, &DatabaseWriterWorker::jobStored, this, &DatabaseWriter::jobStored);
    connect(worker, &DatabaseWriterWorker::secured, this, &DatabaseWriter::secured);
    connect(worker, &DatabaseWriterWorker::shutDown, this, &DatabaseWriter::shutDown);
    thread->start();
}

DatabaseWriter::~DatabaseWriter()
{
    // Queued behind every call made before: nothing sent is left unread.
    QMetaObject::invokeMethod(
        worker, [w = worker] { w->finish(); }, Qt::QueuedConnection);
    thread->wait();
}

namespace {

// The caller's events go on (no user input) until the writer's thread has answered. Not an
// event loop of its own: one asked to quit (the program ending) would return before the answer.
void waitFor(const bool& answered)
{
    while (!answered)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::WaitForMoreEvents);
}

} // namespace

bool DatabaseWriter::open()
{
    bool ok = false;
    bool answered = false;
    const QMetaObject::Connection answer =
        connect(worker, &DatabaseWriterWorker::opened, this,
                [&](bool opened, bool hasIndex, quint32 first, quint32 last, bool builds,
                    const QString& messageOrigin) {
                    ok = opened;
                    origin = messageOrigin;
                    indexed = hasIndex;
                    firstTime = first;
                    lastTime = last;
                    building = opened && builds;
                    answered = true;
                });
    QMetaObject::invokeMethod(
        worker, [w = worker] { w->open(); }, Qt::QueuedConnection);
    waitFor(answered);
    disconnect(answer);
    return ok;
}

void DatabaseWriter::setGatewayCount(int count)
{
    QMetaObject::invokeMethod(
        worker, [w = worker, count] { w->setGatewayCount(count); }, Qt::QueuedConnection);
}

void DatabaseWriter::setPendingLimit(int samples)
{
    QMetaObject::invokeMethod(
        worker, [w = worker, samples] { w->setPendingLimit(samples); }, Qt::QueuedConnection);
}

void DatabaseWriter::queueSample(const SampleRecord& record)
{
    ++sentSamples;
    QMetaObject::invokeMethod(
        worker, [w = worker, record] { w->addSample(record); }, Qt::QueuedConnection);
}

quint64 DatabaseWriter::submit(const WriteJob& job)
{
    const quint64 ticket = run | (++nextTicket & 0xffffffffu);
    QMetaObject::invokeMethod(
        worker, [w = worker, job, ticket] { w->addJob(job, ticket); }, Qt::QueuedConnection);
    return ticket;
}

void DatabaseWriter::tick(qint64 nowMs)
{
    QMetaObject::invokeMethod(
        worker, [w = worker, nowMs] { w->tick(nowMs); }, Qt::QueuedConnection);
}

void DatabaseWriter::flush(qint64 nowMs)
{
    const quint64 request = ++nextFlush;
    QMetaObject::invokeMethod(
        worker, [w = worker, request, nowMs] { w->flush(request, nowMs); }, Qt::QueuedConnection);
}

quint64 DatabaseWriter::secure(qint64 nowMs)
{
    const quint64 request = ++nextFlush;
    QMetaObject::invokeMethod(
        worker, [w = worker, request, nowMs] { w->secure(request, nowMs); },
        Qt::QueuedConnection);
    return request;
}

bool DatabaseWriter::flushAndWait(qint64 nowMs)
{
    const quint64 request = ++nextFlush;
    bool nothingWaits = false;
    bool answered = false;
    const QMetaObject::Connection answer =
        connect(worker, &DatabaseWriterWorker::flushed, this, [&](quint64 id, bool done) {
            if (id != request)
                return;
            nothingWaits = done;
            answered = true;
        });
    QMetaObject::invokeMethod(
        worker, [w = worker, request, nowMs] { w->flush(request, nowMs); }, Qt::QueuedConnection);
    waitFor(answered);
    disconnect(answer);
    return nothingWaits;
}

void DatabaseWriter::discardPending()
{
    QMetaObject::invokeMethod(
        worker, [w = worker] { w->discard(); }, Qt::QueuedConnection);
}

void DatabaseWriter::stopIndexing()
{
    building = false;
    QMetaObject::invokeMethod(
        worker, [w = worker] { w->stopIndexing(); }, Qt::QueuedConnection);
}

void DatabaseWriter::shutdown(int graceMs)
{
    QMetaObject::invokeMethod(
        worker, [w = worker, graceMs] { w->shutdown(graceMs); }, Qt::QueuedConnection);
}

int DatabaseWriter::pendingCount() const
{
    const qint64 count = sentSamples - current.receivedSamples + current.waitingSamples;
    return int(std::min<qint64>(count, std::numeric_limits<int>::max()));
}

void DatabaseWriter::adoptStatus(const WriterStatus& status)
{
    current = status;
    emit statusChanged();
}
