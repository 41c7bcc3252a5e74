#include "sqlitealarmeventstore.h"

#include "alarmeventtable.h"

#include <QDebug>
#include <QTimer>

#include <sqlite3.h>

SqliteAlarmEventStore::SqliteAlarmEventStore(const QString& databasePath, QObject* parent)
    : QObject(parent), path(databasePath)
{
    retryTimer = new QTimer(this);
    retryTimer->setSingleShot(true);
    retryTimer->setInterval(RetryIntervalMs);
    connect(retryTimer, &QTimer::timeout, this, [this] { flush(); });
}

SqliteAlarmEventStore::~SqliteAlarmEventStore()
{
    if (!queue.empty())
        qWarning().noquote() << QStringLiteral("SqliteAlarmEventStore : alarm event writes not "
                                               "stored : ") +
                                    QString::number(queue.size());
}

bool SqliteAlarmEventStore::open()
{
    if (isOpen())
        return true;
    // No SQLITE_OPEN_CREATE: the recording cycle makes the file; a wrong path must not leave an
    // empty database behind.
    if (!connection.isOpen() &&
        !connection.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX)) {
        error = connection.errorText();
        return false;
    }
    sqlite3* db = connection.get();
    // Never wait for the sample writer's lock on this thread; a write that meets it is retried.
    sqlite3_busy_timeout(db, 0);
    // In WAL mode a commit then needs no sync of its own: a crash of the program loses nothing
    // committed, only a power cut may lose the last commits.
    sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    // Only a read: the tables are made by the first write, which may have to wait for its turn.
    nextId = AlarmEventTable::nextId(db, &error);
    QString stoppedError;
    if (!AlarmEventTable::stoppedEvents(db, &stopped, &stoppedError))
        qWarning().noquote() << QStringLiteral("AlarmEventStore::open : ") + stoppedError;
    if (!AlarmEventTable::interruptedEvents(db, &interrupted, &stoppedError))
        qWarning().noquote() << QStringLiteral("AlarmEventStore::open : ") + stoppedError;
    return nextId > 0;
}

void SqliteAlarmEventStore::submit(const AlarmEventWrite& write)
{
    queue.push_back(write);
    flush();
}

bool SqliteAlarmEventStore::flush()
{
    const bool waiting = !queue.empty();
    while (!queue.empty()) {
        const int count = int(std::min<size_t>(queue.size(), MaxWritesPerTransaction));
        if (!open() || !writeBatch(count)) {
            if (int(queue.size()) != reportedPending) {
                if (reportedPending == 0)
                    qWarning().noquote()
                        << QStringLiteral("SqliteAlarmEventStore::flush : waiting : ") +
                               QString::number(queue.size()) + QStringLiteral(" : ") + error;
                reportedPending = int(queue.size());
                emit pendingChanged(reportedPending);
            }
            scheduleRetry();
            return false;
        }
        queue.erase(queue.begin(), queue.begin() + count);
    }
    if (reportedPending != 0) {
        reportedPending = 0;
        emit pendingChanged(0);
    }
    if (waiting)
        emit written();
    return true;
}

bool SqliteAlarmEventStore::writeBatch(int count)
{
    sqlite3* db = connection.get();
    if (sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = connection.lastError();
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (!AlarmEventTable::apply(db, queue[size_t(i)], &error)) {
            sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
            return false;
        }
    }
    if (sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    error = connection.lastError();
    sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
    return false;
}

void SqliteAlarmEventStore::setRetryEnabled(bool enabled)
{
    retryEnabled = enabled;
    if (!enabled)
        retryTimer->stop();
}

void SqliteAlarmEventStore::scheduleRetry()
{
    if (retryEnabled && !retryTimer->isActive())
        retryTimer->start();
}
