#include "alarmeventlog.h"

#include "alarmeventtable.h"
#include "spilljournal.h"
#include "sqliteconnection.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>

#include <sqlite3.h>

bool AlarmEventLog::open(const QString& databasePath)
{
    error.clear();
    nextId = 0;
    stopped.clear();
    interrupted.clear();
    SqliteConnection connection;
    if (!connection.open(databasePath, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX)) {
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
    if (nextId > 0 && QFileInfo::exists(SpillJournal::pathFor(databasePath)))
        nextId = qMax(nextId, QDateTime::currentMSecsSinceEpoch());
    return nextId > 0;
}
