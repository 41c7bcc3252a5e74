#include "programstartup.h"

#include "projectfile.h"
#include "projectpathargument.h"

#include <QDebug>
#include <QFileInfo>

bool ProgramStartup::check(const QStringList& arguments, const Texts& texts, QString* projectPath,
                           QList<ReportDeviceRecord>* devices, QString* errorText)
{
    if (arguments.isEmpty()) {
        *errorText = texts.noProject;
        return false;
    }
    const QString path = ProjectPathArgument::unquote(arguments);
    if (!QFileInfo(path).isFile()) {
        *errorText = texts.projectMissing.arg(path);
        return false;
    }
    const QString databasePath = ProjectFile::databasePath(path);
    if (!QFileInfo(databasePath).isFile()) {
        *errorText = texts.databaseMissing.arg(databasePath);
        return false;
    }
    const ProjectFile project(path);
    qDebug().noquote() << project.value(QStringLiteral("DeviceList"));
    QList<ReportDeviceRecord> records;
    if (!project.loadReportDevices(&records)) {
        *errorText = texts.deviceListBroken;
        return false;
    }
    *projectPath = path;
    *devices = records;
    return true;
}
