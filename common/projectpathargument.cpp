#include "projectpathargument.h"

QString ProjectPathArgument::quote(const QString& projectFilePath)
{
    return QLatin1Char('\'') + projectFilePath + QLatin1Char('\'');
}

QString ProjectPathArgument::unquote(const QStringList& arguments)
{
    QString path = arguments.join(QLatin1Char(' '));
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // Only the quotes put round the path go: an apostrophe inside a folder or file name is part
    // of the path.
    if (path.startsWith(QLatin1Char('\'')))
        path.remove(0, 1);
    if (path.endsWith(QLatin1Char('\'')))
        path.chop(1);
    return path;
}
