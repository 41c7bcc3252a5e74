#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

// The names of a project's backup copies and which of them to keep: the newest `daily` copies,
// the first copy of each of the newest `monthly` months that have copies, and the first of each
// of the newest `yearly` years. Months and years are those of the copies, not of the calendar:
// copies missed while the recorder was off cost no kept month. Only the project's own copies
// ("<project>-yyyy-MM-dd.dat") are ever named for deletion; copies set aside as bad, partial
// copies and any other file are left alone.
class BackupRetention
{
public:
    // "<project>-yyyy-MM-dd.dat" for the copy of `date` (a local date).
    static QString fileName(const QString& projectName, const QDate& date);
    // The date of one of the project's copies; invalid for any other name.
    static QDate dateOf(const QString& projectName, const QString& fileName);
    // Of `fileNames` (names in the backup folder), the project's copies to delete.
    static QStringList toDelete(const QString& projectName, const QStringList& fileNames,
                                int daily, int monthly, int yearly);
};
