#include "reportstartup.h"

#include "configureddevice.h"
#include "projectfile.h"
#include "reportdevicerecord.h"

#include <QDebug>
#include <QFileInfo>

QString ReportStartup::projectPathFromArguments(const QStringList& arguments)
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

bool ReportStartup::check(const QStringList& arguments, QString* projectPath,
                          QList<ConfiguredDevice*>* devices, QString* errorText)
{
    if (arguments.size() < 2) {
        *errorText = QStringLiteral("Please Set Parameter project Name!");
        return false;
    }
    const QString path = projectPathFromArguments(arguments.mid(1));
    if (!QFileInfo(path).isFile()) {
        *errorText = QStringLiteral("Project File \"") + path + QStringLiteral("\" is not exists!");
        return false;
    }
    const QString databasePath = ProjectFile::databasePath(path);
    if (!QFileInfo(databasePath).isFile()) {
        *errorText =
            QStringLiteral("DB File \"") + databasePath + QStringLiteral("\" is not exists!");
        return false;
    }
    const ProjectFile project(path);
    qDebug().noquote() << project.value(QStringLiteral("DeviceList"));
    QList<ReportDeviceRecord> records;
    if (!project.loadReportDevices(&records)) {
        *errorText = QStringLiteral("Device Information is crashed!");
        return false;
    }
    *projectPath = path;
    for (const ReportDeviceRecord& record : records)
        devices->append(new ConfiguredDevice(record));
    return true;
}
