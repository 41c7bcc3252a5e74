#include "reportbatch.h"

#include "configureddevice.h"
#include "projectfile.h"
#include "reportexport.h"
#include "reportrun.h"
#include "reportstartup.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUuid>

ReportBatch::ReportBatch(const ReportCommandLine& line_, QObject* parent)
    : QObject(parent), line(line_)
{
}

bool ReportBatch::start()
{
    QString path;
    QList<ConfiguredDevice*> devices;
    if (!ReportStartup::check({QCoreApplication::applicationFilePath(), line.projectPath}, &path,
                              &devices, &failure))
        return false;
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
        exitStatus = 2;
        failure = QStringLiteral("Unknown channel: ") + unknown;
        return false;
    }

    const ProjectFile project(path);
    ReportRun::Settings settings;
    settings.kind = line.kind;
    settings.connectionKey = QString::fromLatin1(QUuid::createUuid().toRfc4122().toBase64());
    settings.databasePath = ProjectFile::databasePath(path);
    settings.projectFolder = QFileInfo(path).path();
    settings.dataInterval = project.storedInterval();
    // Only whole days, whatever range the project file says was recorded (a recording
    // recorder has not written its stop yet).
    settings.period = ReportPeriod::of(line.kind, line.start, line.span);
    settings.start = settings.period.start();
    settings.end = line.kind == ReportKind::Daily ? settings.start.addDays(1).addSecs(-1)
                                                  : settings.period.end();
    for (int i : qAsConst(picked))
        settings.channels.append(channels.at(i));
    settings.subject = line.hasSubject ? line.subject : project.reportSubject();
    settings.author = line.hasAuthor ? line.author : project.reportAuthor();

    run = new ReportRun(this);
    connect(run, &ReportRun::message, this,
            [this](const QString&, const QString& text) { messages.append(text); });
    connect(run, &ReportRun::error, this, [this](const QString& text) { finish(1, text); });
    connect(run, &ReportRun::done, this, &ReportBatch::made);
    connect(run, &ReportRun::pageFilled, this, &ReportBatch::write);
    run->start(settings);
    return true;
}

void ReportBatch::made()
{
    if (!run->hasRows()) {
        finish(1, QStringLiteral("Not Enough Data."));
        return;
    }
    run->fillPage();
}

void ReportBatch::write()
{
    const ReportExport page(run->page(), line.kind);
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
    finish(0, QString());
}

void ReportBatch::finish(int status, const QString& text)
{
    exitStatus = status;
    failure = text;
    emit finished();
}
