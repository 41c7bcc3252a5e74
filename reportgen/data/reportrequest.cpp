#include "reportrequest.h"

#include "configureddevice.h"
#include "projectfile.h"
#include "reportstartup.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUuid>

int ReportRequest::settingsOf(const ReportCommandLine& line, ReportRun::Settings* settings,
                              QString* errorText)
{
    QString path;
    QList<ConfiguredDevice*> devices;
    if (!ReportStartup::check({QCoreApplication::applicationFilePath(), line.projectPath}, &path,
                              &devices, errorText))
        return 1;
    const QList<ReportChannel> channels =
        ReportChannel::ofDevices(devices, line.kind == ReportKind::Haccp);
    qDeleteAll(devices);

    QStringList keys = line.channels;
    if (keys.isEmpty()) {
        for (int i = 0; i < channels.size() && i < ReportColumns; ++i)
            keys.append(channels.at(i).key());
    }
    QList<int> picked;
    QString unknown;
    if (!ReportChannel::pick(channels, keys, &picked, &unknown)) {
        *errorText = QStringLiteral("Unknown channel: ") + unknown;
        return 2;
    }

    const ProjectFile project(path);
    settings->kind = line.kind;
    settings->connectionKey = QString::fromLatin1(QUuid::createUuid().toRfc4122().toBase64());
    settings->databasePath = ProjectFile::databasePath(path);
    settings->projectFolder = QFileInfo(path).path();
    settings->dataInterval = project.storedInterval();
    // Only whole days, whatever range the project file says was recorded (a recording
    // recorder has not written its stop yet).
    settings->period = ReportPeriod::of(line.kind, line.start, line.span);
    settings->start = settings->period.start();
    settings->end = line.kind == ReportKind::Daily ? settings->start.addDays(1).addSecs(-1)
                                                   : settings->period.end();
    for (int i : qAsConst(picked))
        settings->channels.append(channels.at(i));
    settings->subject = line.hasSubject ? line.subject : project.reportSubject();
    settings->author = line.hasAuthor ? line.author : project.reportAuthor();
    return 0;
}
