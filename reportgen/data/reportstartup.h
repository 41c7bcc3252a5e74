#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class ConfiguredDevice;

// What the program entry checks before the report window opens: the command line, the project
// file, the database file beside it and the device list.
class ReportStartup
{
public:
    // Runs the checks in order on the full argument list (program name first). On failure
    // returns false with the text of the critical message; on success fills the path and the
    // device records (without parent; the caller takes them).
    static bool check(const QStringList& arguments, QString* projectPath,
                      QList<ConfiguredDevice*>* devices, QString* errorText);
};
