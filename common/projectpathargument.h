#pragma once

#include <QString>
#include <QStringList>

// How the project file path travels on the command line from the program that starts the report
// generator or the data viewer to the program started: in single quotes. Both ends use this
// class, so that what one side quotes the other side takes apart.
class ProjectPathArgument
{
public:
    // The path in single quotes, as one argument.
    static QString quote(const QString& projectFilePath);
    // The path from the arguments after the program name, which a command text may have split
    // at blanks: joined with single blanks, backslashes turned into slashes, and one quote
    // removed at each end.
    static QString unquote(const QStringList& arguments);
};
