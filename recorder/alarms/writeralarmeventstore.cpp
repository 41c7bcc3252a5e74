#include "writeralarmeventstore.h"

#include "alarmeventlog.h"
#include "databasewriter.h"
#include "writejob.h"

#include <QDateTime>
#include <QTimer>

WriterAlarmEventStore::WriterAlarmEventStore(DatabaseWriter* databaseWriter,
                                             const QString& databasePath, QObject* parent)
    : QObject(parent), writer(databaseWriter), path(databasePath)
{
    // Without a writer (only the next free id is asked) there is nothing to hear.
    if (!writer)
        return;
    connect(writer, &DatabaseWriter::jobStored, this,
            [this](quint64 ticket, qint64) { stored(ticket); });
    connect(writer, &DatabaseWriter::statusChanged, this, &WriterAlarmEventStore::reportPending);
}

bool WriterAlarmEventStore::open()
{
    // The ids of the events in the writer's journal are sampledb's to keep clear of.
    AlarmEventLog log;
    const bool opened = log.open(path);
    error = log.errorText();
    nextId = log.firstFreeId();
    stopped = log.stoppedEvents();
    interrupted = log.interruptedEvents();
    return opened;
}

void WriterAlarmEventStore::submit(const AlarmEventWrite& write)
{
    if (!writer)
        return;
    waiting.insert(writer->submit(WriteJob::alarmEvent(write)));
}

bool WriterAlarmEventStore::flush()
{
    if (writer && !waiting.isEmpty())
        writer->flush(QDateTime::currentMSecsSinceEpoch());
    return true;
}

void WriterAlarmEventStore::stored(quint64 ticket)
{
    if (!waiting.remove(ticket))
        return;
    reportPending();
    // One answer per batch of commits, not one per write.
    if (!writtenDue) {
        writtenDue = true;
        QTimer::singleShot(0, this, [this] {
            writtenDue = false;
            emit written();
        });
    }
}

int WriterAlarmEventStore::pendingCount() const
{
    return writer && writer->status().failing ? int(waiting.size()) : 0;
}

void WriterAlarmEventStore::reportPending()
{
    const int count = pendingCount();
    if (count == reportedPending)
        return;
    reportedPending = count;
    emit pendingChanged(count);
}
