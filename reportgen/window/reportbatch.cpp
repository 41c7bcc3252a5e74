#include "reportbatch.h"

#include "reportcsv.h"
#include "reportexport.h"
#include "reportrequest.h"
#include "reportrun.h"
#include "reportwebpage.h"

ReportBatch::ReportBatch(const ReportCommandLine& line_, QObject* parent)
    : QObject(parent), line(line_)
{
}

bool ReportBatch::start()
{
    ReportRun::Settings settings;
    const int status = ReportRequest::settingsOf(line, &settings, &failure);
    if (status != 0) {
        exitStatus = status;
        return false;
    }

    run = new ReportRun(this);
    connect(run, &ReportRun::error, this, [this](const QString& text) { finish(1, text); });
    connect(run, &ReportRun::done, this, &ReportBatch::made);
    // The tables alone need no page.
    if (!line.pdfFile.isEmpty() || !line.htmlFile.isEmpty()) {
        webPage = new ReportWebPage(this);
        connect(webPage, &ReportWebPage::message, this,
                [this](const QString&, const QString& text) { messages.append(text); });
        connect(webPage, &ReportWebPage::pageFilled, this, &ReportBatch::write);
    }
    run->start(settings);
    return true;
}

void ReportBatch::made()
{
    if (!run->hasRows()) {
        finish(1, QStringLiteral("Not Enough Data."));
        return;
    }
    if (webPage)
        webPage->fill(*run);
    else
        writeCsv();
}

void ReportBatch::write()
{
    const ReportExport page(webPage->page(), line.kind);
    const bool written =
        line.pdfFile.isEmpty()
            ? page.writeHtml(ReportExport::withSuffix(line.htmlFile, QStringLiteral(".htm")))
            : page.writePdf(ReportExport::withSuffix(line.pdfFile, QStringLiteral(".pdf")));
    if (!written)
        messages.append(QStringLiteral("Unable to open the file."));
    if (!messages.isEmpty()) {
        finish(1, messages.join(QLatin1Char('\n')));
        return;
    }
    writeCsv();
}

void ReportBatch::writeCsv()
{
    QString text;
    if (!line.csvFile.isEmpty() &&
        !ReportCsv::write(ReportExport::withSuffix(line.csvFile, QStringLiteral(".csv")),
                          run->settings(), run->tables(), &text)) {
        finish(1, text);
        return;
    }
    finish(0, QString());
}

void ReportBatch::finish(int status, const QString& text)
{
    exitStatus = status;
    failure = text;
    emit finished();
}
