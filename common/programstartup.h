#pragma once

#include "reportdevicerecord.h"

#include <QList>
#include <QString>
#include <QStringList>

// The checks a program started by the recorder with a project path makes before its window
// opens: the command line, the project file, the database file beside it and the device list,
// in that order. Each program words its own messages.
class ProgramStartup
{
public:
    struct Texts
    {
        QString noProject;
        QString projectMissing;  // %1: the project path
        QString databaseMissing; // %1: the database path
        QString deviceListBroken;
    };

    // Runs the checks in order on the arguments after the program name, which carry the quoted
    // project path (ProjectPathArgument). On failure returns false with the message; on success
    // fills the path and the device records.
    static bool check(const QStringList& arguments, const Texts& texts, QString* projectPath,
                      QList<ReportDeviceRecord>* devices, QString* errorText);
};
