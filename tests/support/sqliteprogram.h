#pragma once

#include <QString>

// Tampering done the way an attacker would: SQL run on a database file by the sqlite3 program,
// outside every program of ours.
class SqliteProgram
{
public:
    // Runs the statements; false (with SQLite's message) when the program fails or reports an
    // error. `output` gets what it printed.
    static bool run(const QString& database, const QString& sql, QString* output = nullptr);
};
