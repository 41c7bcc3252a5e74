#pragma once

#include "sqlitehandle.h"

#include <QString>

#include <functional>

// A write in a transaction of its own, begun immediate: the write lock is taken first (waiting
// up to the connection's busy timeout), so that what the work reads cannot change before it
// writes. Committed when the work succeeds, rolled back otherwise.
class ImmediateTransaction
{
public:
    // False with the reason: the work's, or SQLite's for the begin or the commit.
    static bool run(SqliteHandle db, const std::function<bool(QString* error)>& work,
                    QString* error);
};
