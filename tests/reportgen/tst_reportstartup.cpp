#include "configureddevice.h"
#include "reportcommandline.h"
#include "reportfixture.h"
#include "reportstartup.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace ReportFixture;

class TestReportStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void checksInOrder_data();
    void checksInOrder();
    void splitPathWithApostropheStarts();
    void deviceForms_data();
    void deviceForms();
    void commandLine_data();
    void commandLine();
    void withoutWindow_data();
    void withoutWindow();
};

void TestReportStartup::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestReportStartup::checksInOrder_data()
{
    QTest::addColumn<bool>("withProject");
    QTest::addColumn<bool>("withDatabase");
    QTest::addColumn<QByteArray>("deviceList");
    QTest::addColumn<QString>("message"); // %1 = project path, %2 = database path

    const QByteArray good = nestedDeviceList({QStringLiteral("1234")});
    QTest::newRow("no project file")
        << false << false << good << QStringLiteral("Project File \"%1\" is not exists!");
    QTest::newRow("no project file, no device list")
        << false << false << QByteArray() << QStringLiteral("Project File \"%1\" is not exists!");
    QTest::newRow("no database") << true << false << good
                                 << QStringLiteral("DB File \"%2\" is not exists!");
    QTest::newRow("no database, broken device list")
        << true << false << QByteArray("[") << QStringLiteral("DB File \"%2\" is not exists!");
    QTest::newRow("device list missing")
        << true << true << QByteArray() << QStringLiteral("Device Information is crashed!");
    QTest::newRow("device list is an array") << true << true << QByteArray("[{\"devices\":[]}]")
                                             << QStringLiteral("Device Information is crashed!");
    QTest::newRow("device list truncated") << true << true << good.left(good.size() / 2)
                                           << QStringLiteral("Device Information is crashed!");
    QTest::newRow("everything present") << true << true << good << QString();
}

// Catches a start-up check that is skipped, runs in another order or words its message
// differently.
void TestReportStartup::checksInOrder()
{
    QFETCH(bool, withProject);
    QFETCH(bool, withDatabase);
    QFETCH(QByteArray, deviceList);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString projectPath = dir.filePath(QStringLiteral("cold room.tpc"));
    const QString databasePath = dir.path() + QStringLiteral("/cold room.dat");
    if (withProject)
        writeProject(dir.path(), QStringLiteral("cold room.tpc"), deviceList, 60000, QString(),
                     QString());
    if (withDatabase)
        QVERIFY(writeDatabase(databasePath, {}));

    const QStringList arguments{QStringLiteral("Tallyforge"),
                                QStringLiteral("'") + dir.path() + QStringLiteral("/cold"),
                                QStringLiteral("room.tpc'")};
    QString path;
    QList<ConfiguredDevice*> devices;
    QString errorText;
    const bool ok = ReportStartup::check(arguments, &path, &devices, &errorText);
    if (message.isEmpty()) {
        QVERIFY2(ok, qPrintable(errorText));
        QCOMPARE(path, projectPath);
        QCOMPARE(devices.size(), 1);
    } else {
        QVERIFY(!ok);
        QCOMPARE(errorText, QString(message)
                                .replace(QStringLiteral("%1"), projectPath)
                                .replace(QStringLiteral("%2"), databasePath));
        QVERIFY(devices.isEmpty());
    }
    qDeleteAll(devices);

    QString none;
    QVERIFY(!ReportStartup::check({QStringLiteral("Tallyforge")}, &path, &devices, &none));
    QCOMPARE(none, QStringLiteral("Please Set Parameter project Name!"));
}

// Catches a project in a folder with an apostrophe and blanks that cannot be opened after the
// recorder's command text split it.
void TestReportStartup::splitPathWithApostropheStarts()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path() + QStringLiteral("/Lab's cold store");
    QVERIFY(QDir().mkpath(folder));
    writeProject(folder, QStringLiteral("p.tpc"), nestedDeviceList({QStringLiteral("1")}), 1000,
                 QString(), QString());
    QVERIFY(writeDatabase(folder + QStringLiteral("/p.dat"), {}));
    const QString command = QStringLiteral("'") + folder + QStringLiteral("/p.tpc'");
    QStringList arguments{QStringLiteral("Tallyforge")};
    arguments += command.split(QLatin1Char(' '));
    QString path;
    QList<ConfiguredDevice*> devices;
    QString errorText;
    QVERIFY2(ReportStartup::check(arguments, &path, &devices, &errorText), qPrintable(errorText));
    QCOMPARE(path, folder + QStringLiteral("/p.tpc"));
    qDeleteAll(devices);
}

struct Expected
{
    QString number;
    QString name;
    QString ip;
    int port;
    int type;
    int unit1;
    int unit2;
    QString custom2;
};
Q_DECLARE_METATYPE(QList<Expected>)

void TestReportStartup::deviceForms_data()
{
    QTest::addColumn<QByteArray>("deviceList");
    QTest::addColumn<QList<Expected>>("expected");

    QTest::newRow("nested") << QByteArray(
                                   R"({"devices":[{"DeviceInterface":"10.0.0.5","DevicePort":"5020",
            "DeviceModel":"TQ100","nodes":[
            {"StartAddress":"0","DeviceNumber":"A1","DeviceName":"Freezer","ch1_unit":"2",
             "ch2_unit":"4","ch2_custom":"ppm"},
            {"DeviceNumber":"A2","DeviceName":"Fridge","ch1_unit":"9","ch2_unit":"x"}]}]})")
                            << QList<Expected>{{"A1", "Freezer", "10.0.0.5", 5020, 2, 2, 4, "ppm"},
                                               {"A2", "Fridge", "10.0.0.5", 5020, 2, 0, 0, ""}};
    QTest::newRow("flat") << QByteArray(R"({"devices":[
            {"DeviceInterface":"COM3","DevicePort":"23","DeviceType":"SERIAL",
             "DeviceNumber":"S1","DeviceName":"Serial one","ch1_unit":"1","ch2_unit":"3"},
            {"DeviceInterface":"1.2.3.4","DevicePort":"502","DeviceType":"serial",
             "DeviceNumber":"S2","DeviceName":"Lower case","nodes":null}]})")
                          << QList<Expected>{{"S1", "Serial one", "COM3", 23, 1, 1, 3, ""},
                                             {"S2", "Lower case", "1.2.3.4", 502, 2, 0, 0, ""}};
    QTest::newRow("empty nodes array contributes nothing")
        << QByteArray(R"({"devices":[{"DeviceInterface":"1.1.1.1","DevicePort":"502",
            "nodes":[]}]})")
        << QList<Expected>{};
    QTest::newRow("port as a JSON number reads as 0")
        << QByteArray(R"({"devices":[{"DeviceInterface":"1.1.1.1","DevicePort":502,
            "nodes":[{"DeviceNumber":"N","ch1_unit":1}]}]})")
        << QList<Expected>{{"N", "", "1.1.1.1", 0, 2, 0, 0, ""}};
}

// Catches a reader that loses one of the two device-list forms, misreads "SERIAL", or turns
// numbers stored as JSON numbers into values.
void TestReportStartup::deviceForms()
{
    QFETCH(QByteArray, deviceList);
    QFETCH(QList<Expected>, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeProject(dir.path(), QStringLiteral("p.tpc"), deviceList, 1000, QString(), QString());
    QVERIFY(writeDatabase(dir.filePath(QStringLiteral("p.dat")), {}));
    QString path;
    QList<ConfiguredDevice*> devices;
    QString errorText;
    QVERIFY2(
        ReportStartup::check({QStringLiteral("Tallyforge"), dir.filePath(QStringLiteral("p.tpc"))},
                             &path, &devices, &errorText),
        qPrintable(errorText));
    QCOMPARE(devices.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const ConfiguredDevice* d = devices.at(i);
        const Expected& e = expected.at(i);
        QCOMPARE(d->deviceNumber, e.number);
        QCOMPARE(d->deviceName, e.name);
        QCOMPARE(d->ipAddress, e.ip);
        QCOMPARE(int(d->port), e.port);
        QCOMPARE(d->deviceType, e.type);
        QCOMPARE(int(d->ch1Unit), e.unit1);
        QCOMPARE(int(d->ch2Unit), e.unit2);
        QCOMPARE(d->ch2Custom, e.custom2);
        QVERIFY(!d->parent());
    }
    qDeleteAll(devices);
}

void TestReportStartup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments"); // after the program name
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("outcome"); // window: kind and path words; batch: the fields;
                                          // invalid: the message
    const int window = ReportCommandLine::Window;
    const int batch = ReportCommandLine::Batch;
    const int invalid = ReportCommandLine::Invalid;
    QTest::newRow("recorder, daily") << QStringList{"'/p/x.tpc'"} << window << "daily '/p/x.tpc'";
    QTest::newRow("recorder, weekly")
        << QStringList{"'/p/x.tpc'", "--report", "weekly"} << window << "weekly '/p/x.tpc'";
    QTest::newRow("recorder, split path, haccp")
        << QStringList{"'/p/my", "cold", "store.tpc'", "--report", "haccp"} << window
        << "haccp '/p/my cold store.tpc'";
    QTest::newRow("path words that look like the option")
        << QStringList{"'/p/a", "--report", "b.tpc'"} << window << "daily '/p/a --report b.tpc'";
    QTest::newRow("all options")
        << QStringList{"--report",  "haccp",    "--start",    "2026-03-25",
                       "--period",  "week",     "--channels", "A_channel1, B_b_channel2",
                       "--subject", "S",        "--author",   "",
                       "--pdf",     "/o/r.pdf", "/p/x.tpc"}
        << batch << "haccp 2026-03-25 week A_channel1+B_b_channel2 S: pdf /o/r.pdf /p/x.tpc";
    QTest::newRow("project first, html")
        << QStringList{"--report",   "monthly", "/p/x y.tpc", "--start",
                       "2026-03-09", "--html",  "/o/r"}
        << batch << "monthly 2026-03-09 day  - html /o/r /p/x y.tpc";
    QTest::newRow("tables alone")
        << QStringList{"--report", "haccp", "--start", "2026-03-25", "--csv", "/o/t", "/p/x.tpc"}
        << batch << "haccp 2026-03-25 day  - html  csv /o/t /p/x.tpc";
    QTest::newRow("help") << QStringList{"--help"} << int(ReportCommandLine::Help) << "";
    const int audit = ReportCommandLine::Audit;
    QTest::newRow("audit, CSV") << QStringList{"--report", "audit",      "--start",  "2026-03-01",
                                               "--end",    "2026-03-31", "--csv",    "/o/a.csv",
                                               "/p/x.tpc"}
                                << audit << "audit 2026-03-01 2026-03-31 csv /o/a.csv /p/x.tpc";
    QTest::newRow("audit, one day, PDF")
        << QStringList{"--report", "audit",      "/p/x.tpc", "--end", "2026-03-29",
                       "--start",  "2026-03-29", "--pdf",    "/o/a"}
        << audit << "audit 2026-03-29 2026-03-29 pdf /o/a /p/x.tpc";
    QTest::newRow("audit without a start")
        << QStringList{"--report", "audit", "--end", "2026-03-29", "--csv", "a.csv", "p.tpc"}
        << invalid << "--start must be";
    QTest::newRow("audit with a period")
        << QStringList{"--report", "audit", "--start", "2026-03-01", "--end", "2026-03-02",
                       "--period", "week",  "--csv",   "a.csv",      "p.tpc"}
        << invalid << "--period is not for the audit report";
    const QStringList base{"--report", "weekly", "--start", "2026-03-01",
                           "--pdf",    "r.pdf",  "p.tpc"};
    auto with = [&base](const QStringList& extra) { return QStringList(extra) << base; };
    QTest::newRow("unknown kind") << QStringList{"--report", "yearly", "--start", "2026-03-01",
                                                 "--pdf",    "r.pdf",  "p.tpc"}
                                  << invalid << "--report must be";
    QTest::newRow("short date") << QStringList{"--report", "daily", "--start", "2026-3-1",
                                               "--pdf",    "r.pdf", "p.tpc"}
                                << invalid << "--start must be";
    QTest::newRow("pdf and html") << with({"--html", "r.html"}) << invalid << "give one of";
    QTest::newRow("pdf, html and csv")
        << with({"--html", "r.html", "--csv", "r.csv"}) << invalid << "give one of";
    QTest::newRow("no output") << QStringList{"--report", "daily", "--start", "2026-03-01", "p.tpc"}
                               << invalid << "give one of";
    QTest::newRow("two projects") << (QStringList(base) << "q.tpc") << invalid
                                  << "exactly one project";
    QTest::newRow("period of a weekly report")
        << with({"--period", "day"}) << invalid << "--period is for the haccp";
    QTest::newRow("five channels") << with({"--channels", "a_channel1,b_channel1,c_channel1,"
                                                          "d_channel1,e_channel1"})
                                   << invalid << "at most four";
    QTest::newRow("empty channel")
        << with({"--channels", "a_channel1,,b_channel1"}) << invalid << "empty channel";
    QTest::newRow("unknown option") << with({"--landscape"}) << invalid << "Unknown option";
    QTest::newRow("start twice") << with({"--start", "2026-03-02"}) << invalid << "more than once";
    const int verify = ReportCommandLine::Verify;
    QTest::newRow("verify") << QStringList{"--verify", "/p/x y.tpc"} << verify << "/p/x y.tpc ";
    QTest::newRow("verify against heads")
        << QStringList{"--verify", "/p/x.tpc", "--heads", "/h/heads.txt"} << verify
        << "/p/x.tpc /h/heads.txt";
    QTest::newRow("verify, heads first")
        << QStringList{"--verify", "--heads", "h", "/p/x.tpc"} << verify << "/p/x.tpc h";
    QTest::newRow("verify without a project")
        << QStringList{"--verify", "--heads", "h"} << invalid << "exactly one project";
    QTest::newRow("verify two projects")
        << QStringList{"--verify", "a.tpc", "b.tpc"} << invalid << "exactly one project";
    QTest::newRow("verify, heads without a file")
        << QStringList{"--verify", "a.tpc", "--heads"} << invalid << "--heads FILE only";
    QTest::newRow("verify with a report option")
        << QStringList{"--verify", "a.tpc", "--pdf", "r.pdf"} << invalid << "--heads FILE only";
    const int verifyReport = ReportCommandLine::VerifyReport;
    QTest::newRow("verify a report")
        << QStringList{"--verify-report", "/r/a b.pdf", "/p/x.tpc"} << verifyReport
        << "/r/a b.pdf /p/x.tpc";
    QTest::newRow("verify a report without a project")
        << QStringList{"--verify-report", "r.pdf"} << invalid << "one report file and one project";
    QTest::newRow("verify a report, three files")
        << QStringList{"--verify-report", "r.pdf", "a.tpc", "b.tpc"} << invalid
        << "one report file and one project";
    QTest::newRow("verify a report with heads")
        << QStringList{"--verify-report", "r.pdf", "a.tpc", "--heads", "h"} << invalid
        << "a report file and a project only";
}

// Catches the recorder's command line taken for a report without a window (or its kind taken
// for path words), and a report without a window started from arguments it cannot honour.
void TestReportStartup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, mode);
    QFETCH(QString, outcome);
    const ReportCommandLine line =
        ReportCommandLine::parse(QStringList{QStringLiteral("Tallyforge")} + arguments);
    QCOMPARE(int(line.mode), mode);
    QString got;
    if (mode == ReportCommandLine::Window) {
        QCOMPARE(line.windowArguments.first(), QStringLiteral("Tallyforge"));
        got = ReportPeriod::kindName(line.kind) + QLatin1Char(' ') +
              line.windowArguments.mid(1).join(QLatin1Char(' '));
    } else if (mode == ReportCommandLine::Batch) {
        got = ReportPeriod::kindName(line.kind) + QLatin1Char(' ') +
              line.start.toString(Qt::ISODate) + QLatin1Char(' ') +
              ReportPeriod::spanName(line.span) + QLatin1Char(' ') +
              line.channels.join(QLatin1Char('+')) + QLatin1Char(' ') +
              (line.hasSubject ? line.subject : QStringLiteral("-")) +
              (line.hasAuthor ? QStringLiteral(":") + line.author : QString()) +
              (line.pdfFile.isEmpty() ? QStringLiteral(" html ") + line.htmlFile
                                      : QStringLiteral(" pdf ") + line.pdfFile) +
              (line.csvFile.isEmpty() ? QString() : QStringLiteral(" csv ") + line.csvFile) +
              QLatin1Char(' ') + line.projectPath;
    } else if (mode == ReportCommandLine::Audit) {
        got = QStringLiteral("audit ") + line.start.toString(Qt::ISODate) + QLatin1Char(' ') +
              line.end.toString(Qt::ISODate) +
              (line.csvFile.isEmpty() ? QStringLiteral(" pdf ") + line.pdfFile
                                      : QStringLiteral(" csv ") + line.csvFile) +
              QLatin1Char(' ') + line.projectPath;
    } else if (mode == ReportCommandLine::Verify) {
        got = line.projectPath + QLatin1Char(' ') + line.headsFile;
    } else if (mode == ReportCommandLine::VerifyReport) {
        got = line.reportFile + QLatin1Char(' ') + line.projectPath;
    } else if (mode == ReportCommandLine::Invalid) {
        QVERIFY2(line.errorText.contains(outcome), qPrintable(line.errorText));
        return;
    }
    QCOMPARE(got, outcome);
}

void TestReportStartup::withoutWindow_data()
{
    QTest::addColumn<QStringList>("arguments"); // %P the project, %O the output folder
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");   // on stderr; none on success
    QTest::addColumn<QString>("output");    // the file written
    QTest::addColumn<QStringList>("holds"); // texts the file holds
    QTest::newRow("weekly PDF") << QStringList{"--report", "weekly",   "--start", "2026-01-08",
                                               "--pdf",    "%O/w.pdf", "%P"}
                                << 0 << QString() << "%O/w.pdf" << QStringList{"%PDF"};
    // The recorded range in the project file ends on the 8th: it does not bound the period.
    QTest::newRow("daily HTML") << QStringList{"--report", "daily",     "--start", "2026-01-09",
                                               "--html",   "%O/d.html", "%P"}
                                << 0 << QString() << "%O/d.html"
                                << QStringList{"Daily Report", "2026-01-09 23:00-23:59",
                                               "2026-01-09 23:59:59"};
    QTest::newRow("HACCP HTML, chosen channels, no suffix")
        << QStringList{"--report",   "haccp",
                       "--start",    "2026-01-09",
                       "--channels", "5678_channel1,1234_channel2",
                       "--subject",  "<Cold> & dry",
                       "--html",     "%O/h",
                       "%P"}
        << 0 << QString() << "%O/h.htm"
        << QStringList{"HACCP Report",         "&lt;Cold&gt; &amp; dry",
                       "Critical Limits",      "Temperature [Room 5678]",
                       "Humidity [Room 1234]", "Corrective action"};
    QTest::newRow("no samples in the period")
        << QStringList{"--report", "monthly", "--start", "2026-02-01", "--pdf", "%O/m.pdf", "%P"}
        << 1 << "Not Enough Data." << QString() << QStringList{};
    QTest::newRow("no project") << QStringList{"--report", "daily",    "--start",    "2026-01-09",
                                               "--pdf",    "%O/m.pdf", "%O/none.tpc"}
                                << 1 << "Project File" << QString() << QStringList{};
    QTest::newRow("no database") << QStringList{"--report", "daily",    "--start", "2026-01-09",
                                                "--pdf",    "%O/m.pdf", "%P"}
                                 << 1 << "DB File" << QString() << QStringList{};
    QTest::newRow("unknown channel")
        << QStringList{"--report",      "daily", "--start",  "2026-01-09", "--channels",
                       "1234_channel3", "--pdf", "%O/m.pdf", "%P"}
        << 2 << "Unknown channel: 1234_channel3" << QString() << QStringList{};
    QTest::newRow("channel twice")
        << QStringList{"--report",   "daily",      "--start",
                       "2026-01-09", "--channels", "1234_channel1,5678_channel1,1234_channel1",
                       "--pdf",      "%O/m.pdf",   "%P"}
        << 2 << "Unknown channel: 1234_channel1" << QString() << QStringList{};
    QTest::newRow("bad arguments")
        << QStringList{"--report", "yearly", "--start", "2026-01-09", "--pdf", "%O/m.pdf", "%P"}
        << 2 << "Usage: Tallyforge" << QString() << QStringList{};
    QTest::newRow("file cannot be written")
        << QStringList{"--report",   "daily", "--start",
                       "2026-01-09", "--pdf", "%O/no such folder/m.pdf",
                       "%P"}
        << 1 << "Unable to open the file." << QString() << QStringList{};
    QTest::newRow("verify a file no approval records")
        << QStringList{"--verify-report", "%P", "%P"} << 1 << QString() << QString()
        << QStringList{};
    QTest::newRow("verify a report that is not there")
        << QStringList{"--verify-report", "%O/none.pdf", "%P"} << 2 << "cannot read the report"
        << QString() << QStringList{};
}

// Catches a report without a window that needs a display, prints on success (a cron job mails
// it), reports a failure as success, or touches the project file or the database, while the
// recorder writes to the database.
void TestReportStartup::withoutWindow()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QString, output);
    QFETCH(QStringList, holds);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString project = writeProject(
        dir.path(), QStringLiteral("Cold store.tpc"),
        nestedDeviceList({QStringLiteral("1234"), QStringLiteral("5678")}, {{2, 8, 0, 0}}), 60000,
        QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-08 13:00:00"));
    const QString database = dir.filePath(QStringLiteral("Cold store.dat"));
    QList<Sample> samples;
    const qint64 day = localSecs(QStringLiteral("2026-01-09 00:00:00"));
    for (int i = 0; i < 24 * 60; ++i) {
        samples.append({QStringLiteral("1234"), 5.0 + (i % 90) / 20.0, 50.0 + i % 7, day + i * 60});
        samples.append({QStringLiteral("5678"), 12.0, 40.0, day + i * 60 + 3});
    }
    QVERIFY(writeDatabase(database, samples, true));
    if (QTest::currentDataTag() == QLatin1String("no database"))
        QVERIFY(QFile::remove(database));
    // The recorder keeps writing meanwhile.
    {
        QSqlDatabase writer =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("recorder"));
        writer.setDatabaseName(database);
        QVERIFY(!QFile::exists(database) || writer.open());
        if (writer.isOpen())
            QVERIFY(QSqlQuery(writer).exec(
                QStringLiteral("insert into quorbinal (serialno, channel1, channel2, pointDate) "
                               "values ('1234', 6, 50, %1)")
                    .arg(day + 86400 + 60)));
        QFile file(project);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray projectBytes = file.readAll();
        file.close();

        QProcess tallyforge;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
            environment.remove(QLatin1String(name));
        tallyforge.setProcessEnvironment(environment);
        for (QString& argument : arguments)
            argument.replace(QStringLiteral("%P"), project)
                .replace(QStringLiteral("%O"), dir.path());
        tallyforge.start(QStringLiteral(TALLYFORGE_PROGRAM), arguments);
        QVERIFY(tallyforge.waitForFinished(120000));
        const QString errors = QString::fromLocal8Bit(tallyforge.readAllStandardError());
        QCOMPARE(tallyforge.exitStatus(), QProcess::NormalExit);
        QVERIFY2(tallyforge.exitCode() == status, qPrintable(errors));
        if (message.isEmpty())
            QCOMPARE(errors, QString());
        else
            QVERIFY2(errors.contains(message), qPrintable(errors));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == projectBytes);
        if (writer.isOpen()) {
            QSqlQuery count(writer);
            QVERIFY(count.exec(QStringLiteral("select count(*) from quorbinal")) && count.next());
            QCOMPARE(count.value(0).toInt(), samples.size() + 1);
        }
        writer.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("recorder"));

    const QStringList written =
        QDir(dir.path())
            .entryList({QStringLiteral("*.pdf"), QStringLiteral("*.htm*")}, QDir::Files);
    QCOMPARE(written.size(), output.isEmpty() ? 0 : 1);
    if (output.isEmpty())
        return;
    QFile file(QString(output).replace(QStringLiteral("%O"), dir.path()));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(written.join(' ')));
    const QString content = QString::fromUtf8(file.readAll());
    for (const QString& text : holds)
        QVERIFY2(content.contains(text), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestReportStartup)
#include "tst_reportstartup.moc"
