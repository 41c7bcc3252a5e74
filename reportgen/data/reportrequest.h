#pragma once

#include "reportcommandline.h"
#include "reportrun.h"

#include <QString>

// The report a command line asks for, as a run's settings: the project checked as at the
// window's start, the channels picked by key (the first four when none is named), whole days.
// What the command line makes of the figures (a page, a table) is up to its caller.
class ReportRequest
{
public:
    // Fills the settings and returns 0; else returns the program's exit status, with the text
    // for the user: 1 the report cannot be made, 2 a bad argument (an unknown channel).
    static int settingsOf(const ReportCommandLine& line, ReportRun::Settings* settings,
                          QString* errorText);
};
