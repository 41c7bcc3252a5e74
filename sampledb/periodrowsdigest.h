#pragma once

#include "sqlitehandle.h"

#include <QByteArray>
#include <QString>

// The digest of the samples of a period, so that a report signed for it can later tell whether
// its rows were changed, deleted or added to. Every row with pointDate from `fromSeconds` up to
// (not including) `toSeconds`, UTC, folded as a quarter's seal folds its rows (SealDigest: one
// line per row, each node's lines in the order of their ids, one line per node in the order of
// the encoded serial numbers), so an auditor recomputes it the same way.
class PeriodRowsDigest
{
public:
    // Read on the caller's connection, one node at a time through the index when it is there.
    static bool of(SqliteHandle db, qint64 fromSeconds, qint64 toSeconds, qint64* rows,
                   QByteArray* digest, QString* error);
};
