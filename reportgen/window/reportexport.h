#pragma once

#include "reportperiod.h"

#include <QImage>
#include <QString>

class QPainter;
class QPrinter;
class QWebPage;

// Writes a filled report page to a file, for the window's export menu and for the command
// line alike: the page rendered whole as PNG; as PDF on one A4 page (daily) or on pages as wide
// as the sheet (reports of days); or its HTML.
class ReportExport
{
public:
    ReportExport(QWebPage* page, ReportKind kind);

    // A signature's text printed below the report's content in PDF and print: at the foot of the
    // last page when there is room, else on a page of its own. Empty (the default): none.
    void setApproval(const QString& text) { approval = text; }

    // Renders the whole page at its content size.
    QImage pageImage() const;
    // False when the file cannot be written.
    bool writePdf(const QString& fileName) const;
    // Paints the page onto a printer set up by the caller (the window's Print and Print
    // preview), paginated as the PDF is: the daily report on one page, others on pages that
    // never end inside a row or right below a header row. False when the printer cannot be
    // painted on.
    bool print(QPrinter* printer) const;
    bool writePng(const QString& fileName) const;
    bool writeHtml(const QString& fileName) const;

    // The name offered for an export: the project's folder and base name, "_", the local time
    // as "yyyyMMddhhmmss", and the extension.
    static QString proposedName(const QString& projectPath, const QString& extension);
    // A chosen name without a suffix gets the default one.
    static QString withSuffix(const QString& fileName, const QString& defaultSuffix);

private:
    // Returns where the content of the last page ends, in the printer's pixels.
    int paintPages(QPainter* painter, QPrinter* printer, const QImage& image) const;
    void paintApproval(QPainter* painter, QPrinter* printer, int contentBottom) const;

    QWebPage* page;
    ReportKind kind;
    QString approval;
};
