#include "viewercommandline.h"

#include <QDateTime>

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
const QString DayFormat = QStringLiteral("yyyy-MM-dd");

// A day alone stands for its first second (from) or its last (to) in local time; on a day whose
// midnight a clock change skips, the first second is the first one the clocks show.
bool parseTime(const QString& option, const QString& text, bool last, qint64* seconds,
               QString* error)
{
    const QDateTime time = QDateTime::fromString(text, TimeFormat);
    const QDate day = QDate::fromString(text, DayFormat);
    if (time.isValid()) {
        *seconds = time.toSecsSinceEpoch();
        return true;
    }
    if (day.isValid()) {
        *seconds = (last ? day.endOfDay() : day.startOfDay()).toSecsSinceEpoch();
        return true;
    }
    *error = QStringLiteral("%1 needs a local time as \"yyyy-MM-dd hh:mm:ss\" or a day as "
                            "\"yyyy-MM-dd\", not \"%2\".")
                 .arg(option, text);
    return false;
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

QString ViewerCommandLine::usage()
{
    return QStringLiteral(
        "Usage: Trendscope PROJECT.tpc\n"
        "       Trendscope --export-csv FILE --from TIME --to TIME\n"
        "                  [--channels SERIAL_channel1,...] PROJECT.tpc\n"
        "       Trendscope --export-events FILE --from TIME --to TIME PROJECT.tpc\n"
        "Shows the samples a project recorded. With --export-csv, writes them to FILE as CSV\n"
        "without a window; with --export-events, the alarm events that lasted into the range\n"
        "(with their acknowledgement and comment), in the same way.\n"
        "  --from, --to  local time as \"yyyy-MM-dd hh:mm:ss\", or a day as yyyy-MM-dd (from its\n"
        "                first second, to its last)\n"
        "  --channels    channels named SERIAL_channel1 or SERIAL_channel2; default all\n"
        "  --help        this text\n"
        "Exit status of an export: 0 written; 1 not written (no database, a failed read, the\n"
        "file not written); 2 bad arguments or an unknown channel.\n");
}

bool ViewerCommandLine::asksForHelp(const QStringList& arguments)
{
    // The recorder's command line is a project path: "-h" is a word of a path unless it comes
    // first.
    return arguments.contains(QLatin1String("--help")) ||
           (!arguments.isEmpty() && arguments.first() == QLatin1String("-h"));
}

bool ViewerCommandLine::asksForExport(const QStringList& arguments)
{
    return arguments.contains(QLatin1String("--export-csv")) ||
           arguments.contains(QLatin1String("--export-events"));
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
                                arg == QLatin1String("--export-events") ||
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
        if (arg == QLatin1String("--export-csv") || arg == QLatin1String("--export-events")) {
            if (options->exportCsv || options->exportEvents) {
                *error = QStringLiteral("Give one of --export-csv and --export-events, once.");
                return false;
            }
            (arg == QLatin1String("--export-csv") ? options->exportCsv : options->exportEvents) =
                true;
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
    const bool exporting = options->exportCsv || options->exportEvents;
    if (exporting || hasFrom || hasTo || !options->channelKeys.isEmpty()) {
        if (!exporting || options->exportFile.isEmpty()) {
            *error = QStringLiteral("--from, --to and --channels go with --export-csv FILE.");
            return false;
        }
        if (options->exportEvents && !options->channelKeys.isEmpty()) {
            *error = QStringLiteral("--channels goes with --export-csv, not --export-events.");
            return false;
        }
        if (!hasFrom || !hasTo) {
            *error = (options->exportCsv ? QStringLiteral("--export-csv")
                                         : QStringLiteral("--export-events")) +
                     QStringLiteral(" needs --from and --to.");
            return false;
        }
        if (!parseTime(QStringLiteral("--from"), from, false, &options->from, error) ||
            !parseTime(QStringLiteral("--to"), to, true, &options->to, error))
            return false;
        if (options->from > options->to) {
            *error = QStringLiteral("--from lies after --to.");
            return false;
        }
    }
    return ProgramStartup::check(rest, startupTexts(), &options->projectPath, &options->devices,
                                 error);
}
