#include "configureddevice.h"
#include "reportfixture.h"
#include "reportstartup.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace ReportFixture;

class TestReportStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rejoin_data();
    void rejoin();
    void checksInOrder_data();
    void checksInOrder();
    void splitPathWithApostropheStarts();
    void deviceForms_data();
    void deviceForms();
};

void TestReportStartup::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestReportStartup::rejoin_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("path");
    QTest::newRow("one quoted argument") << QStringList{QStringLiteral("'/data/p.tpc'")}
                                         << QStringLiteral("/data/p.tpc");
    QTest::newRow("unquoted") << QStringList{QStringLiteral("/data/p.tpc")}
                              << QStringLiteral("/data/p.tpc");
    QTest::newRow("split at blanks")
        << QStringList{QStringLiteral("'/data/my"), QStringLiteral("cold"),
                       QStringLiteral("rooms/p.tpc'")}
        << QStringLiteral("/data/my cold rooms/p.tpc");
    QTest::newRow("two blanks give an empty argument")
        << QStringList{QStringLiteral("'/data/a"), QString(), QStringLiteral("b.tpc'")}
        << QStringLiteral("/data/a  b.tpc");
    QTest::newRow("backslashes") << QStringList{QStringLiteral("'C:\\Users\\lab\\p.tpc'")}
                                 << QStringLiteral("C:/Users/lab/p.tpc");
    QTest::newRow("apostrophe in a folder")
        << QStringList{QStringLiteral("'/home/o'brien/p.tpc'")}
        << QStringLiteral("/home/o'brien/p.tpc");
    QTest::newRow("apostrophe and blanks")
        << QStringList{QStringLiteral("'/data/Lab's"), QStringLiteral("freezer/it's.tpc'")}
        << QStringLiteral("/data/Lab's freezer/it's.tpc");
    QTest::newRow("only quotes") << QStringList{QStringLiteral("''")} << QString();
    QTest::newRow("a lone quote") << QStringList{QStringLiteral("'")} << QString();
}

// Catches a rejoin that drops blanks, keeps backslashes or strips apostrophes inside the path.
void TestReportStartup::rejoin()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, path);
    QCOMPARE(ReportStartup::projectPathFromArguments(arguments), path);
}

void TestReportStartup::checksInOrder_data()
{
    QTest::addColumn<bool>("withProject");
    QTest::addColumn<bool>("withDatabase");
    QTest::addColumn<QByteArray>("deviceList");
    QTest::addColumn<QString>("message"); // %1 = project path, %2 = database path

    const QByteArray good = nestedDeviceList({QStringLiteral("1234")});
    QTest::newRow("no project file") << false << false << good
                                     << QStringLiteral("Project File \"%1\" is not exists!");
    QTest::newRow("no project file, no device list")
        << false << false << QByteArray() << QStringLiteral("Project File \"%1\" is not exists!");
    QTest::newRow("no database") << true << false << good
                                 << QStringLiteral("DB File \"%2\" is not exists!");
    QTest::newRow("no database, broken device list")
        << true << false << QByteArray("[") << QStringLiteral("DB File \"%2\" is not exists!");
    QTest::newRow("device list missing")
        << true << true << QByteArray() << QStringLiteral("Device Information is crashed!");
    QTest::newRow("device list is an array")
        << true << true << QByteArray("[{\"devices\":[]}]")
        << QStringLiteral("Device Information is crashed!");
    QTest::newRow("device list truncated")
        << true << true << good.left(good.size() / 2)
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
        writeProject(dir.path(), QStringLiteral("cold room.tpc"), deviceList, 60000,
                     QString(), QString());
    if (withDatabase)
        QVERIFY(writeDatabase(databasePath, {}));

    const QStringList arguments{QStringLiteral("Tallyforge"), QStringLiteral("'") + dir.path() +
                                                                  QStringLiteral("/cold"),
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
        QCOMPARE(errorText, QString(message).replace(QStringLiteral("%1"), projectPath)
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

    QTest::newRow("nested")
        << QByteArray(R"({"devices":[{"DeviceInterface":"10.0.0.5","DevicePort":"5020",
            "DeviceModel":"TQ100","nodes":[
            {"StartAddress":"0","DeviceNumber":"A1","DeviceName":"Freezer","ch1_unit":"2",
             "ch2_unit":"4","ch2_custom":"ppm"},
            {"DeviceNumber":"A2","DeviceName":"Fridge","ch1_unit":"9","ch2_unit":"x"}]}]})")
        << QList<Expected>{{"A1", "Freezer", "10.0.0.5", 5020, 2, 2, 4, "ppm"},
                           {"A2", "Fridge", "10.0.0.5", 5020, 2, 0, 0, ""}};
    QTest::newRow("flat")
        << QByteArray(R"({"devices":[
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
    QVERIFY2(ReportStartup::check({QStringLiteral("Tallyforge"), dir.filePath(QStringLiteral("p.tpc"))},
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

QTEST_GUILESS_MAIN(TestReportStartup)
#include "tst_reportstartup.moc"
