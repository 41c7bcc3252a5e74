#pragma once

#include "auditentry.h"
#include "reportcommandline.h"

#include <QString>
#include <QVector>

#include <optional>

class AuditTrailReader;
class QIODevice;

// `Tallyforge --report audit`: the project's audit trail of whole local days, from --start to
// --end, in the order recorded, written as PDF (the project's name and the period above, the
// chain's head below the entries) or as CSV (AuditCsv). Reads the database read-only, in pages,
// and never writes the project file. A period without entries still makes a report that says so.
class AuditReport
{
public:
    // A PDF lists at most this many entries (some hundred pages); CSV any number.
    static constexpr int MaxPdfEntries = 20000;

    explicit AuditReport(const ReportCommandLine& line);

    // Writes the file: 0 written; 1 not made, with the reason.
    int write(QString* errorText);

private:
    bool writeCsv(AuditTrailReader* reader, QString* errorText);
    bool writePdf(AuditTrailReader* reader, QString* errorText);
    // Calls `each` with every entry of the period, oldest first, a page at a time.
    template <typename Each>
    bool forEachEntry(AuditTrailReader* reader, QString* errorText, Each each);
    // The signed reviews whose period overlaps the report's, as a section of the PDF.
    bool reviewsHtml(QString* html, QString* errorText) const;
    QString documentHtml(const QVector<AuditEntry>& entries,
                         const std::optional<AuditEntry>& head, const QString& reviews) const;

    ReportCommandLine line;
    QString projectName;
};
