#include "alarmeventreader.h"

#include "alarmeventtable.h"
#include "signaturetable.h"
#include "signedrecord.h"

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
    if (!open(error) || !AlarmEventTable::list(connection.get(), filter, out, error))
        return false;
    QHash<QString, ElectronicSignature> signatures;
    if (!SignatureTable::forKind(connection.get(), SignedRecord::alarmEventKind(), &signatures,
                                 error))
        return false;
    for (AlarmEventRecord& event : *out) {
        const auto it = signatures.constFind(QString::number(event.id));
        if (it != signatures.constEnd())
            event.signature = it->manifestation();
    }
    return true;
}

qint64 AlarmEventReader::count(const AlarmEventFilter& filter, QString* error)
{
    return open(error) ? AlarmEventTable::count(connection.get(), filter, error) : -1;
}
