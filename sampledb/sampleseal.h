#pragma once

#include "sqlitehandle.h"

#include <QByteArray>
#include <QString>

#include <set>

struct AuditEntry;

// The seals of a project's samples: the committed rows of one quarter hour (every node; quarter
// q holds pointDate q * 900 to q * 900 + 899, seconds UTC) folded into a SealDigest and written
// as an audit trail entry by user "recorder", action "samples sealed", object the quarter's start
// ("2026-12-09T13:15:00Z", UTC), new value "rows N, sha256 DIGEST". A quarter sealed again (rows
// that came later) has a newer entry; the newest counts. A quarter sealed at a stop before its
// end may get rows after that seal (recording started again within it): they come after the
// sealed ones by id (the ids only grow), and the quarter is sealed again at its end or at the
// next stop, not at every flush.
//
// Every function runs on the writer's connection inside its transaction. Beside the chain the
// writer keeps the quarters it sealed in a table of its own (quorbinal_seals), which only tells it
// which quarters to seal again; the verification reads the seals from the chain.
class SampleSeal
{
public:
    static constexpr qint64 QuarterSeconds = 900;
    // How long after a quarter's end the recorder waits for answers still on their way before
    // it seals the quarter.
    static constexpr qint64 MarginSeconds = 60;

    static QString action() { return QStringLiteral("samples sealed"); }
    static QString user() { return QStringLiteral("recorder"); }
    static QString tableName() { return QStringLiteral("quorbinal_seals"); }
    // The reasons of seals other than the one at a quarter's end.
    static QString lateRowsReason() { return QStringLiteral("rows arrived after the seal"); }
    static QString catchUpReason()
    {
        return QStringLiteral("sealed at the next start: the recorder had ended without sealing it");
    }
    static QString restartedReason()
    {
        return QStringLiteral("sealed again at the next start: rows written after its seal, and "
                              "the recorder had ended without sealing them");
    }

    // True when `quarter` ended a margin ago at `timeMs` (milliseconds UTC): no answer of it is
    // on its way any more, and the recording cycle has sealed it.
    static bool hasEnded(qint64 quarter, qint64 timeMs);

    static qint64 quarterOfSeconds(qint64 seconds);
    static QString objectOf(qint64 quarter);
    static bool parseObject(const QString& object, qint64* quarter);
    static QString valueOf(qint64 rows, const QByteArray& digest);
    static bool parseValue(const QString& value, qint64* rows, QByteArray* digest);
    // True for an entry that is a seal, with what it says.
    static bool parseEntry(const AuditEntry& entry, qint64* quarter, qint64* rows,
                           QByteArray* digest);

    // The rows of `quarter` now, and their digest.
    static bool digestOf(SqliteHandle db, qint64 quarter, qint64* rows, QByteArray* digest,
                         QString* error);
    // The first `count` rows of `quarter` by id (fewer when it has fewer), and their digest:
    // what a seal of `count` rows covered if only rows came after it.
    static bool prefixDigestOf(SqliteHandle db, qint64 quarter, qint64 count, qint64* rows,
                               QByteArray* digest, QString* error);
    // Seals `quarter` with an entry at `timeMs`.
    static bool seal(SqliteHandle db, qint64 quarter, qint64 timeMs, const QString& reason,
                     QString* error);
    // Once sealing has begun: seals every quarter after the newest sealed one up to the newest
    // row's, at most up to `throughQuarter` (the quarters a recorder that ended without
    // stopping, by a kill or a power loss, left unsealed). The newest sealed quarter, when it
    // is at most `throughQuarter`, is sealed again if rows were added after its seal (a
    // recorder killed after it started again within that quarter); rows of it changed or
    // deleted are left as they are, for the verification to report.
    static bool catchUp(SqliteHandle db, qint64 throughQuarter, qint64 timeMs, QString* error);
    // Seals again those of `quarters` that were sealed before and have ended by `timeMs`
    // (hasEnded()): rows came in after the seal. A quarter still running is left to its seal
    // at its end or at the next stop, so that a recording started again within a quarter
    // sealed at a stop does not seal it at every flush.
    static bool resealLate(SqliteHandle db, const std::set<qint64>& quarters, qint64 timeMs,
                           QString* error);
};
