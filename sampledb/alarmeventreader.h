#pragma once

#include "alarmeventrecord.h"
#include "sqliteconnection.h"

#include <QString>
#include <QVector>

// Questions to the project's alarm event log on a read-only connection of the reader's own,
// opened at the first question and kept. Meant for a thread that may wait: a file without WAL
// may be locked by the writer's commit for a moment, and a question waits that long.
class AlarmEventReader
{
public:
    static constexpr int BusyTimeoutMs = 2000;

    explicit AlarmEventReader(const QString& databasePath);

    // The events matching the filter (as AlarmEventTable::list()); false with the reason.
    bool list(const AlarmEventFilter& filter, QVector<AlarmEventRecord>* out, QString* error);
    // Their number; -1 with the reason on failure.
    qint64 count(const AlarmEventFilter& filter, QString* error);

private:
    bool open(QString* error);

    QString path;
    SqliteConnection connection;
};
