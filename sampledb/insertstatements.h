#pragma once

#include "samplerecord.h"
#include "writeentry.h"

#include <QString>

#include <map>
#include <memory>
#include <vector>

class QSqlDatabase;
class QSqlQuery;

// How the writer's samples become rows: the insert statements, with the values encoded as the
// file has always held them, and the statements of the usual flush sizes kept prepared on the
// writer's connection.
class InsertStatements
{
public:
    // Insert statements of up to this many rows stay prepared between flushes.
    static constexpr int MaxKeptStatementRows = 64;

    InsertStatements();
    ~InsertStatements();
    InsertStatements(const InsertStatements&) = delete;
    InsertStatements& operator=(const InsertStatements&) = delete;

    // Inserts the rows in one statement on `db`. False with the reason and SQLite's error code
    // otherwise.
    bool insertRows(const QSqlDatabase& db, const std::vector<const SampleRecord*>& rows,
                    QString* error, int* errorCode);
    // Forgets the kept statements: they keep the connection busy, and carry the triggers'
    // program of the time they were prepared.
    void clear();

    // The value a channel's row holds for a sample's value: six significant digits, NoValue for
    // NULL.
    static double storedValue(double value);

    // Marks each sample of the batch that repeats an earlier one.
    static std::vector<bool> repeatedRecords(const std::vector<const WriteEntry*>& batch);

private:
    QSqlQuery* keptStatement(const QSqlDatabase& db, int rows);

    std::map<int, std::unique_ptr<QSqlQuery>> statements;
};
