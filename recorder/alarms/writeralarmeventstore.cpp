#include "writeralarmeventstore.h"

#include "alarmeventtable.h"
#include "databasewriter.h"
#include "spilljournal.h"
#include "sqliteconnection.h"
#include "writejob.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QTimer>

#include <sqlite3.h>

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
    SqliteConnection connection;
    if (!connection.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX)) {
        error = connection.errorText();
        return false;
    }
    sqlite3_busy_timeout(connection.get(), 0);
    nextId = AlarmEventTable::nextId(connection.get(), &error);
    QString stoppedError;
    if (!AlarmEventTable::stoppedEvents(connection.get(), &stopped, &stoppedError))
        qWarning().noquote() << QStringLiteral("AlarmEventStore::open : ") + stoppedError;
    if (!AlarmEventTable::interruptedEvents(connection.get(), &interrupted, &stoppedError))
        qWarning().noquote() << QStringLiteral("AlarmEventStore::open : ") + stoppedError;
    // Events an earlier run left in the writer's journal reach the table later, under their own
    // ids, and a new event with one of those ids would be merged into it: while a journal waits,
    // ids start from the clock's milliseconds, above any id an earlier run handed out.
    if (nextId > 0 && QFileInfo::exists(SpillJournal::pathFor(path)))
        nextId = qMax(nextId, QDateTime::currentMSecsSinceEpoch());
    return nextId > 0;
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
