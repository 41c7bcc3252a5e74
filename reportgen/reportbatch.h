#pragma once

#include <QString>

class ReportCommandLine;

// Makes one report without showing a window, as the window would make it, and writes it as
// PDF or HTML. Never writes the project file (a recorder may have it open); reads the
// database read-only.
class ReportBatch
{
public:
    // Returns the exit status (0 written, 1 not made, 2 bad arguments); on failure the text
    // for the user.
    static int run(const ReportCommandLine& line, QString* errorText);
};
