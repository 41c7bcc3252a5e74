#pragma once

#include "auditentry.h"
#include "sqlitehandle.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// Verifies a project's records: the audit trail's chain (every hash recomputed, every link, the
// sequence without gap, the head), every quarter hour's samples against the newest seal of it in
// the chain (SampleSeal), and, given heads witnessed outside the file (forwarded, or printed at
// the end of a report), that the chain still holds each of them. Reads only; one pass over the
// chain, one over the sample table in the order it is stored.
//
// A quarter before the first seal is recorded before sealing began: counted, not a finding. A
// quarter after it that holds rows and has no seal is a finding, unless it is still being
// recorded (later than the newest seal, and not yet ended a margin ago at `now`).
//
// A quarter is checked against its newest seal in full once it has ended (two margins after its
// end at `now`). A quarter not yet ended may have been sealed at a stop and then have had rows
// added by a recording started again within it: its seal is checked as covering the first rows
// of the quarter by id (the ids only grow), as many as it sealed; the rows after them are not
// protected until the quarter's next seal.
class AuditVerifier
{
public:
    struct Head
    {
        qint64 sequence = 0;
        QByteArray hash; // 64 lowercase hex digits
    };

    struct Result
    {
        QStringList checked;  // what was checked, one line each
        QStringList findings; // what does not hold, the first break first
        Head head;            // the chain's last entry (sequence 0 without entries)
        bool holds() const { return findings.isEmpty(); }
    };

    // A further check (the users table against the chain, ...): `entry` sees every entry of the
    // chain in order, then `finish` adds the lines of what it checked and found.
    struct Check
    {
        std::function<void(const AuditEntry& entry)> entry;
        std::function<void(SqliteHandle db, Result* result)> finish;
    };

    // Heads from a text: one a line, a sequence number and later on the line 64 hex digits;
    // anything else on the line is ignored, and so are lines without both.
    static QVector<Head> parseHeads(const QByteArray& text);

    void setHeads(const QVector<Head>& witnessed) { heads = witnessed; }
    // The time the quarter being recorded is judged by, seconds UTC; the computer's clock
    // unless set.
    void setNow(qint64 secondsUtc) { nowSeconds = secondsUtc; }
    void addCheck(const Check& check) { checks.append(check); }
    // Most quarter findings listed one by one; more are counted.
    static constexpr int ListedQuarters = 20;

    // Verifies the database at `path`, opened read-only. False with the reason when the file
    // cannot be read as a database; the findings are in `result` otherwise.
    bool verify(const QString& path, Result* result, QString* error) const;

private:
    QVector<Head> heads;
    qint64 nowSeconds = -1;
    QVector<Check> checks;
};
