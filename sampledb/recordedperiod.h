#pragma once

#include <QString>

class QSqlDatabase;

// The recorded period as the recorder shows it on opening a project: the first or the last
// sample's time, through the index in a millisecond or two whatever the file's size; without it
// (a file the recorder has not indexed yet) one scan of the table per call.
class RecordedPeriod
{
public:
    enum End
    {
        First = 0,
        Last = 1
    };
    // The time of that end, 0 on an empty table or when the query fails; traced after
    // `traceHead` as local time, or as a query error.
    static quint32 query(const QSqlDatabase& db, End end, const QString& traceHead);
};
