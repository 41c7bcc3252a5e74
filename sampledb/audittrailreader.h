#pragma once

#include "auditentry.h"
#include "audittrailfilter.h"
#include "sqliteconnection.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// Questions to the project's audit trail on a read-only connection of the reader's own, opened
// at the first question and kept. Meant for a thread that may wait (a writer's commit holds the
// file for a moment). Entries come in pages: a trail of a million entries is never read whole.
// A database without the trail (nothing recorded yet) answers with no entries.
class AuditTrailReader
{
public:
    static constexpr int BusyTimeoutMs = 2000;
    // A page holds at most this many entries, whatever is asked.
    static constexpr int MaxPageSize = 10000;

    explicit AuditTrailReader(const QString& databasePath);

    // Up to `limit` entries matching the filter, in `order`, beyond the entry with sequence
    // `after` (for the next page pass the last sequence of the page before; 0 for the first
    // page). False with the reason on failure.
    bool page(const AuditTrailFilter& filter, AuditTrailOrder order, qint64 after, int limit,
              QVector<AuditEntry>* out, QString* error);
    // The number of entries matching the filter; -1 with the reason on failure.
    qint64 count(const AuditTrailFilter& filter, QString* error);
    // The newest entry of the whole trail; nullopt without entries.
    bool head(std::optional<AuditEntry>* out, QString* error);
    // (AuditTrail::headLine() gives the line the screen and the reports show for it.)
    // The users and the actions the trail names, sorted, for the filters' choices.
    bool names(QStringList* users, QStringList* actions, QString* error);

private:
    bool open(QString* error);
    bool hasTable(bool* exists, QString* error);

    QString path;
    SqliteConnection connection;
};
