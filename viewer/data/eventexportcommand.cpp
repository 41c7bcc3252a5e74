#include "eventexportcommand.h"

#include "alarmeventcsv.h"
#include "projectfile.h"
#include "viewersamplereader.h"

#include <QSaveFile>
#include <QTextStream>

int EventExportCommand::run(const ViewerCommandLine::Options& options, QTextStream* errors)
{
    ViewerSampleReader store;
    if (!store.open(ProjectFile::databasePath(options.projectPath),
                    ViewerSampleReader::ViewerBusyTimeoutMs)) {
        *errors << store.errorText() << '\n';
        return 1;
    }
    // A file from before the event log gives the header alone.
    QVector<AlarmEventRecord> events;
    if (!store.alarmEvents(options.from, options.to, {}, &events)) {
        *errors << store.errorText() << '\n';
        return 1;
    }
    QSaveFile file(options.exportFile);
    if (!file.open(QIODevice::WriteOnly)) {
        *errors << "Cannot write " << options.exportFile << ": " << file.errorString() << '\n';
        return 1;
    }
    AlarmEventCsv csv(options.devices);
    if (!csv.write(events, &file)) {
        file.cancelWriting();
        *errors << "Cannot write " << options.exportFile << ": " << csv.error() << '\n';
        return 1;
    }
    if (!file.commit()) {
        *errors << "Cannot write " << options.exportFile << ": " << file.errorString() << '\n';
        return 1;
    }
    return 0;
}
