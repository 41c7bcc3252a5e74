#pragma once

#include "alarmsuppression.h"
#include "reportchannel.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

struct ReportTables;

// The shelves and out-of-service times a report lists below its figures: those of the report's
// nodes and channels that overlap its period, with who made them and why; one still holding at
// the period's end says so.
class ReportSuppressions
{
public:
    // Reads them from the project's database into `tables` (none from a file without the
    // table). False with a trace when the file could not be read.
    static bool read(const QString& databasePath, qint64 from, qint64 to,
                     const QList<ReportChannel>& channels, ReportTables* tables);

    static QStringList titles();
    // One row of texts per suppression, in the order of titles(): node, channel, kind, from,
    // until (local time), reason, who, and the note on one still holding at the period's end.
    static QVector<QStringList> rows(const ReportTables& tables,
                                     const QList<ReportChannel>& channels);
};
