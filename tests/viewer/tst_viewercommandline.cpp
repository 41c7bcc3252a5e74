#include "reportfixture.h"
#include "viewercommandline.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace ReportFixture;

class TestViewerCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void checks_data();
    void checks();
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

    const QByteArray good = nestedDeviceList({QStringLiteral("7"), QStringLiteral("8")});
    QTest::newRow("split by the recorder's command text, quotes round it")
        << QStringList{QStringLiteral("'%D/my"), QStringLiteral("rooms/p.tpc'")} << true << good
        << QString();
    QTest::newRow("one quoted argument")
        << QStringList{QStringLiteral("'%D/my rooms/p.tpc'")} << true << good << QString();
    QTest::newRow("no argument") << QStringList{} << true << good
                                 << QStringLiteral("Please give the project file: Trendscope "
                                                   "PROJECT.tpc");
    QTest::newRow("project missing")
        << QStringList{QStringLiteral("%D/my rooms/q.tpc")} << true << good
        << QStringLiteral("Project file \"%1\" does not exist.");
    QTest::newRow("database missing, before the device list")
        << QStringList{QStringLiteral("%D/my rooms/p.tpc")} << false << QByteArray("[")
        << QStringLiteral("Database file \"%2\" does not exist.");
    QTest::newRow("device list broken")
        << QStringList{QStringLiteral("%D/my rooms/p.tpc")} << true << QByteArray("[")
        << QStringLiteral("The device list of the project file is damaged.");
    QTest::newRow("export options without --export-csv")
        << QStringList{QStringLiteral("--channels"), QStringLiteral("7_channel1"),
                       QStringLiteral("%D/my rooms/p.tpc")}
        << true << good << QStringLiteral("--from, --to and --channels go with --export-csv FILE.");
    QTest::newRow("option at the end without its value")
        << QStringList{QStringLiteral("%D/my rooms/p.tpc"), QStringLiteral("--export-csv")} << true
        << good << QStringLiteral("--export-csv needs a value.");
}

// Catches a start-up that checks in another order than the report generator's, strips quotes
// inside the path, or lets export options through without an export.
void TestViewerCommandLine::checks()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, withDatabase);
    QFETCH(QByteArray, deviceList);
    QFETCH(QString, message);
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
        QVERIFY(!options.exportCsv);
    } else {
        QVERIFY(!ok);
        QCOMPARE(error, QString(message)
                            .replace(QStringLiteral("%1"), folder + QStringLiteral("/q.tpc"))
                            .replace(QStringLiteral("%2"), folder + QStringLiteral("/p.dat")));
    }
}

QTEST_GUILESS_MAIN(TestViewerCommandLine)
#include "tst_viewercommandline.moc"
