#pragma once

#include <QString>
#include <QStringList>

// Starts the report generator and the data viewer as detached processes with the project file
// path as one quoted argument (ProjectPathArgument), followed by the options given (the report's
// kind). The path is never split at blanks, so folders with several blanks in a row or with an
// apostrophe arrive intact.
class ProgramLauncher
{
public:
    // The executable of a bare program name: first beside `ownFolder` (the recorder's own
    // folder by default), then on PATH; empty when there is none.
    static QString resolve(const QString& programName, const QString& ownFolder = QString());
    static QStringList arguments(const QString& projectFilePath,
                                 const QStringList& options = QStringList());
    // The command as the trace shows it: the name, a blank, the quoted path and the options.
    static QString commandText(const QString& programName, const QString& projectFilePath,
                               const QStringList& options = QStringList());
    static bool start(const QString& programName, const QString& projectFilePath,
                      const QString& ownFolder = QString(),
                      const QStringList& options = QStringList());
};
