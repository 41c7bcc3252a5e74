#pragma once

#include <QString>

class QTextStream;

// `Tallyforge --verify-report FILE.pdf PROJECT.tpc`, without a window: whether FILE is a report
// approved in the project (which one, by whom, when), whether the approval and its signature
// still hold, and whether the rows of its period are still those approved (their digest made
// again). Exit status: 0 approved and unchanged; 1 not an approved file of the project, or the
// rows or the approval changed; 2 when the file, the project or its database cannot be read.
class VerifyReportCommand
{
public:
    static int run(const QString& reportPath, const QString& projectPath, QTextStream& out,
                   QTextStream& err);
};
