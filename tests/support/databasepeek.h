#pragma once

#include <QString>
#include <QtGlobal>

// A look into a database file from outside, as another program would take it: a connection of
// its own, opened for the one statement and closed again.
class DatabasePeek
{
public:
    // Runs `sql` on the file; the first value of its first row, else -1.
    static qint64 scalar(const QString& database, const QString& sql);
};
