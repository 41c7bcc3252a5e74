#include "reportstartup.h"

#include "configureddevice.h"
#include "programstartup.h"
#include "reportdevicerecord.h"

bool ReportStartup::check(const QStringList& arguments, QString* projectPath,
                          QList<ConfiguredDevice*>* devices, QString* errorText)
{
    const ProgramStartup::Texts texts{
        QStringLiteral("Please Set Parameter project Name!"),
        QStringLiteral("Project File \"%1\" is not exists!"),
        QStringLiteral("DB File \"%1\" is not exists!"),
        QStringLiteral("Device Information is crashed!"),
    };
    QList<ReportDeviceRecord> records;
    if (!ProgramStartup::check(arguments.mid(1), texts, projectPath, &records, errorText))
        return false;
    for (const ReportDeviceRecord& record : records)
        devices->append(new ConfiguredDevice(record));
    return true;
}
