#include "csvexportcommand.h"
#include "eventexportcommand.h"
#include "messagedialog.h"
#include "programversion.h"
#include "trendscopewindow.h"
#include "viewercommandline.h"
#include "viewersession.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QTextStream>

#include <cstdio>

namespace {

void name(QCoreApplication& app)
{
    app.setOrganizationName(QStringLiteral("Quillmar"));
    app.setApplicationName(QStringLiteral("Trendscope"));
    app.setApplicationVersion(programVersion());
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (ViewerCommandLine::asksForHelp(arguments)) {
        // Before any application object: no display is needed for this.
        std::fprintf(stdout, "%s", qPrintable(ViewerCommandLine::usage()));
        return 0;
    }
    if (ViewerCommandLine::asksForExport(arguments)) {
        // Without a window: no display needed, and stderr carries only what went wrong.
        QCoreApplication app(argc, argv);
        name(app);
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        QTextStream errors(stderr);
        ViewerCommandLine::Options options;
        QString error;
        if (!ViewerCommandLine::parse(QCoreApplication::arguments().mid(1), &options, &error)) {
            errors << error << '\n';
            return 2;
        }
        return options.exportEvents ? EventExportCommand::run(options, &errors)
                                    : CsvExportCommand::run(options, &errors);
    }

    QApplication app(argc, argv);
    name(app);
    MessageDialog::setProgramLook(QStringLiteral("Trendscope"),
                                  QStringLiteral(":/img/TrendscopeIcon.png"));
    ViewerCommandLine::Options options;
    QString error;
    if (!ViewerCommandLine::parse(QCoreApplication::arguments().mid(1), &options, &error)) {
        QMessageBox::critical(nullptr, QStringLiteral("ERROR"), error, QMessageBox::Ok);
        return 1;
    }
    TrendscopeWindow window(new ViewerSession(options.projectPath, options.devices));
    window.show();
    return app.exec();
}
