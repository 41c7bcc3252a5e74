#include "viewercommandline.h"

#include <QDateTime>

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

bool parseTime(const QString& option, const QString& text, qint64* seconds, QString* error)
{
    const QDateTime time = QDateTime::fromString(text, TimeFormat);
    if (!time.isValid()) {
        *error = QStringLiteral("%1 needs a local time as \"yyyy-MM-dd hh:mm:ss\", not \"%2\".")
                     .arg(option, text);
        return false;
    }
    *seconds = time.toSecsSinceEpoch();
    return true;
}

} // namespace

ProgramStartup::Texts ViewerCommandLine::startupTexts()
{
    return {
        QStringLiteral("Please give the project file: Trendscope PROJECT.tpc"),
        QStringLiteral("Project file \"%1\" does not exist."),
        QStringLiteral("Database file \"%1\" does not exist."),
        QStringLiteral("The device list of the project file is damaged."),
    };
}

bool ViewerCommandLine::parse(const QStringList& arguments, Options* options, QString* error)
{
    QStringList rest;
    QString from;
    QString to;
    bool hasFrom = false;
    bool hasTo = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        const bool takesValue = arg == QLatin1String("--export-csv") ||
                                arg == QLatin1String("--from") || arg == QLatin1String("--to") ||
                                arg == QLatin1String("--channels");
        if (!takesValue) {
            rest << arg;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            *error = arg + QStringLiteral(" needs a value.");
            return false;
        }
        const QString value = arguments.at(++i);
        if (arg == QLatin1String("--export-csv")) {
            options->exportCsv = true;
            options->exportFile = value;
        } else if (arg == QLatin1String("--from")) {
            from = value;
            hasFrom = true;
        } else if (arg == QLatin1String("--to")) {
            to = value;
            hasTo = true;
        } else {
            options->channelKeys = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
        }
    }
    if (options->exportCsv || hasFrom || hasTo || !options->channelKeys.isEmpty()) {
        if (!options->exportCsv || options->exportFile.isEmpty()) {
            *error = QStringLiteral("--from, --to and --channels go with --export-csv FILE.");
            return false;
        }
        if (!hasFrom || !hasTo) {
            *error = QStringLiteral("--export-csv needs --from and --to.");
            return false;
        }
        if (!parseTime(QStringLiteral("--from"), from, &options->from, error) ||
            !parseTime(QStringLiteral("--to"), to, &options->to, error))
            return false;
        if (options->from > options->to) {
            *error = QStringLiteral("--from lies after --to.");
            return false;
        }
    }
    return ProgramStartup::check(rest, startupTexts(), &options->projectPath, &options->devices,
                                 error);
}
