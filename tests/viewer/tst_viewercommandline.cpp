#include "reportfixture.h"
#include "viewercommandline.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <tuple>

using namespace ReportFixture;

class TestViewerCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void checks_data();
    void checks();
    void helpWithoutDisplay_data();
    void helpWithoutDisplay();
};

void TestViewerCommandLine::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestViewerCommandLine::checks_data()
{
    QTest::addColumn<QStringList>("arguments"); // %D: the folder, whose name has blanks
    QTest::addColumn<bool>("withDatabase");
    QTest::addColumn<QByteArray>("deviceList");
    QTest::addColumn<QString>("message"); // %1 project, %2 database; empty: accepted
    // Expected --from and --to of an export, as local time, or a day alone: the first (from) or
    // last (to) second that day's clocks show. Empty: no export.
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");

    const QByteArray good = nestedDeviceList({QStringLiteral("7"), QStringLiteral("8")});
    QTest::newRow("split by the recorder's command text, quotes round it")
        << QStringList{QStringLiteral("'%D/my"), QStringLiteral("rooms/p.tpc'")} << true << good
        << QString() << QString() << QString();
    QTest::newRow("one quoted argument") << QStringList{QStringLiteral("'%D/my rooms/p.tpc'")}
                                         << true << good << QString() << QString() << QString();
    QTest::newRow("no argument") << QStringList{} << true << good
                                 << QStringLiteral("Please give the project file: Trendscope "
                                                   "PROJECT.tpc")
                                 << QString() << QString();
    QTest::newRow("project missing")
        << QStringList{QStringLiteral("%D/my rooms/q.tpc")} << true << good
        << QStringLiteral("Project file \"%1\" does not exist.") << QString() << QString();
    QTest::newRow("database missing, before the device list")
        << QStringList{QStringLiteral("%D/my rooms/p.tpc")} << false << QByteArray("[")
        << QStringLiteral("Database file \"%2\" does not exist.") << QString() << QString();
    QTest::newRow("device list broken")
        << QStringList{QStringLiteral("%D/my rooms/p.tpc")} << true << QByteArray("[")
        << QStringLiteral("The device list of the project file is damaged.") << QString()
        << QString();
    QTest::newRow("export options without --export-csv")
        << QStringList{QStringLiteral("--channels"), QStringLiteral("7_channel1"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QStringLiteral("--from, --to and --channels go with --export-csv FILE.")
        << QString() << QString();
    QTest::newRow("option at the end without its value")
        << QStringList{QStringLiteral("%D/my rooms/p.tpc"), QStringLiteral("--export-csv")} << true
        << good << QStringLiteral("--export-csv needs a value.") << QString() << QString();
    const QString exportTo = QStringLiteral("%D/out.csv");
    QTest::newRow("export from a time to a day")
        << QStringList{QStringLiteral("--export-csv"),
                       exportTo,
                       QStringLiteral("--from"),
                       QStringLiteral("2026-11-01 06:30:00"),
                       QStringLiteral("--to"),
                       QStringLiteral("2026-11-03"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QString() << QStringLiteral("2026-11-01 06:30:00")
        << QStringLiteral("2026-11-03");
    QTest::newRow("a day whose midnight a clock change skips in some zones")
        << QStringList{QStringLiteral("--export-csv"),
                       exportTo,
                       QStringLiteral("--from"),
                       QStringLiteral("2026-09-06"),
                       QStringLiteral("--to"),
                       QStringLiteral("2026-09-06"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QString() << QStringLiteral("2026-09-06")
        << QStringLiteral("2026-09-06");
    QTest::newRow("a day of 25 hours where summer time ends")
        << QStringList{QStringLiteral("--export-csv"),
                       exportTo,
                       QStringLiteral("--from"),
                       QStringLiteral("2026-10-25"),
                       QStringLiteral("--to"),
                       QStringLiteral("2026-10-25"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QString() << QStringLiteral("2026-10-25")
        << QStringLiteral("2026-10-25");
    QTest::newRow("neither a time nor a day")
        << QStringList{QStringLiteral("--export-csv"),
                       exportTo,
                       QStringLiteral("--from"),
                       QStringLiteral("2026-13-01"),
                       QStringLiteral("--to"),
                       QStringLiteral("2026-12-01"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good
        << QStringLiteral("--from needs a local time as \"yyyy-MM-dd hh:mm:ss\" or a day as "
                          "\"yyyy-MM-dd\", not \"2026-13-01\".")
        << QString() << QString();
}

// Catches a start-up that checks in another order than the report generator's, strips quotes
// inside the path, or lets export options through without an export.
void TestViewerCommandLine::checks()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, withDatabase);
    QFETCH(QByteArray, deviceList);
    QFETCH(QString, message);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("my rooms"));
    QVERIFY(QDir().mkpath(folder));
    writeProject(folder, QStringLiteral("p.tpc"), deviceList, 1000, QString(), QString());
    if (withDatabase)
        QVERIFY(writeDatabase(folder + QStringLiteral("/p.dat"), {}));
    for (QString& a : arguments)
        a.replace(QStringLiteral("%D"), dir.path());
    ViewerCommandLine::Options options;
    QString error;
    const bool ok = ViewerCommandLine::parse(arguments, &options, &error);
    if (message.isEmpty()) {
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(options.projectPath, folder + QStringLiteral("/p.tpc"));
        QCOMPARE(options.devices.size(), 2);
        QCOMPARE(options.exportCsv, !from.isEmpty());
        // A day alone: the second is that day's, the one before (after) it the day before's
        // (after's).
        auto day = [](qint64 seconds) {
            return QDateTime::fromSecsSinceEpoch(seconds).date().toString(Qt::ISODate);
        };
        auto text = [](qint64 seconds) {
            return QDateTime::fromSecsSinceEpoch(seconds).toString(
                QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        };
        for (const auto& [expected, seconds, step] :
             {std::make_tuple(from, options.from, -1), std::make_tuple(to, options.to, 1)}) {
            if (expected.isEmpty())
                continue;
            if (expected.size() > 10) {
                QCOMPARE(text(seconds), expected);
                continue;
            }
            const QDate date = QDate::fromString(expected, Qt::ISODate);
            QCOMPARE(day(seconds), expected);
            QCOMPARE(day(seconds + step), date.addDays(step).toString(Qt::ISODate));
        }
    } else {
        QVERIFY(!ok);
        QCOMPARE(error, QString(message)
                            .replace(QStringLiteral("%1"), folder + QStringLiteral("/q.tpc"))
                            .replace(QStringLiteral("%2"), folder + QStringLiteral("/p.dat")));
    }
}

void TestViewerCommandLine::helpWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")};
    QTest::newRow("-h") << QStringList{QStringLiteral("-h")};
    QTest::newRow("--help among export options") << QStringList{
        QStringLiteral("--export-csv"), QStringLiteral("out.csv"), QStringLiteral("--help")};
}

// Catches a --help that needs a display (and ends in "could not connect to display"), prints
// to the wrong stream or ends with another status than 0.
void TestViewerCommandLine::helpWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TRENDSCOPE_PATH), arguments);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(program.readAllStandardOutput()), ViewerCommandLine::usage());
    QCOMPARE(program.readAllStandardError(), QByteArray());
}

QTEST_GUILESS_MAIN(TestViewerCommandLine)
#include "tst_viewercommandline.moc"
