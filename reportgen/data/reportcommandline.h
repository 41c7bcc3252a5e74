#pragma once

#include "reportperiod.h"

#include <QDate>
#include <QString>
#include <QStringList>

// The report generator's two command lines. The recorder starts the window with the quoted
// project path, for a report other than the daily one followed by "--report KIND". Without a
// window (from a script or a cron job), the report is made and written to a file:
//   Tallyforge --report KIND --start yyyy-MM-dd [--period day|week|month]
//              [--channels SERIAL_channel1,...] [--subject TEXT] [--author TEXT]
//              [--pdf FILE|--html FILE] [--csv FILE] PROJECT.tpc
// (at least one of them; --csv writes the report's tables, ReportCsv)
// and the audit trail of whole local days:
//   Tallyforge --report audit --start yyyy-MM-dd --end yyyy-MM-dd --pdf FILE|--csv FILE PROJECT.tpc
// and the check of a project's records (VerifyCommand):
//   Tallyforge --verify PROJECT.tpc [--heads FILE]
// and the check of an approved report (VerifyReportCommand):
//   Tallyforge --verify-report FILE.pdf PROJECT.tpc
class ReportCommandLine
{
public:
    enum Mode
    {
        Window,
        Batch,
        Audit,
        Help,
        Invalid,
        Verify,
        VerifyReport
    };

    // The full argument list, program name first.
    static ReportCommandLine parse(const QStringList& arguments);
    static QString usage();

    Mode mode = Invalid;
    ReportKind kind = ReportKind::Daily;
    QString errorText; // for Invalid

    // Window: the arguments for the start-up checks (program name and path words).
    QStringList windowArguments;

    // Batch and Audit.
    QString projectPath;
    QDate start;
    QDate end; // Audit: the last day
    HaccpSpan span = HaccpSpan::Day;
    QStringList channels; // empty: the first four channels of the device list
    bool hasSubject = false;
    QString subject;
    bool hasAuthor = false;
    QString author;
    QString pdfFile;
    QString htmlFile;
    QString csvFile; // Audit; Batch: the tables, beside the page or alone

    // Verify (and projectPath): the heads witnessed outside, empty for none.
    QString headsFile;
    // VerifyReport (and projectPath): the report file checked.
    QString reportFile;
};
