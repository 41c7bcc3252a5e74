// `Tallyforge --report KIND ... --csv FILE`, run as a script runs it: every table the page shows,
// in its order, with the figures of the same run's tables; days of 23 and 25 hours (the test
// runs under Europe/Berlin); names from the project file that a spreadsheet would run as
// formulas; a file that cannot be written.

#include "alarmsuppressiontable.h"
#include "csvrecords.h"
#include "novalue.h"
#include "reportcommandline.h"
#include "reportcsvcell.h"
#include "reportfixture.h"
#include "reportrequest.h"
#include "reportrun.h"
#include "sqliteconnection.h"
#include "valuetext.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>
#include <unistd.h>

#include <cmath>

using namespace ReportFixture;

namespace {

const QString kFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

struct Table
{
    QStringList headers;
    QList<QStringList> rows;
};

// The file's first line and its tables by title, in the file's order.
struct CsvFile
{
    QStringList first;
    QStringList titles;
    QMap<QString, Table> tables;
};

CsvFile readCsv(const QString& path, bool* wellFormed)
{
    QFile file(path);
    CsvFile csv;
    *wellFormed = file.open(QIODevice::ReadOnly);
    const QList<QStringList> records = parseCsv(QString::fromUtf8(file.readAll()), wellFormed);
    const QStringList blank{QString()};
    for (int i = 0; i < records.size(); ++i) {
        if (i == 0) {
            csv.first = records.at(i);
        } else if (records.at(i) == blank && i + 2 < records.size()) {
            const QString title = records.at(++i).value(0);
            csv.titles.append(title);
            Table& table = csv.tables[title];
            table.headers = records.at(++i);
            while (i + 1 < records.size() && records.at(i + 1) != blank)
                table.rows.append(records.at(++i));
        } else {
            *wellFormed = false; // a table without a blank line before it
        }
    }
    return csv;
}

QString timeText(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs).toString(kFormat);
}

QString figure(double v)
{
    return v == NoValue ? QString() : valueText(v);
}

// Two nodes every 5 minutes from 2026-03-23 to 2026-03-31 and on 2026-10-24 to 2026-10-26:
// CS_01's temperature dips below zero every night (limits -5 to 8), runs above 8 on the 29th
// from 10:00 to 10:40, and stops for half an hour at 14:00; RM_03 (15 to 25) stays inside.
QList<Sample> samples()
{
    QList<Sample> out;
    const qint64 stop = localSecs(QStringLiteral("2026-03-29 14:00:00"));
    const qint64 high = localSecs(QStringLiteral("2026-03-29 10:00:00"));
    for (const auto& [from, to] : {std::pair<const char*, const char*>{"2026-03-23", "2026-03-31"},
                                   {"2026-10-24", "2026-10-27"}}) {
        const qint64 end = localSecs(QLatin1String(to) + QStringLiteral(" 00:00:00"));
        for (qint64 t = localSecs(QLatin1String(from) + QStringLiteral(" 00:00:00")); t < end;
             t += 300) {
            const double phase = 2 * M_PI * double(t % 86400) / 86400.0;
            double cold = std::round((3 + 5 * std::sin(phase)) * 100) / 100;
            if (t >= high && t < high + 2400)
                cold = 9.5;
            if (t < stop || t >= stop + 1800)
                out.append({QStringLiteral("CS_01"), cold, 60.0, t});
            out.append({QStringLiteral("RM_03"), 20.0, 45.0, t + 1});
        }
    }
    return out;
}

// The device list of both nodes, the first one's names replaced when given.
QByteArray deviceList(const QString& nodeName, const QString& channelName)
{
    QJsonDocument document = QJsonDocument::fromJson(nestedDeviceList(
        {QStringLiteral("CS_01"), QStringLiteral("RM_03")}, {{-5, 8, 0, 0}, {15, 25, 0, 0}}));
    QJsonObject root = document.object();
    QJsonArray devices = root.value(QStringLiteral("devices")).toArray();
    QJsonObject gateway = devices.at(0).toObject();
    QJsonArray nodes = gateway.value(QStringLiteral("nodes")).toArray();
    QJsonObject node = nodes.at(0).toObject();
    if (!nodeName.isEmpty())
        node.insert(QStringLiteral("DeviceName"), nodeName);
    if (!channelName.isEmpty())
        node.insert(QStringLiteral("Ch1Name"), channelName);
    nodes.replace(0, node);
    gateway.insert(QStringLiteral("nodes"), nodes);
    devices.replace(0, gateway);
    root.insert(QStringLiteral("devices"), devices);
    return QJsonDocument(root).toJson();
}

// The project in `folder`, with the alarm log (an acknowledged, signed event with its corrective
// action, and an active one) and a shelve of CS_01 on 2026-03-29. Returns its path.
QString writeFixture(const QString& folder, const QString& nodeName = QString(),
                     const QString& channelName = QString())
{
    const QString project = writeProject(
        folder, QStringLiteral("Cold store.tpc"), deviceList(nodeName, channelName), 300000,
        QStringLiteral("2026-03-23 00:00:00"), QStringLiteral("2026-10-27 00:00:00"));
    const QString database = folder + QStringLiteral("/Cold store.dat");
    if (!writeDatabase(database, samples(), true, true))
        return QString();
    AlarmEventRecord high = alarmEvent(1, QStringLiteral("CS_01"), 1, AlarmKind::High,
                                       localSecs(QStringLiteral("2026-03-29 10:00:00")),
                                       localSecs(QStringLiteral("2026-03-29 10:40:00")));
    high.limit = 8.0;
    high.extremeValue = 9.5;
    high.extremeTime = high.start;
    high.acknowledgedAt = high.start + 600;
    high.acknowledgedBy = QStringLiteral("Ann");
    high.comment = QStringLiteral("=door, \"left\" open\nclosed");
    high.action = {QStringLiteral("door"), QStringLiteral("closed it"), QStringLiteral("none"),
                   QString(), QStringLiteral("Ann")};
    const AlarmEventRecord silent =
        alarmEvent(2, QStringLiteral("RM_03"), 0, AlarmKind::NoData,
                   localSecs(QStringLiteral("2026-03-29 20:00:00")), std::nullopt);
    if (!writeAlarmEvents(database, {high, silent}) ||
        !writeAlarmSignature(database, high, QStringLiteral("olga"), QStringLiteral("Olga Berg")))
        return QString();
    AlarmSuppression shelve;
    shelve.id = 1;
    shelve.serial = QStringLiteral("CS_01");
    shelve.channel = 1;
    shelve.from = localSecs(QStringLiteral("2026-03-29 06:00:00"));
    shelve.until = localSecs(QStringLiteral("2026-03-29 08:00:00"));
    shelve.reason = QStringLiteral("-defrost, \"cycle\"");
    shelve.user = QStringLiteral("sam");
    SqliteConnection db;
    QString error;
    if (!db.open(database, SQLITE_OPEN_READWRITE) ||
        !AlarmSuppressionTable::insert(db.get(), shelve, &error))
        return QString();
    return project;
}

struct Outcome
{
    int status = -1;
    QString errors;
};

// Runs the program without a display; %P the project, %O the output folder.
Outcome run(QStringList arguments, const QString& project, const QString& output)
{
    QProcess tallyforge;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    tallyforge.setProcessEnvironment(environment);
    for (QString& argument : arguments)
        argument.replace(QStringLiteral("%P"), project).replace(QStringLiteral("%O"), output);
    tallyforge.start(QStringLiteral(TALLYFORGE_PROGRAM), arguments);
    if (!tallyforge.waitForFinished(120000) || tallyforge.exitStatus() != QProcess::NormalExit)
        return {};
    return {tallyforge.exitCode(), QString::fromLocal8Bit(tallyforge.readAllStandardError())};
}

} // namespace

Q_DECLARE_METATYPE(ReportCsvCell)

class TestReportCsv : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void kinds_data();
    void kinds();
    void cells_data();
    void cells();
    void hostileNames_data();
    void hostileNames();
    void unwritable_data();
    void unwritable();

private:
    QTemporaryDir fixture;
    QString project;
};

void TestReportCsv::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCOMPARE(QDateTime(QDate(2026, 3, 29), QTime(0, 0))
                 .secsTo(QDateTime(QDate(2026, 3, 30), QTime(0, 0))),
             23 * 3600);
    QVERIFY(fixture.isValid());
    project = writeFixture(fixture.path());
    QVERIFY(!project.isEmpty());
}

void TestReportCsv::kinds_data()
{
    QTest::addColumn<QStringList>("arguments"); // after the kind and the start
    QTest::addColumn<int>("periodRows");        // -1: as many as the run's tables hold
    QTest::addColumn<QStringList>("titles");
    const QString report = QStringLiteral("Report");
    const QString channels = QStringLiteral("Channels");
    const QString figures = QStringLiteral("Data Table (Avg/Min/Max)");
    const QString head = QStringLiteral("Audit Trail Head");
    const QString shelves = QStringLiteral("Shelved Alarms and Nodes out of Service");
    const QStringList haccp{report,
                            channels,
                            QStringLiteral("Critical Limits"),
                            QStringLiteral("Daily Figures (Min/Max/Avg, Time out of Limits)"),
                            QStringLiteral("Excursions"),
                            QStringLiteral("Data Gaps"),
                            QStringLiteral("Alarm Events"),
                            shelves,
                            head};
    QTest::newRow("daily, 23-hour day") << QStringList{"daily", "2026-03-29"} << 23
                                        << QStringList{report, channels, figures, shelves, head};
    QTest::newRow("daily, 25-hour day, with PDF")
        << QStringList{"daily", "2026-10-25", "--pdf", "%O/r.pdf"} << 25
        << QStringList{report, channels, figures, head};
    QTest::newRow("weekly") << QStringList{"weekly", "2026-03-25"} << -1
                            << QStringList{report, channels, figures, shelves, head};
    QTest::newRow("monthly") << QStringList{"monthly", "2026-10-01"} << 31
                             << QStringList{report, channels, figures, head};
    QTest::newRow("haccp day") << QStringList{"haccp", "2026-03-29"} << 1 << haccp;
    QTest::newRow("haccp week, with HTML")
        << QStringList{"haccp", "2026-03-25", "--period", "week", "--html", "%O/r.htm"} << -1
        << haccp;
}

// Catches a table left out or out of the page's order, figures other than the run's (a row
// dropped or padded on a day of 23 or 25 hours, channels' columns swapped), times that are not
// local or a zone left unnamed, and a page written without its CSV or the CSV without the page.
void TestReportCsv::kinds()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, periodRows);
    QFETCH(QStringList, titles);
    QTemporaryDir out;
    QVERIFY(out.isValid());
    QStringList all{QStringLiteral("--report"), arguments.takeFirst(), QStringLiteral("--start"),
                    arguments.takeFirst()};
    all << arguments << QStringLiteral("--csv") << QStringLiteral("%O/r.csv") << project;
    const Outcome outcome = run(all, project, out.path());
    QCOMPARE(outcome.errors, QString());
    QCOMPARE(outcome.status, 0);
    const QStringList written = QDir(out.path()).entryList(QDir::Files);
    QCOMPARE(written.size(), arguments.isEmpty() ? 1 : 2);

    // The same report made here: its tables are what the file must show.
    for (QString& argument : all)
        argument.replace(QStringLiteral("%O"), out.path());
    const ReportCommandLine line =
        ReportCommandLine::parse(QStringList{QStringLiteral("Tallyforge")} + all);
    QCOMPARE(line.mode, ReportCommandLine::Batch);
    ReportRun::Settings settings;
    QString errorText;
    QCOMPARE(ReportRequest::settingsOf(line, &settings, &errorText), 0);
    ReportRun reportRun;
    QSignalSpy done(&reportRun, &ReportRun::done);
    QVERIFY(reportRun.start(settings));
    QVERIFY(done.wait(120000));
    const ReportTables& tables = reportRun.tables();

    bool wellFormed = false;
    const CsvFile csv = readCsv(out.filePath(QStringLiteral("r.csv")), &wellFormed);
    QVERIFY(wellFormed);
    QCOMPARE(csv.first,
             (QStringList{ReportPeriod::title(line.kind), settings.start.toString(kFormat),
                          settings.end.toString(kFormat),
                          QStringLiteral("Times are local, Europe/Berlin")}));
    QCOMPARE(csv.titles, titles);
    for (const Table& table : csv.tables) {
        for (const QString& header : table.headers) {
            const QString name = header.section(QStringLiteral(" ("), 0, 0);
            if (name == QLatin1String("Start") || name == QLatin1String("End"))
                QVERIFY2(header.endsWith(QLatin1String(" (Europe/Berlin)")), qPrintable(header));
        }
    }

    const bool haccp = line.kind == ReportKind::Haccp;
    const Table figures = csv.tables.value(titles.at(haccp ? 3 : 2));
    if (periodRows >= 0)
        QCOMPARE(int(tables.periodRows.size()), periodRows);
    QCOMPARE(figures.rows.size(), tables.periodRows.size());
    QCOMPARE(figures.headers.size(), 3 + int(settings.channels.size()) * (haccp ? 4 : 3));
    int i = 0;
    for (auto it = tables.periodRows.constBegin(); it != tables.periodRows.constEnd(); ++it) {
        const QStringList& row = figures.rows.at(i++);
        QCOMPARE(row.value(1), it->label);
        QCOMPARE(row.value(2), timeText(it.key()));
        // A day without values shows empty cells, as on the page; then the second channel's
        // (CS_01's humidity, RM_03's temperature) first figure.
        const bool values = it->min[0] != NoValue;
        const QString average = values ? figure(it->avg[0]) : QString();
        const QStringList expected =
            haccp ? QStringList{figure(it->min[0]), figure(it->max[0]), average,
                                values ? QString::number(it->outSeconds[0]) : QString(),
                                figure(it->min[1])}
                  : QStringList{average, figure(it->min[0]), figure(it->max[0]),
                                it->min[1] != NoValue ? figure(it->avg[1]) : QString()};
        QCOMPARE(row.mid(3, expected.size()), expected);
    }
    if (!haccp)
        return;
    qint64 out0 = 0;
    for (const PeriodRow& row : tables.periodRows)
        out0 += row.outSeconds[0];
    QCOMPARE(csv.tables.value(QStringLiteral("Critical Limits")).rows.value(0).mid(2, 3),
             (QStringList{QStringLiteral("-5.00"), QStringLiteral("8.00"), QString::number(out0)}));
    QVERIFY(out0 > 0);
    const Table excursions = csv.tables.value(QStringLiteral("Excursions"));
    QCOMPARE(excursions.rows.size(), tables.excursions.size());
    const Table events = csv.tables.value(QStringLiteral("Alarm Events"));
    QCOMPARE(events.rows.size(), tables.alarmEvents.size());
    QCOMPARE(events.rows.value(0).value(18), tables.alarmSignatures.value(1));
    QVERIFY(events.rows.value(0).value(18).contains(QLatin1String("Olga Berg")));
    QCOMPARE(events.rows.value(0).mid(12, 4),
             (QStringList{QStringLiteral("'=door, \"left\" open\nclosed"), QStringLiteral("door"),
                          QStringLiteral("closed it"), QStringLiteral("none")}));
    const Table shelves =
        csv.tables.value(QStringLiteral("Shelved Alarms and Nodes out of Service"));
    QCOMPARE(
        shelves.rows.value(0).mid(4, 4),
        (QStringList{QStringLiteral("2026-03-29 06:00:00"), QStringLiteral("2026-03-29 08:00:00"),
                     QString(), QStringLiteral("'-defrost, \"cycle\"")}));
}

void TestReportCsv::cells_data()
{
    QTest::addColumn<ReportCsvCell>("cell");
    QTest::addColumn<QString>("field");
    QTest::newRow("negative number") << ReportCsvCell::number(-5.2) << QStringLiteral("-5.20");
    QTest::newRow("no value") << ReportCsvCell::number(NoValue) << QString();
    QTest::newRow("huge number") << ReportCsvCell::number(1e308) << QStringLiteral("1.00e+308");
    QTest::newRow("minus infinity") << ReportCsvCell::number(-INFINITY) << QStringLiteral("'-inf");
    QTest::newRow("negative count") << ReportCsvCell::count(-3) << QStringLiteral("-3");
    QTest::newRow("text like a negative number")
        << ReportCsvCell::text(QStringLiteral("-3")) << QStringLiteral("'-3");
    QTest::newRow("tab first") << ReportCsvCell::text(QStringLiteral("\t=1"))
                               << QStringLiteral("'\t=1");
    QTest::newRow("carriage return first")
        << ReportCsvCell::text(QStringLiteral("\r=1")) << QStringLiteral("\"'\r=1\"");
    QTest::newRow("formula inside")
        << ReportCsvCell::text(QStringLiteral("a=1+1")) << QStringLiteral("a=1+1");
    QTest::newRow("quotes") << ReportCsvCell::text(QStringLiteral("@\"x\""))
                            << QStringLiteral("\"'@\"\"x\"\"\"");
    QTest::newRow("time, summer") << ReportCsvCell::time(localSecs("2026-03-29 03:00:00"))
                                  << QStringLiteral("2026-03-29 03:00:00");
}

// Catches a cell a spreadsheet would run as a formula, a number written as text (or with the
// locale's decimal comma), and a field that breaks its line apart.
void TestReportCsv::cells()
{
    QFETCH(ReportCsvCell, cell);
    QFETCH(QString, field);
    QLocale::setDefault(QLocale(QLocale::German));
    QCOMPARE(cell.field(), field);
    QLocale::setDefault(QLocale::c());
}

void TestReportCsv::hostileNames_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("channel");
    QTest::addColumn<QString>("nodeCell"); // as a spreadsheet reads them
    QTest::addColumn<QString>("channelCell");
    QTest::addColumn<QString>("listedNode"); // the shelves' list names the node untrimmed
    QTest::newRow("formula") << QStringLiteral("=HYPERLINK(\"http://x\")")
                             << QStringLiteral("@SUM(A1)")
                             << QStringLiteral("'=HYPERLINK(\"http://x\")")
                             << QStringLiteral("'@SUM(A1)")
                             << QStringLiteral("'=HYPERLINK(\"http://x\")");
    QTest::newRow("plus and minus")
        << QStringLiteral("+1") << QStringLiteral("-2") << QStringLiteral("'+1")
        << QStringLiteral("'-2") << QStringLiteral("'+1");
    QTest::newRow("comma, quotes, line break")
        << QStringLiteral("Room \"A\",\r\nnorth") << QStringLiteral("Temp, \"core\"")
        << QStringLiteral("Room \"A\",\r\nnorth") << QStringLiteral("Temp, \"core\"")
        << QStringLiteral("Room \"A\",\r\nnorth");
    // The project's reader trims the name: the formula behind the tab is what is left.
    QTest::newRow("formula behind a tab")
        << QStringLiteral("\t=1+1") << QStringLiteral("Temperature") << QStringLiteral("'=1+1")
        << QStringLiteral("Temperature") << QStringLiteral("'\t=1+1");
}

// Catches a name from the project file that a spreadsheet runs as a formula or that breaks a
// row apart, and a negative temperature written as text.
void TestReportCsv::hostileNames()
{
    QFETCH(QString, node);
    QFETCH(QString, channel);
    QFETCH(QString, nodeCell);
    QFETCH(QString, channelCell);
    QFETCH(QString, listedNode);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString hostile = writeFixture(dir.path(), node, channel);
    QVERIFY(!hostile.isEmpty());
    const Outcome outcome =
        run({"--report", "haccp", "--start", "2026-03-29", "--csv", "%O/r.csv", "%P"}, hostile,
            dir.path());
    QVERIFY2(outcome.status == 0, qPrintable(outcome.errors));
    bool wellFormed = false;
    const CsvFile csv = readCsv(dir.filePath(QStringLiteral("r.csv")), &wellFormed);
    QVERIFY(wellFormed);
    const QStringList first = csv.tables.value(QStringLiteral("Channels")).rows.value(0);
    QCOMPARE(first.mid(1, 2), (QStringList{channelCell, nodeCell}));
    // The node's name also in the shelves' list; the first figures' header starts with its
    // number, so it needs no apostrophe.
    QCOMPARE(csv.tables.value(QStringLiteral("Shelved Alarms and Nodes out of Service"))
                 .rows.value(0)
                 .value(1),
             listedNode);
    const QString header =
        csv.tables.value(QStringLiteral("Daily Figures (Min/Max/Avg, Time out of Limits)"))
            .headers.value(3);
    QCOMPARE(header, QStringLiteral("1. ") + channel.trimmed() + QStringLiteral(" [") +
                         node.trimmed() + QStringLiteral("] min"));
    const QString lowest =
        csv.tables.value(QStringLiteral("Daily Figures (Min/Max/Avg, Time out of Limits)"))
            .rows.value(0)
            .value(3);
    bool isNumber = false;
    QVERIFY2(lowest.toDouble(&isNumber) < 0 && isNumber, qPrintable(lowest));
}

void TestReportCsv::unwritable_data()
{
    QTest::addColumn<QString>("target"); // under the output folder
    QTest::addColumn<QStringList>("page");
    QTest::newRow("a directory") << QStringLiteral("r.csv") << QStringList{};
    QTest::newRow("a directory, with PDF")
        << QStringLiteral("r.csv") << QStringList{"--pdf", "%O/r.pdf"};
    QTest::newRow("below a file") << QStringLiteral("plain/r.csv") << QStringList{};
    QTest::newRow("read-only folder") << QStringLiteral("locked/r.csv") << QStringList{};
}

// Catches a file that cannot be written reported as written, or a partial or temporary file
// left behind, or a file from before lost.
void TestReportCsv::unwritable()
{
    QFETCH(QString, target);
    QFETCH(QStringList, page);
    QTemporaryDir out;
    QVERIFY(out.isValid());
    QVERIFY(QDir(out.path()).mkdir(QStringLiteral("r.csv")));
    QFile plain(out.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("x") == 1);
    plain.close();
    QVERIFY(QDir(out.path()).mkdir(QStringLiteral("locked")));
    QFile before(out.filePath(QStringLiteral("locked/r.csv")));
    QVERIFY(before.open(QIODevice::WriteOnly) && before.write("before") == 6);
    before.close();
    QVERIFY(QFile::setPermissions(out.filePath(QStringLiteral("locked")),
                                  QFile::ReadOwner | QFile::ExeOwner));
    if (QTest::currentDataTag() == QLatin1String("read-only folder") && ::geteuid() == 0) {
        QFile::setPermissions(out.filePath(QStringLiteral("locked")),
                              QFile::WriteOwner | QFile::ReadOwner | QFile::ExeOwner);
        QSKIP("root writes into a read-only folder");
    }
    const QStringList listed = QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const Outcome outcome = run(QStringList{"--report", "daily", "--start", "2026-03-29"} + page +
                                    QStringList{"--csv", QStringLiteral("%O/") + target, "%P"},
                                project, out.path());
    QFile::setPermissions(out.filePath(QStringLiteral("locked")),
                          QFile::WriteOwner | QFile::ReadOwner | QFile::ExeOwner);
    QCOMPARE(outcome.status, 1);
    QVERIFY2(outcome.errors.contains(QLatin1String("Unable to")), qPrintable(outcome.errors));
    QStringList now = QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    now.removeAll(QStringLiteral("r.pdf")); // the page, written before its tables
    QCOMPARE(now, listed);
    QVERIFY(QDir(out.filePath(QStringLiteral("r.csv"))).isEmpty());
    QCOMPARE(QDir(out.filePath(QStringLiteral("locked"))).entryList(QDir::Files),
             QStringList{QStringLiteral("r.csv")});
    QVERIFY(before.open(QIODevice::ReadOnly));
    QCOMPARE(before.readAll(), QByteArray("before"));
}

QTEST_GUILESS_MAIN(TestReportCsv)
#include "tst_reportcsv.moc"
