#include "configureddevice.h"
#include "messagedialog.h"
#include "report.h"
#include "reportstartup.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    MessageDialog::setProgramLook(QStringLiteral("Quillmar Lite"),
                                  QStringLiteral(":/img/QuillmarLogo.png"));

    QString projectPath;
    QList<ConfiguredDevice*> devices;
    QString errorText;
    if (!ReportStartup::check(QCoreApplication::arguments(), &projectPath, &devices, &errorText)) {
        QMessageBox::critical(nullptr, QStringLiteral("ERROR"), errorText, QMessageBox::Ok);
        return 0;
    }

    Report report(projectPath, devices);
    report.show();
    return app.exec();
}
