#include "reportbatch.h"

#include "configureddevice.h"
#include "report.h"
#include "reportcommandline.h"
#include "reportstartup.h"

#include <QCoreApplication>
#include <QEventLoop>

int ReportBatch::run(const ReportCommandLine& line, QString* errorText)
{
    QString path;
    QList<ConfiguredDevice*> devices;
    if (!ReportStartup::check({QCoreApplication::applicationFilePath(), line.projectPath}, &path,
                              &devices, errorText))
        return 1;

    Report report(path, devices, line.kind);
    QStringList messages;
    const QString output = line.pdfFile.isEmpty() ? line.htmlFile : line.pdfFile;
    bool written = false;
    report.desktop().message = [&messages](const QString&, const QString& text) {
        messages.append(text);
    };
    report.desktop().saveFileName = [output](QWidget*, const QString&, const QString&,
                                             const QString&) { return output; };
    report.desktop().openFile = [&written](const QString&) {
        written = true;
        return true;
    };
    report.desktop().startDetached = [](const QString&, const QStringList&) { return false; };
    // A cron job must not rewrite the project file a recording recorder may write.
    report.setStoreReportTexts(false);

    QStringList keys = line.channels;
    if (keys.isEmpty())
        keys = report.channelKeys().mid(0, 4);
    QString unknown;
    if (!report.tickChannels(keys, &unknown)) {
        *errorText = QStringLiteral("Unknown channel: ") + unknown;
        return 2;
    }
    report.setPeriodStart(line.start, line.span);
    if (line.hasSubject || line.hasAuthor)
        report.setReportTexts(line.hasSubject ? line.subject : report.subjectText(),
                              line.hasAuthor ? line.author : report.authorText());

    // Shown on the offscreen platform: laid out as the window the user sees.
    report.show();
    report.slotCommandUpdate();
    // The worker ends with the report made or with a message ("Not Enough Data.", ...).
    while (!report.isReportMade() && messages.isEmpty())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!report.isReportMade()) {
        *errorText = messages.join(QLatin1Char('\n'));
        return 1;
    }
    if (line.pdfFile.isEmpty())
        report.exportPrintHtml();
    else
        report.exportPrintPdf();
    if (!written || !messages.isEmpty()) {
        *errorText = messages.isEmpty() ? QStringLiteral("Unable to open the file.")
                                        : messages.join(QLatin1Char('\n'));
        return 1;
    }
    return 0;
}
