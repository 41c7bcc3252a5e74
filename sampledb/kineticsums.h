#pragma once

#include "kinetictable.h"
#include "samplerecord.h"
#include "sqlitehandle.h"
#include "sqlitestatement.h"

#include <QHash>
#include <QString>

// The writer's side of KineticTable: the rows of each node's latest bucket as the writer inserts
// them, written to the table in the same transaction. A bucket the writer meets for the first
// time (the recorder restarted inside it) is read back from the table first. A file without the
// table (made before it existed, until the background build fills it) gets nothing.
class KineticSums
{
public:
    // Transactions between two looks for the table in a file without it.
    static constexpr int RecheckTransactions = 64;

    // A row the transaction inserted, in the order inserted.
    void add(SqliteHandle db, const SampleRecord& record);
    // Writes the buckets add() changed; false when they could not be written (the reports then
    // read those buckets as rows: the counts no longer agree with the summary's).
    bool write(SqliteHandle db);
    // The transaction was rolled back: what was added since the last write() is forgotten.
    void rollback();
    // Finalizes the statements (before the connection closes).
    void clear();

private:
    struct Node
    {
        KineticTable::Row row;
        bool changed = false;
    };
    bool prepare(SqliteHandle db);
    bool writeRow(const QString& serial, const KineticTable::Row& row);

    QHash<QString, Node> nodes;
    SqliteStatement select;
    SqliteStatement upsert;
    bool failed = false;  // a row could not be written in this transaction
    bool missing = false; // the file has no table
    int sinceMissing = 0;
};
