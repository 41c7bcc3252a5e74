#pragma once

#include <QString>

class QSqlDatabase;

// The sample table every project database holds, and the one index that answers the range
// questions the programs ask: the recorded period, and one node's samples between two times.
// The recorder creates both; the report generator and the data viewer only read, and work
// (slower) on a file made before the index existed.
class SampleTable
{
public:
    // Exactly the statement the table has always been created with.
    static QString createStatement();

    static QString indexName();
    // Idempotent; builds the index over existing rows when the table already holds some.
    static QString createIndexStatement();

    // True when the connection's database has the index.
    static bool hasIndex(const QSqlDatabase& db);

    // One row with two columns, min(pointDate) and max(pointDate), NULLs on an empty table.
    // With the index it walks the distinct serial numbers through the index (a few dozen
    // lookups whatever the size of the table); without it, one scan of the table.
    static QString recordedPeriodQuery(bool indexed);
};
