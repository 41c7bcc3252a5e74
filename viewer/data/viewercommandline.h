#pragma once

#include "programstartup.h"
#include "reportdevicerecord.h"

#include <QList>
#include <QString>
#include <QStringList>

// The data viewer's command line. Started by the recorder with the project path only, it opens
// its window after the report generator's start-up checks (arguments rejoined, the outer quotes
// stripped; project file, database file, device list, in that order). With --export-csv it
// writes a CSV file instead and opens no window:
//   Trendscope --export-csv FILE --from "yyyy-MM-dd hh:mm:ss" --to "yyyy-MM-dd hh:mm:ss"
//              [--channels SERIAL_channel1,...] PROJECT.tpc
// where --from and --to also take a day alone (its first or its last second). With
// --export-events FILE (and --from, --to) it writes the alarm events of the range instead.
// --help prints usage() and nothing else is done.
class ViewerCommandLine
{
public:
    struct Options
    {
        bool exportCsv = false;
        bool exportEvents = false; // the alarm events of [from, to] to exportFile
        QString projectPath;
        QList<ReportDeviceRecord> devices;
        QString exportFile;
        qint64 from = 0;
        qint64 to = 0;
        QStringList channelKeys; // empty: every channel
    };

    static ProgramStartup::Texts startupTexts();
    static QString usage();
    // True when the arguments (after the program name) ask for the usage: no display is needed.
    static bool asksForHelp(const QStringList& arguments);
    // True when the arguments ask for an export: no window, no display.
    static bool asksForExport(const QStringList& arguments);
    // The arguments after the program name. False with the message to show otherwise.
    static bool parse(const QStringList& arguments, Options* options, QString* error);
};
