#pragma once

#include <QString>

class QTextStream;

// `Tallyforge --verify PROJECT.tpc [--heads FILE]`, without a window: runs the AuditVerifier on
// the project's database, prints what it checked and each finding, and answers the exit status:
// 0 when everything holds, 1 with a finding, 2 when the project, its database or the heads file
// cannot be read.
class VerifyCommand
{
public:
    // `nowSeconds` (UTC) judges the quarter still being recorded; the computer's clock when
    // negative.
    static int run(const QString& projectPath, const QString& headsFile, QTextStream& out,
                   QTextStream& err, qint64 nowSeconds = -1);
    // The same checks on a database other than the project's own (a backup copy of it), with
    // the same output and exit status.
    static int runOnDatabase(const QString& projectPath, const QString& database,
                             const QString& headsFile, QTextStream& out, QTextStream& err,
                             qint64 nowSeconds = -1);
};
