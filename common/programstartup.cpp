#include "programstartup.h"

#include "projectfile.h"

#include <QDebug>
#include <QFileInfo>

QString ProgramStartup::projectPathFromArguments(const QStringList& arguments)
{
    QString path = arguments.join(QLatin1Char(' '));
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // Only the quotes the recorder put round the path go: an apostrophe inside a folder or file
    // name is part of the path.
    if (path.startsWith(QLatin1Char('\'')))
        path.remove(0, 1);
    if (path.endsWith(QLatin1Char('\'')))
        path.chop(1);
    return path;
}

bool ProgramStartup::check(const QStringList& arguments, const Texts& texts, QString* projectPath,
                           QList<ReportDeviceRecord>* devices, QString* errorText)
{
    if (arguments.isEmpty()) {
        *errorText = texts.noProject;
        return false;
    }
    const QString path = projectPathFromArguments(arguments);
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
