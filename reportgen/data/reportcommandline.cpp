#include "reportcommandline.h"

#include <QCommandLineParser>

namespace {

const QString kReport = QStringLiteral("report");

ReportCommandLine invalid(const QString& text)
{
    ReportCommandLine line;
    line.mode = ReportCommandLine::Invalid;
    line.errorText = text;
    return line;
}

ReportCommandLine parseWindow(const QStringList& arguments)
{
    ReportCommandLine line;
    line.mode = ReportCommandLine::Window;
    line.windowArguments = arguments;
    // The recorder adds the kind after the quoted path; the path words come before it.
    const int n = int(arguments.size());
    ReportKind kind;
    if (n >= 4 && arguments.at(n - 2) == QLatin1String("--report") &&
        ReportPeriod::kindFromName(arguments.at(n - 1), &kind)) {
        line.kind = kind;
        line.windowArguments = arguments.mid(0, n - 2);
    }
    return line;
}

// --report audit: whole days from --start to --end, as PDF or CSV.
ReportCommandLine parseAudit(const QCommandLineParser& parser)
{
    for (const char* name : {"period", "channels", "subject", "author", "html"}) {
        if (parser.isSet(QLatin1String(name)))
            return invalid(QStringLiteral("--") + QLatin1String(name) +
                           QStringLiteral(" is not for the audit report"));
    }
    ReportCommandLine line;
    line.mode = ReportCommandLine::Audit;
    const QString format = QStringLiteral("yyyy-MM-dd");
    line.start = QDate::fromString(parser.value(QStringLiteral("start")), format);
    if (!line.start.isValid())
        return invalid(QStringLiteral("--start must be a date as yyyy-MM-dd"));
    line.end = QDate::fromString(parser.value(QStringLiteral("end")), format);
    if (!line.end.isValid())
        return invalid(QStringLiteral("--end must be a date as yyyy-MM-dd"));
    if (line.end < line.start)
        return invalid(QStringLiteral("--end must not be before --start"));
    line.pdfFile = parser.value(QStringLiteral("pdf"));
    line.csvFile = parser.value(QStringLiteral("csv"));
    if (line.pdfFile.isEmpty() == line.csvFile.isEmpty())
        return invalid(QStringLiteral("give one of --pdf FILE and --csv FILE"));
    if (parser.positionalArguments().size() != 1)
        return invalid(QStringLiteral("give exactly one project file"));
    line.projectPath = parser.positionalArguments().first();
    return line;
}

ReportCommandLine parseVerify(const QStringList& arguments)
{
    ReportCommandLine line;
    line.mode = ReportCommandLine::Verify;
    for (int i = 2; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--heads") && line.headsFile.isEmpty() &&
            i + 1 < arguments.size())
            line.headsFile = arguments.at(++i);
        else if (arguments.at(i).startsWith(QLatin1String("--")))
            return invalid(QStringLiteral("--verify takes a project and --heads FILE only"));
        else if (line.projectPath.isEmpty())
            line.projectPath = arguments.at(i);
        else
            return invalid(QStringLiteral("give exactly one project file"));
    }
    if (line.projectPath.isEmpty())
        return invalid(QStringLiteral("give exactly one project file"));
    return line;
}

ReportCommandLine parseVerifyReport(const QStringList& arguments)
{
    ReportCommandLine line;
    line.mode = ReportCommandLine::VerifyReport;
    QStringList files;
    for (int i = 2; i < arguments.size(); ++i) {
        if (arguments.at(i).startsWith(QLatin1String("--")))
            return invalid(
                QStringLiteral("--verify-report takes a report file and a project only"));
        files.append(arguments.at(i));
    }
    if (files.size() != 2)
        return invalid(QStringLiteral("give one report file and one project file"));
    line.reportFile = files.at(0);
    line.projectPath = files.at(1);
    return line;
}

} // namespace

QString ReportCommandLine::usage()
{
    return QStringLiteral(
        "Usage: Tallyforge --report daily|weekly|monthly|haccp --start yyyy-MM-dd\n"
        "                  [--period day|week|month] [--channels SERIAL_channel1,...]\n"
        "                  [--subject TEXT] [--author TEXT]\n"
        "                  [--pdf FILE|--html FILE] [--csv FILE] PROJECT.tpc\n"
        "       Tallyforge --report audit --start yyyy-MM-dd --end yyyy-MM-dd\n"
        "                  --pdf FILE|--csv FILE PROJECT.tpc\n"
        "Makes one report without a window and writes it to FILE.\n"
        "  --start     the first day; a monthly report covers the month that holds it\n"
        "  --period    length of a HACCP report from its first day (default day)\n"
        "  --channels  up to four channels; default the first four of the project\n"
        "  --subject, --author  default the texts of the last report made in the window\n"
        "  --end       the last day of the audit trail listed (days in local time)\n"
        "  --csv       every table of the report, as the page shows them, for a spreadsheet\n"
        "              (with or without the page; times local, the zone named in the file)\n"
        "Exit status: 0 written; 1 not made (no database, no samples in the period, file not\n"
        "written); 2 bad arguments. An audit report of a period without entries is made.\n"
        "\n"
        "       Tallyforge --verify PROJECT.tpc [--heads FILE]\n"
        "Checks the audit trail's chain, the seals of the samples and, given the heads printed\n"
        "at the end of reports or forwarded (one a line: its entry number, later on the line\n"
        "its 64 hex digits), that the chain still holds them. Exit status: 0 all holds; 1 a\n"
        "finding; 2 bad arguments or a file that cannot be read.\n"
        "\n"
        "       Tallyforge --verify-report FILE.pdf PROJECT.tpc\n"
        "Tells whether FILE is a report approved in the project (which one, by whom, when) and\n"
        "whether the rows of its period changed since. Exit status: 0 approved and unchanged;\n"
        "1 not an approved file of the project, or changed; 2 bad arguments or a file that\n"
        "cannot be read.\n");
}

ReportCommandLine ReportCommandLine::parse(const QStringList& arguments)
{
    // The recorder's form begins with the (quoted) project path, never with an option.
    if (arguments.size() < 2 || !arguments.at(1).startsWith(QLatin1String("--")))
        return parseWindow(arguments);
    if (arguments.at(1) == QLatin1String("--verify"))
        return parseVerify(arguments);
    if (arguments.at(1) == QLatin1String("--verify-report"))
        return parseVerifyReport(arguments);

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption report(kReport, QString(), QStringLiteral("KIND"));
    const QCommandLineOption start(QStringLiteral("start"), QString(), QStringLiteral("DATE"));
    const QCommandLineOption end(QStringLiteral("end"), QString(), QStringLiteral("DATE"));
    const QCommandLineOption period(QStringLiteral("period"), QString(), QStringLiteral("SPAN"));
    const QCommandLineOption channels(QStringLiteral("channels"), QString(),
                                      QStringLiteral("KEYS"));
    const QCommandLineOption subject(QStringLiteral("subject"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption author(QStringLiteral("author"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption pdf(QStringLiteral("pdf"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption html(QStringLiteral("html"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption csv(QStringLiteral("csv"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    parser.addOptions(
        {report, start, end, period, channels, subject, author, pdf, html, csv, help});
    if (!parser.parse(arguments))
        return invalid(parser.errorText());
    ReportCommandLine line;
    line.mode = Help;
    if (parser.isSet(help))
        return line;
    line.mode = Batch;
    for (const QCommandLineOption& option :
         {report, start, end, period, channels, subject, author, pdf, html, csv}) {
        if (parser.values(option).size() > 1)
            return invalid(QStringLiteral("--") + option.names().first() +
                           QStringLiteral(" is given more than once"));
    }
    if (parser.value(report) == QLatin1String("audit"))
        return parseAudit(parser);
    if (!ReportPeriod::kindFromName(parser.value(report), &line.kind))
        return invalid(QStringLiteral("--report must be daily, weekly, monthly, haccp or audit"));
    if (parser.isSet(end))
        return invalid(QStringLiteral("--end is for the audit report only"));
    line.start = QDate::fromString(parser.value(start), QStringLiteral("yyyy-MM-dd"));
    if (!line.start.isValid())
        return invalid(QStringLiteral("--start must be a date as yyyy-MM-dd"));
    if (parser.isSet(period)) {
        if (line.kind != ReportKind::Haccp)
            return invalid(QStringLiteral("--period is for the haccp report only"));
        if (!ReportPeriod::spanFromName(parser.value(period), &line.span))
            return invalid(QStringLiteral("--period must be day, week or month"));
    }
    if (parser.isSet(channels)) {
        for (const QString& key : parser.value(channels).split(QLatin1Char(','))) {
            if (key.trimmed().isEmpty())
                return invalid(QStringLiteral("--channels holds an empty channel"));
            line.channels.append(key.trimmed());
        }
        if (line.channels.size() > 4)
            return invalid(QStringLiteral("--channels takes at most four channels"));
    }
    line.hasSubject = parser.isSet(subject);
    line.subject = parser.value(subject);
    line.hasAuthor = parser.isSet(author);
    line.author = parser.value(author);
    line.pdfFile = parser.value(pdf);
    line.htmlFile = parser.value(html);
    line.csvFile = parser.value(csv);
    // The tables as CSV beside the page, or alone; one page only.
    if ((!line.pdfFile.isEmpty() && !line.htmlFile.isEmpty()) ||
        (line.pdfFile.isEmpty() && line.htmlFile.isEmpty() && line.csvFile.isEmpty()))
        return invalid(QStringLiteral("give one of --pdf FILE and --html FILE, or --csv FILE"));
    if (parser.positionalArguments().size() != 1)
        return invalid(QStringLiteral("give exactly one project file"));
    line.projectPath = parser.positionalArguments().first();
    return line;
}
