#include "reportexport.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <QWebElement>
#include <QWebFrame>
#include <QWebPage>

#include <algorithm>
#include <cmath>

ReportExport::ReportExport(QWebPage* page_, ReportKind kind_) : page(page_), kind(kind_) {}

QString ReportExport::proposedName(const QString& projectPath, const QString& extension)
{
    const QFileInfo info(projectPath);
    return info.path() + QLatin1Char('/') + info.baseName() + QLatin1Char('_') +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss")) + extension;
}

QString ReportExport::withSuffix(const QString& fileName, const QString& defaultSuffix)
{
    return QFileInfo(fileName).suffix().isEmpty() ? fileName + defaultSuffix : fileName;
}

QImage ReportExport::pageImage() const
{
    QWebFrame* frame = page->mainFrame();
    // Reading the document height makes the engine lay out what was just written into the
    // page, so the content size below is that of the filled report.
    frame->evaluateJavaScript(QStringLiteral("document.documentElement.scrollHeight;"));
    const QSize viewportSize = page->viewportSize();
    if (kind != ReportKind::Daily) {
        // Laid out as wide as the sheet with a margin, whatever the window's width, so that
        // the pages of a PDF are filled by the sheet.
        const int sheet =
            frame->findFirstElement(QStringLiteral("div#ReportContent")).geometry().width();
        page->setViewportSize(QSize(sheet + 2 * 16, viewportSize.height()));
    }
    const QSize contentSize = frame->contentsSize();
    qDebug() << "contentSize : " << contentSize;
    qDebug() << "viewportSize : " << viewportSize;
    QImage image(contentSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    page->setViewportSize(contentSize);
    frame->render(&painter);
    painter.end();
    page->setViewportSize(viewportSize);
    return image;
}

bool ReportExport::writePdf(const QString& fileName) const
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(fileName);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setFullPage(true);
    if (!print(&printer)) {
        qWarning().noquote() << "exportPrintPdf : cannot write " << fileName;
        return false;
    }
    return true;
}

bool ReportExport::print(QPrinter* printer) const
{
    const QImage image = pageImage();
    QPainter painter;
    if (!painter.begin(printer))
        return false;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    int contentBottom = 0;
    if (kind == ReportKind::Daily) {
        const QRect target(0, 0, int(8.3 * printer->logicalDpiX()),
                           int(11.8 * printer->logicalDpiY()));
        painter.drawImage(target, image);
        // The daily sheet fills its page.
        contentBottom = printer->height();
    } else {
        contentBottom = paintPages(&painter, printer, image);
    }
    if (!approval.isEmpty())
        paintApproval(&painter, printer, contentBottom);
    painter.end();
    return true;
}

// A page as wide as the sheet per A4 page. Pages end below a table row (or above a section
// title), never inside one and never right below a header row, which would stand alone at the
// foot of the page: a table then begins on the next page, or with its first rows on this one. A
// table that goes on to the next page repeats its header row there. The chart stays on the
// first page.
int ReportExport::paintPages(QPainter* painter, QPrinter* printer, const QImage& image) const
{
    // The whole paper, with a margin above and below the content of each page.
    const int margin = int(0.3 * printer->logicalDpiY());
    const QRect target(0, margin, printer->width(), printer->height() - 2 * margin);
    const double scale = double(target.width()) / qMax(1, image.width());
    const int pageHeight = int(target.height() / scale);

    QWebFrame* frame = page->mainFrame();
    QVector<int> cuts;
    for (const QWebElement& row : frame->findAllElements(QStringLiteral("tr, div#chartdiv"))) {
        if (row.findFirst(QStringLiteral("th.top")).isNull())
            cuts.append(row.geometry().bottom() + 1);
    }
    for (const QWebElement& title : frame->findAllElements(QStringLiteral("div.section")))
        cuts.append(title.geometry().top());
    std::sort(cuts.begin(), cuts.end());
    struct Table
    {
        QRect area;
        QRect header;
    };
    QVector<Table> sheets;
    for (const QWebElement& table : frame->findAllElements(QStringLiteral("table"))) {
        const QWebElement first = table.findFirst(QStringLiteral("tr"));
        if (!first.findFirst(QStringLiteral("th.top")).isNull())
            sheets.append({table.geometry(), first.geometry()});
    }

    int top = 0;
    int contentBottom = target.top();
    bool firstPage = true;
    while (top < image.height()) {
        if (!firstPage)
            printer->newPage();
        int y = 0;
        // A table that goes on from the page before shows its header row first.
        for (const Table& table : qAsConst(sheets)) {
            if (!firstPage && table.area.top() < top && top < table.area.bottom() &&
                top > table.header.bottom()) {
                const QRect source(0, table.header.top(), image.width(), table.header.height());
                painter->drawImage(QRectF(0, target.top(), target.width(), source.height() * scale),
                                   image, source);
                y = source.height();
            }
        }
        int bottom = top + pageHeight - y;
        if (bottom < image.height()) {
            // The last row end that fits, unless that would leave most of the page empty.
            const auto fit = std::upper_bound(cuts.cbegin(), cuts.cend(), bottom);
            if (fit != cuts.cbegin() && *(fit - 1) > top + pageHeight / 3)
                bottom = *(fit - 1);
        } else {
            bottom = image.height();
        }
        const QRect source(0, top, image.width(), bottom - top);
        painter->drawImage(
            QRectF(0, target.top() + y * scale, target.width(), source.height() * scale), image,
            source);
        contentBottom = int(std::ceil(target.top() + (y + source.height()) * scale));
        top = bottom;
        firstPage = false;
    }
    return contentBottom;
}

// A framed block of the sheet's width less its margins, the text in black on white so that it
// reads on paper and in a copy made of the file's text.
void ReportExport::paintApproval(QPainter* painter, QPrinter* printer, int contentBottom) const
{
    const int margin = int(0.4 * printer->logicalDpiX());
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10);
    painter->save();
    painter->setFont(font);
    const QFontMetrics metrics(font, printer);
    const int width = printer->width() - 2 * margin;
    const QRect textRect = metrics.boundingRect(QRect(0, 0, width - 2 * metrics.height(), 100000),
                                                Qt::TextWordWrap, approval);
    const int height = textRect.height() + 2 * metrics.height();
    int top = contentBottom + metrics.height();
    if (top + height > printer->height() - margin) {
        printer->newPage();
        top = margin;
    }
    const QRect block(margin, top, width, height);
    painter->fillRect(block, Qt::white);
    painter->setPen(QPen(Qt::black, qMax(1, printer->logicalDpiX() / 150)));
    painter->drawRect(block);
    painter->drawText(block.adjusted(metrics.height(), metrics.height(), -metrics.height(),
                                     -metrics.height()),
                      Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignVCenter, approval);
    painter->restore();
}

bool ReportExport::writePng(const QString& fileName) const
{
    if (!pageImage().save(fileName, "png", 100)) {
        qWarning().noquote() << "exportPrintPng : cannot write " << fileName;
        return false;
    }
    return true;
}

bool ReportExport::writeHtml(const QString& fileName) const
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(page->mainFrame()->toHtml().toUtf8());
    file.close();
    return true;
}
