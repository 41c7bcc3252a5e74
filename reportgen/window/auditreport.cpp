#include "auditreport.h"

#include "auditcsv.h"
#include "auditreviewtable.h"
#include "audittrail.h"
#include "audittrailreader.h"
#include "projectfile.h"
#include "reportexport.h"
#include "reportperiod.h"
#include "signaturetable.h"
#include "sqliteconnection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QSaveFile>
#include <QTextDocument>

namespace {

QString html(const QString& text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"));
}

// "2026-03-29 03:00:00+02:00": local time, with the offset that tells the two hours of an
// autumn night apart.
QString printedTime(qint64 ms)
{
    const QString iso = AuditCsv::isoTime(ms);
    return iso.left(10) + QLatin1Char(' ') + iso.mid(11, 8) + iso.right(6);
}

} // namespace

AuditReport::AuditReport(const ReportCommandLine& line_) : line(line_)
{
    projectName = ProjectFile(line.projectPath).value(QStringLiteral("projectName"));
    if (projectName.isEmpty())
        projectName = ProjectFile::projectNameFromPath(line.projectPath);
}

int AuditReport::write(QString* errorText)
{
    if (!QFileInfo(line.projectPath).isFile()) {
        *errorText = QStringLiteral("The project file \"%1\" does not exist.").arg(line.projectPath);
        return 1;
    }
    const QString database = ProjectFile::databasePath(line.projectPath);
    if (!QFileInfo(database).isFile()) {
        *errorText = QStringLiteral("The project's database \"%1\" does not exist.").arg(database);
        return 1;
    }
    AuditTrailReader reader(database);
    const bool written = line.csvFile.isEmpty() ? writePdf(&reader, errorText)
                                                : writeCsv(&reader, errorText);
    return written ? 0 : 1;
}

template <typename Each>
bool AuditReport::forEachEntry(AuditTrailReader* reader, QString* errorText, Each each)
{
    AuditTrailFilter filter;
    filter.setDays(line.start, line.end);
    QVector<AuditEntry> page;
    qint64 after = 0;
    do {
        if (!reader->page(filter, AuditTrailOrder::OldestFirst, after,
                          AuditTrailReader::MaxPageSize, &page, errorText))
            return false;
        for (const AuditEntry& e : qAsConst(page)) {
            if (!each(e))
                return false;
        }
        if (!page.isEmpty())
            after = page.last().sequence;
    } while (page.size() == AuditTrailReader::MaxPageSize);
    return true;
}

bool AuditReport::writeCsv(AuditTrailReader* reader, QString* errorText)
{
    // Written whole or not at all: a half file would pass for a short period.
    QSaveFile file(ReportExport::withSuffix(line.csvFile, QStringLiteral(".csv")));
    if (!file.open(QIODevice::WriteOnly)) {
        *errorText = QStringLiteral("Unable to open the file.");
        return false;
    }
    bool ok = file.write(AuditCsv::header()) >= 0;
    ok = ok && forEachEntry(reader, errorText, [&file](const AuditEntry& e) {
             return file.write(AuditCsv::line(e)) >= 0;
         });
    if (!ok || !file.commit()) {
        if (errorText->isEmpty())
            *errorText = QStringLiteral("Unable to write the file.");
        file.cancelWriting();
        return false;
    }
    return true;
}

bool AuditReport::writePdf(AuditTrailReader* reader, QString* errorText)
{
    AuditTrailFilter filter;
    filter.setDays(line.start, line.end);
    const qint64 count = reader->count(filter, errorText);
    if (count < 0)
        return false;
    if (count > MaxPdfEntries) {
        *errorText = QStringLiteral("The period holds %1 entries; a PDF lists at most %2. Choose a "
                                    "shorter period, or write --csv.")
                         .arg(count)
                         .arg(MaxPdfEntries);
        return false;
    }
    QVector<AuditEntry> entries;
    std::optional<AuditEntry> head;
    if (!forEachEntry(reader, errorText,
                      [&entries](const AuditEntry& e) {
                          entries.append(e);
                          return true;
                      }) ||
        !reader->head(&head, errorText))
        return false;
    QString reviews;
    if (!reviewsHtml(&reviews, errorText))
        return false;

    QTextDocument document;
    QFont font = document.defaultFont();
    font.setPointSizeF(8);
    document.setDefaultFont(font);
    document.setHtml(documentHtml(entries, head, reviews));
    // Printed to a file of its own beside the target, which takes the target's place once
    // complete: QPrinter tells no failure, and a file left from before must neither pass for
    // this one nor be lost when this one cannot be printed.
    const QFileInfo target(ReportExport::withSuffix(line.pdfFile, QStringLiteral(".pdf")));
    const QString partial =
        target.dir().filePath(QStringLiteral(".") + target.fileName() + QStringLiteral(".part"));
    QFile::remove(partial);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(partial);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
    printer.setCreator(QStringLiteral("Tallyforge"));
    printer.setDocName(QStringLiteral("Audit trail - ") + projectName);
    if (printer.isValid())
        document.print(&printer);
    const QFileInfo printed(partial);
    if (!printer.isValid() || !printed.isFile() || printed.size() == 0) {
        QFile::remove(partial);
        *errorText = QStringLiteral("Unable to open the file.");
        return false;
    }
    if ((target.exists() && !QFile::remove(target.filePath())) ||
        !QFile::rename(partial, target.filePath())) {
        QFile::remove(partial);
        *errorText = QStringLiteral("Unable to write the file.");
        return false;
    }
    return true;
}

bool AuditReport::reviewsHtml(QString* out, QString* errorText) const
{
    SqliteConnection connection;
    if (!connection.openReadOnly(ProjectFile::databasePath(line.projectPath), 5000)) {
        *errorText = connection.errorText();
        return false;
    }
    QVector<AuditReviewTable::Row> reviews;
    if (!AuditReviewTable::overlapping(connection.get(), ReportPeriod::dayStart(line.start) * 1000,
                                       ReportPeriod::dayStart(line.end.addDays(1)) * 1000,
                                       &reviews, errorText))
        return false;
    *out = QStringLiteral("<h3>Reviews of the audit trail</h3>");
    if (reviews.isEmpty()) {
        *out += QStringLiteral("<p>No review of days in this period was recorded.</p>");
        return true;
    }
    *out += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" "
                           "width=\"100%\"><thead><tr><th align=\"left\" width=\"18%\">Days "
                           "reviewed</th><th align=\"left\" width=\"42%\">Comment</th><th "
                           "align=\"left\" width=\"40%\">Signature</th></tr></thead>");
    const QString format = QStringLiteral("yyyy-MM-dd");
    for (const AuditReviewTable::Row& review : qAsConst(reviews)) {
        QVector<ElectronicSignature> signatures;
        QString signatureText = QStringLiteral("(no signature)");
        if (!SignatureTable::forRecord(connection.get(), AuditReviewTable::recordKind(),
                                       QString::number(review.id), &signatures, errorText))
            return false;
        for (const ElectronicSignature& s : qAsConst(signatures)) {
            if (s.id == review.signatureId)
                signatureText = s.manifestation();
        }
        const QString days =
            QDateTime::fromMSecsSinceEpoch(review.periodFrom).date().toString(format) +
            QStringLiteral(" to ") +
            QDateTime::fromMSecsSinceEpoch(review.periodTo - 1).date().toString(format);
        *out += QStringLiteral("<tr><td>") + html(days) + QStringLiteral("</td><td>") +
                html(review.comment) + QStringLiteral("</td><td>") + html(signatureText) +
                QStringLiteral("</td></tr>");
    }
    *out += QStringLiteral("</table>");
    return true;
}

QString AuditReport::documentHtml(const QVector<AuditEntry>& entries,
                                  const std::optional<AuditEntry>& head,
                                  const QString& reviews) const
{
    const QString format = QStringLiteral("yyyy-MM-dd");
    QString out = QStringLiteral("<h2>Audit trail</h2><p>Project: <b>") + html(projectName) +
                  QStringLiteral("</b><br>Period: ") + line.start.toString(format) +
                  QStringLiteral(" to ") + line.end.toString(format) +
                  QStringLiteral(" (whole days, local time)<br>Printed: ") +
                  printedTime(QDateTime::currentMSecsSinceEpoch()) + QStringLiteral("</p>");
    if (entries.isEmpty()) {
        out += QStringLiteral("<p>No entries were recorded in this period.</p>");
    } else {
        out += QStringLiteral("<p>%1 in the order recorded.</p>")
                   .arg(entries.size() == 1 ? QStringLiteral("1 entry")
                                            : QStringLiteral("%1 entries").arg(entries.size()));
        out += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" "
                              "width=\"100%\"><thead><tr>");
        // Widths in percent of the line: the time on one line, room for the texts.
        const std::pair<const char*, int> columns[] = {
            {"Entry", 5},   {"Time", 21},      {"User", 7},       {"Action", 12},
            {"Object", 16}, {"Old value", 9},  {"New value", 9},  {"Reason", 21}};
        for (const auto& [title, width] : columns)
            out += QStringLiteral("<th align=\"left\" width=\"%1%\">").arg(width) +
                   QLatin1String(title) + QStringLiteral("</th>");
        out += QStringLiteral("</tr></thead>");
        for (const AuditEntry& e : entries) {
            out += QStringLiteral("<tr>");
            for (const QString& cell :
                 {QString::number(e.sequence), printedTime(e.timeMs), e.user, e.action, e.object,
                  e.oldValue, e.newValue, e.reason})
                out += QStringLiteral("<td>") + html(cell) + QStringLiteral("</td>");
            out += QStringLiteral("</tr>");
        }
        out += QStringLiteral("</table>");
    }
    out += reviews;
    out += QStringLiteral("<p><br><b>") +
           html(AuditTrail::headLine(head)) +
           QStringLiteral("</b></p>");
    return out;
}
