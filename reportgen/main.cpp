#include "auditreport.h"
#include "messagedialog.h"
#include "report.h"
#include "reportbatch.h"
#include "reportcommandline.h"
#include "configureddevice.h"
#include "reportstartup.h"
#include "verifycommand.h"
#include "verifyreportcommand.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTextStream>

#include <cstdio>

namespace {

// Without a window nothing but the outcome may reach the terminal: a cron job mails whatever
// a run prints.
void quiet(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const ReportCommandLine line = ReportCommandLine::parse(arguments);
    if (line.mode == ReportCommandLine::Help) {
        std::fprintf(stdout, "%s", qPrintable(ReportCommandLine::usage()));
        return 0;
    }
    if (line.mode == ReportCommandLine::Invalid) {
        std::fprintf(stderr, "Tallyforge: %s\n%s", qPrintable(line.errorText),
                     qPrintable(ReportCommandLine::usage()));
        return 2;
    }
    if (line.mode == ReportCommandLine::Audit) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(quiet);
        QApplication app(argc, argv);
        QString errorText;
        const int status = AuditReport(line).write(&errorText);
        if (status != 0)
            std::fprintf(stderr, "Tallyforge: %s\n", qPrintable(errorText));
        return status;
    }
    if (line.mode == ReportCommandLine::Verify) {
        // No display, no window: only what was checked and found reaches the terminal.
        QCoreApplication app(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        return VerifyCommand::run(line.projectPath, line.headsFile, out, err);
    }
    if (line.mode == ReportCommandLine::VerifyReport) {
        QCoreApplication app(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        return VerifyReportCommand::run(line.reportFile, line.projectPath, out, err);
    }
    if (line.mode == ReportCommandLine::Batch) {
        // No display is needed, nor used when there is one.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(quiet);
        QApplication app(argc, argv);
        ReportBatch batch(line);
        QObject::connect(&batch, &ReportBatch::finished, &app, &QCoreApplication::quit);
        if (batch.start())
            app.exec();
        if (batch.status() != 0)
            std::fprintf(stderr, "Tallyforge: %s\n", qPrintable(batch.errorText()));
        return batch.status();
    }

    QApplication app(argc, argv);
    MessageDialog::setProgramLook(QStringLiteral("Quillmar Lite"),
                                  QStringLiteral(":/img/QuillmarLogo.png"));

    QString projectPath;
    QList<ConfiguredDevice*> devices;
    QString errorText;
    if (!ReportStartup::check(line.windowArguments, &projectPath, &devices, &errorText)) {
        QMessageBox::critical(nullptr, QStringLiteral("ERROR"), errorText, QMessageBox::Ok);
        return 0;
    }

    Report report(projectPath, devices, line.kind);
    report.fitInto(report.screen()->availableGeometry());
    report.show();
    return app.exec();
}
