#include "alarmeventreader.h"

#include "alarmeventtable.h"

#include <sqlite3.h>

AlarmEventReader::AlarmEventReader(const QString& databasePath) : path(databasePath) {}

bool AlarmEventReader::open(QString* error)
{
    if (connection.isOpen())
        return true;
    if (!connection.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX)) {
        *error = connection.errorText();
        return false;
    }
    sqlite3_busy_timeout(connection.get(), BusyTimeoutMs);
    return true;
}

bool AlarmEventReader::list(const AlarmEventFilter& filter, QVector<AlarmEventRecord>* out,
                            QString* error)
{
    return open(error) && AlarmEventTable::list(connection.get(), filter, out, error);
}

qint64 AlarmEventReader::count(const AlarmEventFilter& filter, QString* error)
{
    return open(error) ? AlarmEventTable::count(connection.get(), filter, error) : -1;
}
