#include "programlauncher.h"

#include "projectpathargument.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

QString ProgramLauncher::resolve(const QString& programName, const QString& ownFolder)
{
    const QString folder = ownFolder.isEmpty() ? QCoreApplication::applicationDirPath() : ownFolder;
    const QFileInfo beside(folder + QLatin1Char('/') + programName);
    if (beside.isFile() && beside.isExecutable())
        return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(programName);
}

QStringList ProgramLauncher::arguments(const QString& projectFilePath, const QStringList& options)
{
    return QStringList{ProjectPathArgument::quote(projectFilePath)} + options;
}

QString ProgramLauncher::commandText(const QString& programName, const QString& projectFilePath,
                                     const QStringList& options)
{
    return programName + QLatin1Char(' ') +
           arguments(projectFilePath, options).join(QLatin1Char(' '));
}

bool ProgramLauncher::start(const QString& programName, const QString& projectFilePath,
                            const QString& ownFolder, const QStringList& options)
{
    const QString program = resolve(programName, ownFolder);
    if (program.isEmpty())
        return false;
    return QProcess::startDetached(program, arguments(projectFilePath, options),
                                   QFileInfo(projectFilePath).absolutePath());
}
