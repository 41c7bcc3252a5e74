#include "datainterval.h"
#include "projectfile.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

NodeConfig node(const QString& number, int start)
{
    NodeConfig n;
    n.deviceNumber = number;
    n.deviceName = QStringLiteral("Cold room ") + number;
    n.ch1Name = QStringLiteral("Temperature");
    n.ch2Name = QStringLiteral("Humidity");
    n.startAddress = start;
    n.ch1Unit = TemperatureC;
    n.ch2Unit = Humidity;
    n.ch1Min = -20;
    n.ch1Max = 8;
    n.ch2Min = 30;
    n.ch2Max = 70;
    return n;
}

GatewayConfig gateway(const QString& ip, quint16 port, const QString& model)
{
    GatewayConfig g;
    g.ipAddress = ip;
    g.port = port;
    g.deviceModel = model;
    return g;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void writeDeviceList(const QString& path, const QByteArray& document)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(QStringLiteral("DeviceList"), document);
}

} // namespace

class TestProjectFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void exactFileText();
    void roundTripThroughBothReaders();
    void projectAndDatabaseNames_data();
    void projectAndDatabaseNames();
    void backupHoldsPreviousList();
    void emptyGatewayList();
    void nodeWithoutStartAddress();
    void scalarsOtherThanStrings();
    void minMaxStoredWithTwoDecimals();
    void renamedProjectKeepsStoredNames();
    void badDeviceList_data();
    void badDeviceList();
    void reportFlatForm();
    void largeProject();
    void intervalNames_data();
    void intervalNames();
    void databaseBesideProject_data();
    void databaseBesideProject();
    void reportKeys();
    void unitNames_data();
    void unitNames();
    void alarmRulesBesideDeviceList();
    void readAlarmRules_data();
    void readAlarmRules();
    void handWrittenFile_data();
    void handWrittenFile();
    void reportMailLimit_data();
    void reportMailLimit();

private:
    QTemporaryDir dir;
    QString path;
};

void TestProjectFile::init()
{
    QVERIFY(dir.isValid());
    path = dir.filePath(QStringLiteral("plant.tpc"));
    QFile::remove(path);
    QFile(path).open(QIODevice::WriteOnly);
}

// Catches any drift in the stored format that the other program or older files rely on.
void TestProjectFile::exactFileText()
{
    ProjectFile file(path);
    file.create(10000);
    GatewayConfig g = gateway(QStringLiteral("10.0.0.7"), 502, QStringLiteral("TQ100"));
    NodeConfig n = node(QStringLiteral("N1"), 0);
    n.deviceName = QStringLiteral("Room");
    n.ch1Custom = QStringLiteral("ppm");
    g.nodes << n;
    file.saveDeviceList({g});

    const QByteArray expected = "[General]\n"
                                "Backup=@ByteArray()\n"
                                "DataInterval=10000\n"
                                "DeviceList=\"@ByteArray({\\n    \\\"devices\\\": [\\n        {\\n"
                                "            \\\"DeviceInterface\\\": \\\"10.0.0.7\\\",\\n"
                                "            \\\"DeviceModel\\\": \\\"TQ100\\\",\\n"
                                "            \\\"DevicePort\\\": \\\"502\\\",\\n"
                                "            \\\"nodes\\\": [\\n                {\\n"
                                "                    \\\"Ch1Name\\\": \\\"Temperature\\\",\\n"
                                "                    \\\"Ch2Name\\\": \\\"Humidity\\\",\\n"
                                "                    \\\"DeviceName\\\": \\\"Room\\\",\\n"
                                "                    \\\"DeviceNumber\\\": \\\"N1\\\",\\n"
                                "                    \\\"StartAddress\\\": \\\"0\\\",\\n"
                                "                    \\\"ch1_custom\\\": \\\"ppm\\\",\\n"
                                "                    \\\"ch1_max\\\": \\\"8.00\\\",\\n"
                                "                    \\\"ch1_min\\\": \\\"-20.00\\\",\\n"
                                "                    \\\"ch1_unit\\\": \\\"1\\\",\\n"
                                "                    \\\"ch2_custom\\\": \\\"\\\",\\n"
                                "                    \\\"ch2_max\\\": \\\"70.00\\\",\\n"
                                "                    \\\"ch2_min\\\": \\\"30.00\\\",\\n"
                                "                    \\\"ch2_unit\\\": \\\"3\\\"\\n"
                                "                }\\n            ]\\n        }\\n    ]\\n}\\n)\"\n"
                                "databaseName=plant.dat\n"
                                "projectName=plant\n";
    QCOMPARE(readFile(path), expected);
}

// Catches a reader that loses or alters what the writer stored.
void TestProjectFile::roundTripThroughBothReaders()
{
    ProjectFile file(path);
    file.create(5000);
    GatewayConfig a = gateway(QStringLiteral("192.168.1.10"), 502, QStringLiteral("TQ100"));
    a.nodes << node(QStringLiteral("A-1"), 0) << node(QStringLiteral("A'2"), 4);
    a.nodes[1].ch2Unit = Custom;
    a.nodes[1].ch2Custom = QStringLiteral("µg/m³");
    GatewayConfig b = gateway(QStringLiteral("192.168.1.11"), 1502, QStringLiteral("TQ700"));
    b.nodes << node(QStringLiteral("B-1"), 100);
    file.saveDeviceList({a, b});

    ProjectData project;
    QVERIFY(file.load(&project));
    QCOMPARE(project.projectName, QStringLiteral("plant"));
    QCOMPARE(project.dataInterval, 5000);
    QCOMPARE(project.gateways.size(), 2);
    const QList<GatewayConfig> written = {a, b};
    for (int g = 0; g < 2; ++g) {
        const GatewayConfig& read = project.gateways[g];
        QCOMPARE(read.ipAddress, written[g].ipAddress);
        QCOMPARE(read.port, written[g].port);
        QCOMPARE(read.deviceModel, written[g].deviceModel);
        QCOMPARE(read.nodes.size(), written[g].nodes.size());
        for (int i = 0; i < read.nodes.size(); ++i) {
            const NodeConfig& r = read.nodes[i];
            const NodeConfig& w = written[g].nodes[i];
            QCOMPARE(r.deviceNumber, w.deviceNumber);
            QCOMPARE(r.deviceName, w.deviceName);
            QCOMPARE(r.ch1Name, w.ch1Name);
            QCOMPARE(r.ch2Name, w.ch2Name);
            QCOMPARE(r.startAddress, w.startAddress);
            QCOMPARE(r.ch1Unit, w.ch1Unit);
            QCOMPARE(r.ch2Unit, w.ch2Unit);
            QCOMPARE(r.ch1Min, w.ch1Min);
            QCOMPARE(r.ch1Max, w.ch1Max);
            QCOMPARE(r.ch2Min, w.ch2Min);
            QCOMPARE(r.ch2Max, w.ch2Max);
            QCOMPARE(r.ch1Custom, w.ch1Custom);
            QCOMPARE(r.ch2Custom, w.ch2Custom);
        }
    }

    QList<ReportDeviceRecord> records;
    QVERIFY(file.loadReportDevices(&records));
    QCOMPARE(records.size(), 3);
    QCOMPARE(records[1].deviceNumber, QStringLiteral("A'2"));
    QCOMPARE(records[1].ipAddress, QStringLiteral("192.168.1.10"));
    QCOMPARE(records[1].port, quint16(502));
    QCOMPARE(records[1].ch2Unit, Custom);
    QCOMPARE(records[1].ch2Custom, QStringLiteral("µg/m³"));
    QCOMPARE(records[1].ch1Min, -20.0f);
    QCOMPARE(records[1].deviceType, 2);
    QCOMPARE(records[2].ipAddress, QStringLiteral("192.168.1.11"));
    QCOMPARE(records[2].port, quint16(1502));
}

void TestProjectFile::projectAndDatabaseNames_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("projectName");
    QTest::addColumn<QString>("databaseName");
    QTest::newRow("plain") << "plant.tpc"
                           << "plant"
                           << "plant.dat";
    QTest::newRow("two dots") << "a.b.tpc"
                              << "a"
                              << "a.dat";
    QTest::newRow("blanks") << "my  plant.tpc"
                            << "my  plant"
                            << "my  plant.dat";
}

// Catches a project name taken up to the last dot instead of the first.
void TestProjectFile::projectAndDatabaseNames()
{
    QFETCH(QString, fileName);
    QFETCH(QString, projectName);
    QFETCH(QString, databaseName);
    const QString file = dir.filePath(fileName);
    ProjectFile(file).create(10000);
    QCOMPARE(ProjectFile(file).value(QStringLiteral("projectName")), projectName);
    QCOMPARE(ProjectFile(file).value(QStringLiteral("databaseName")), databaseName);
    QCOMPARE(ProjectFile::databasePath(file), dir.path() + QLatin1Char('/') + databaseName);
}

// Catches a backup that holds the new list, or is missing on the first save.
void TestProjectFile::backupHoldsPreviousList()
{
    ProjectFile file(path);
    file.create(10000);
    GatewayConfig g = gateway(QStringLiteral("10.0.0.1"), 502, QStringLiteral("TQ100"));
    file.saveDeviceList({g});
    QSettings first(path, QSettings::IniFormat);
    QCOMPARE(first.value(QStringLiteral("Backup")).toByteArray(), QByteArray());
    const QByteArray firstList = first.value(QStringLiteral("DeviceList")).toByteArray();
    QVERIFY(!firstList.isEmpty());

    g.ipAddress = QStringLiteral("10.0.0.2");
    file.saveDeviceList({g});
    QSettings second(path, QSettings::IniFormat);
    QCOMPARE(second.value(QStringLiteral("Backup")).toByteArray(), firstList);
    QVERIFY(second.value(QStringLiteral("DeviceList")).toByteArray() != firstList);
}

// Catches an empty project reported as broken.
void TestProjectFile::emptyGatewayList()
{
    ProjectFile file(path);
    file.create(10000);
    file.saveDeviceList({});
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("DeviceList")).toByteArray(),
             QByteArray("{\n    \"devices\": [\n    ]\n}\n"));
    ProjectData project;
    QVERIFY(file.load(&project));
    QVERIFY(project.gateways.isEmpty());
}

// Catches the two readers treating a node without start register alike.
void TestProjectFile::nodeWithoutStartAddress()
{
    writeDeviceList(path, R"({"devices":[{"DeviceInterface":"10.0.0.1","DevicePort":"502",
        "DeviceModel":"TQ100","nodes":[{"DeviceNumber":"kept","StartAddress":"4"},
        {"DeviceNumber":"dropped"},{"DeviceNumber":"null","StartAddress":null}]}]})");
    ProjectData project;
    QVERIFY(ProjectFile(path).load(&project));
    QCOMPARE(project.gateways.size(), 1);
    QCOMPARE(project.gateways[0].nodes.size(), 1);
    QCOMPARE(project.gateways[0].nodes[0].deviceNumber, QStringLiteral("kept"));
    QCOMPARE(project.gateways[0].nodes[0].startAddress, 4);

    QList<ReportDeviceRecord> records;
    QVERIFY(ProjectFile(path).loadReportDevices(&records));
    QCOMPARE(records.size(), 3);
    QCOMPARE(records[1].deviceNumber, QStringLiteral("dropped"));
}

// Catches numbers read from JSON numbers, which the stored format never uses.
void TestProjectFile::scalarsOtherThanStrings()
{
    writeDeviceList(path, R"({"devices":[{"DeviceInterface":"10.0.0.1","DevicePort":502,
        "DeviceModel":true,"nodes":[{"DeviceNumber":7,"StartAddress":"8","ch1_unit":"9",
        "ch2_unit":"x","ch1_min":12.5,"ch1_max":"abc","ch2_min":"-1e3"}]}]})");
    ProjectData project;
    QVERIFY(ProjectFile(path).load(&project));
    const GatewayConfig& g = project.gateways.at(0);
    QCOMPARE(g.port, quint16(0));
    QCOMPARE(g.deviceModel, QString());
    const NodeConfig& n = g.nodes.at(0);
    QCOMPARE(n.deviceNumber, QString());
    QCOMPARE(n.ch1Unit, Undefined);
    QCOMPARE(n.ch2Unit, Undefined);
    QCOMPARE(n.ch1Min, 0.0f);
    QCOMPARE(n.ch1Max, 0.0f);
    QCOMPARE(n.ch2Min, -1000.0f);
}

// Catches bounds stored with float noise or more than two decimals.
void TestProjectFile::minMaxStoredWithTwoDecimals()
{
    GatewayConfig g = gateway(QStringLiteral("10.0.0.1"), 502, QStringLiteral("TQ100"));
    NodeConfig n = node(QStringLiteral("N"), 0);
    n.ch1Min = 12.345f;
    n.ch1Max = 0.1f;
    g.nodes << n;
    const QByteArray doc = ProjectFile::deviceListDocument({g});
    QVERIFY(doc.contains("\"ch1_min\": \"12.35\""));
    QVERIFY(doc.contains("\"ch1_max\": \"0.10\""));
}

// Catches a database looked up by the file's new name instead of the stored one.
void TestProjectFile::renamedProjectKeepsStoredNames()
{
    ProjectFile(path).create(1000);
    ProjectFile(path).saveDeviceList({});
    const QString renamed = dir.filePath(QStringLiteral("renamed.tpc"));
    QVERIFY(QFile::rename(path, renamed));
    ProjectData project;
    QVERIFY(ProjectFile(renamed).load(&project));
    QCOMPARE(project.projectName, QStringLiteral("plant"));
    QCOMPARE(ProjectFile::databasePath(renamed), dir.path() + QStringLiteral("/plant.dat"));
}

void TestProjectFile::badDeviceList_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<int>("gateways");
    QTest::newRow("absent") << QByteArray() << false << 0;
    QTest::newRow("array") << QByteArray(R"([{"devices":[]}])") << false << 0;
    QTest::newRow("malformed") << QByteArray(R"({"devices":[{"DeviceInterface":)") << false << 0;
    QTest::newRow("truncated") << QByteArray(R"({"devices":[)") << false << 0;
    QTest::newRow("scalar") << QByteArray("42") << false << 0;
    QTest::newRow("devices not array") << QByteArray(R"({"devices":{"a":1}})") << true << 0;
    QTest::newRow("device not object") << QByteArray(R"({"devices":[1,"x",null]})") << true << 3;
    QTest::newRow("nodes not array")
        << QByteArray(R"({"devices":[{"nodes":"none"}]})") << true << 1;
    // The JSON parser refuses invalid UTF-8: the file counts as having no device list.
    QTest::newRow("non utf-8") << QByteArray("{\"devices\":[{\"DeviceInterface\":\"\xff\xfe\"}]}")
                               << false << 0;
    QTest::newRow("absurd numbers")
        << QByteArray(R"({"devices":[{"DevicePort":"99999999999","nodes":[{"StartAddress":
            "2147483647","ch1_min":"1e999","ch1_unit":"-2147483648"},{"StartAddress":"-2147483648"}]}]})")
        << true << 1;
}

// Catches a crash or a silently half-opened project on damaged files.
void TestProjectFile::badDeviceList()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, loads);
    QFETCH(int, gateways);
    if (!document.isNull())
        writeDeviceList(path, document);
    ProjectData project;
    project.projectName = QStringLiteral("untouched");
    QCOMPARE(ProjectFile(path).load(&project), loads);
    QCOMPARE(project.gateways.size(), gateways);
    if (!loads)
        QCOMPARE(project.projectName, QStringLiteral("untouched"));
    QList<ReportDeviceRecord> records;
    QCOMPARE(ProjectFile(path).loadReportDevices(&records), loads);
    for (const GatewayConfig& g : qAsConst(project.gateways)) {
        for (const NodeConfig& n : g.nodes) {
            QVERIFY(n.ch1Unit >= Undefined && n.ch1Unit <= Custom);
        }
        QVERIFY(g.port == 0 || g.port == 502 || !g.ipAddress.isNull());
    }
}

// Catches the flat device form being dropped or typed wrongly.
void TestProjectFile::reportFlatForm()
{
    writeDeviceList(path, R"({"devices":[
        {"DeviceInterface":"COM3","DevicePort":"9600","DeviceType":"SERIAL","DeviceNumber":"S1",
         "ch1_unit":"2"},
        {"DeviceInterface":"10.0.0.9","DeviceType":"serial","DeviceNumber":"S2"},
        {"DeviceInterface":"10.0.0.8","DevicePort":"502","nodes":[{"DeviceNumber":"N1"}]}]})");
    QList<ReportDeviceRecord> records;
    QVERIFY(ProjectFile(path).loadReportDevices(&records));
    QCOMPARE(records.size(), 3);
    QCOMPARE(records[0].deviceType, 1);
    QCOMPARE(records[0].deviceNumber, QStringLiteral("S1"));
    QCOMPARE(records[0].port, quint16(9600));
    QCOMPARE(records[0].ch1Unit, TemperatureF);
    QCOMPARE(records[1].deviceType, 2);
    QCOMPARE(records[2].deviceType, 2);
    QCOMPARE(records[2].ipAddress, QStringLiteral("10.0.0.8"));
}

// Catches quadratic or failing behaviour on projects far beyond what the editor allows.
void TestProjectFile::largeProject()
{
    QList<GatewayConfig> list;
    for (int g = 0; g < 2000; ++g) {
        GatewayConfig config = gateway(QStringLiteral("10.0.%1.%2").arg(g / 250).arg(g % 250), 502,
                                       QStringLiteral("TQ100"));
        for (int i = 0; i < 5; ++i)
            config.nodes << node(QStringLiteral("G%1N%2").arg(g).arg(i), 4 * i);
        list << config;
    }
    ProjectFile(path).saveDeviceList(list);
    ProjectData project;
    QVERIFY(ProjectFile(path).load(&project));
    QCOMPARE(project.gateways.size(), 2000);
    QCOMPARE(project.gateways.last().nodes.last().deviceNumber, QStringLiteral("G1999N4"));
}

void TestProjectFile::intervalNames_data()
{
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("name");
    // The interval a project file holding `ms` is opened with.
    QTest::addColumn<int>("opened");
    QTest::newRow("1 s") << 1000 << "1 sec" << 1000;
    QTest::newRow("5 s") << 5000 << "5 sec" << 5000;
    QTest::newRow("10 s") << 10000 << "10 sec" << 10000;
    QTest::newRow("1 min") << 60000 << "1 min" << 60000;
    QTest::newRow("5 min") << 300000 << "5 min" << 300000;
    QTest::newRow("10 min") << 600000 << "10 min" << 600000;
    QTest::newRow("other") << 2000 << "" << 10000;
    QTest::newRow("zero") << 0 << "" << 10000;
    QTest::newRow("one millisecond") << 1 << "" << 10000;
    QTest::newRow("negative") << -1000 << "" << 10000;
}

// Catches a wrong or made-up interval name in the status bar and menus, or a hand-edited
// interval the recorder does not offer (1 ms polls a gateway a thousand times a second) taken
// as it stands.
void TestProjectFile::intervalNames()
{
    QFETCH(int, ms);
    QFETCH(QString, name);
    QFETCH(int, opened);
    QCOMPARE(intervalName(ms), name);
    ProjectFile file(path);
    file.create(ms);
    file.saveDeviceList({});
    if (opened != ms)
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(QStringLiteral("ProjectFile::load : DataInterval %1 is not "
                                                       "offered, read as 10000")
                                            .arg(ms)));
    ProjectData project;
    QVERIFY(file.load(&project));
    QCOMPARE(project.dataInterval, opened);
}

void TestProjectFile::databaseBesideProject_data()
{
    QTest::addColumn<QString>("databaseName");
    QTest::addColumn<bool>("opens");
    QTest::newRow("file name") << "plant.dat" << true;
    QTest::newRow("blanks and dots") << "my plant.v2.dat" << true;
    QTest::newRow("parent folder") << "../plant.dat" << false;
    QTest::newRow("absolute path") << "/tmp/plant.dat" << false;
    QTest::newRow("sub-folder") << "data/plant.dat" << false;
    QTest::newRow("backslash") << "data\\plant.dat" << false;
    QTest::newRow("dots alone") << ".." << false;
}

// Catches a hand-edited "databaseName" that makes the recorder create and write a database
// outside the project's folder.
void TestProjectFile::databaseBesideProject()
{
    QFETCH(QString, databaseName);
    QFETCH(bool, opens);
    ProjectFile file(path);
    file.create(1000);
    file.saveDeviceList({});
    file.setValue(QStringLiteral("databaseName"), databaseName);
    if (!opens)
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(QStringLiteral("ProjectFile::load : databaseName is not a "
                                                       "file name : ") +
                                        databaseName));
    ProjectData project;
    QCOMPARE(file.load(&project), opens);
}

// Catches the report generator reading or writing its keys under other names than the
// recorder's ("record_start_time", "DataInterval", ...), or an interval it does not offer
// replaced by the default for the report.
void TestProjectFile::reportKeys()
{
    ProjectFile file(path);
    file.create(2000);
    QCOMPARE(file.recordStartTime(), QString());
    QCOMPARE(file.reportSubject(), QString());
    file.saveRecordStartTime(QStringLiteral("2026-01-08 12:00:13"));
    file.saveRecordStopTime(QStringLiteral("2026-01-10 08:15:42"));
    file.saveReportTexts(QStringLiteral("Cold <store>"), QStringLiteral("Ann O'Hara"));
    const ProjectFile again(path);
    QCOMPARE(again.recordStartTime(), QStringLiteral("2026-01-08 12:00:13"));
    QCOMPARE(again.recordStopTime(), QStringLiteral("2026-01-10 08:15:42"));
    QCOMPARE(again.storedInterval(), 2000);
    QCOMPARE(again.reportSubject(), QStringLiteral("Cold <store>"));
    QCOMPARE(again.reportAuthor(), QStringLiteral("Ann O'Hara"));
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("ReportSubject")).toString(),
             QStringLiteral("Cold <store>"));
    QCOMPARE(settings.value(QStringLiteral("ReportAuthor")).toString(),
             QStringLiteral("Ann O'Hara"));
    QCOMPARE(settings.value(QStringLiteral("record_stop_time")).toString(),
             QStringLiteral("2026-01-10 08:15:42"));
}

void TestProjectFile::unitNames_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shortText");
    QTest::newRow("undefined") << "0"
                               << "Undefined"
                               << "";
    QTest::newRow("Celsius") << "1"
                             << "Temperature(\u00B0C)"
                             << "\u00B0C";
    QTest::newRow("Fahrenheit") << "2"
                                << "Temperature(\u00B0F)"
                                << "\u00B0F";
    QTest::newRow("humidity") << "3"
                              << "Humidity(%)"
                              << "%RH";
    QTest::newRow("custom") << "4"
                            << "kPa"
                            << "kPa";
    QTest::newRow("out of range") << "7"
                                  << "Undefined"
                                  << "";
    QTest::newRow("not a number") << "C"
                                  << "Undefined"
                                  << "";
}

// Catches a unit named otherwise in the report's channel keys and headers than in the
// programs' value texts, or a custom unit whose text is lost.
void TestProjectFile::unitNames()
{
    QFETCH(QString, stored);
    QFETCH(QString, name);
    QFETCH(QString, shortText);
    const ChannelUnit unit = channelUnitFromText(stored);
    QCOMPARE(channelUnitName(unit, QStringLiteral("kPa")), name);
    QCOMPARE(channelUnitText(unit, QStringLiteral("kPa")), shortText);
}

// Catches rules that change the device list other readers know, get lost on the way back, or
// leave a key behind once every node is back to the defaults.
void TestProjectFile::alarmRulesBesideDeviceList()
{
    ProjectFile file(path);
    file.create(10000);
    GatewayConfig g = gateway(QStringLiteral("10.0.0.7"), 502, QStringLiteral("TQ100"));
    g.nodes << node(QStringLiteral("N/1+"), 0) << node(QStringLiteral("N2"), 4);
    file.saveDeviceList({g});
    const QByteArray plainList =
        QSettings(path, QSettings::IniFormat).value(QStringLiteral("DeviceList")).toByteArray();

    NodeAlarmRules& rules = g.nodes[0].alarmRules;
    rules.channel[0].delayMinutes = 15;
    rules.channel[1].deadband = 2.5;
    rules.channel[1].activationEnergy = 71.2;
    rules.channel[1].mktLimit = 25.0;
    rules.noDataMinutes = 5;
    rules.batteryLow = 30;
    rules.outOfServiceDaily = *DailyWindow::parse(QStringLiteral("02:00-02:45"), nullptr);
    file.saveDeviceList({g});
    QCOMPARE(
        QSettings(path, QSettings::IniFormat).value(QStringLiteral("DeviceList")).toByteArray(),
        plainList);
    ProjectData project;
    QVERIFY(file.load(&project));
    QCOMPARE(project.gateways.at(0).nodes.at(0).alarmRules, rules);
    QVERIFY(project.gateways.at(0).nodes.at(1).alarmRules.isDefault());

    g.nodes[0].alarmRules = NodeAlarmRules();
    file.saveDeviceList({g});
    QVERIFY(!QSettings(path, QSettings::IniFormat).contains(QStringLiteral("AlarmRules")));
}

void TestProjectFile::readAlarmRules_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QList<int>>("numbers"); // delay 1, delay 2, no data, battery
    QTest::addColumn<double>("deadband1");
    QTest::addColumn<bool>("warns");
    QTest::addColumn<QString>("daily"); // the daily out-of-service time read
    QTest::addColumn<int>("problems");  // refused values listed as key problems
    // Channel 1's activation energy and mean kinetic temperature limit, "-" for none
    QTest::addColumn<QString>("mkt");
    QTest::newRow("file from before the rules")
        << QByteArray() << QList<int>{0, 0, 0, 0} << 0.0 << false << "" << 0 << "0 -";
    QTest::newRow("all set")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","Ch1DelayMinutes":60,"Ch1Deadband":0.5,
            "Ch2DelayMinutes":1,"NoDataMinutes":10,"BatteryLow":25}]})")
        << QList<int>{60, 1, 10, 25} << 0.5 << false << "" << 0 << "0 -";
    QTest::newRow("another node's rules") << QByteArray(R"({"nodes":[{"DeviceNumber":"N9",
            "Ch1DelayMinutes":5}]})") << QList<int>{0, 0, 0, 0}
                                          << 0.0 << false << "" << 0 << "0 -";
    QTest::newRow("hand edits out of range read as the defaults")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","Ch1DelayMinutes":3,"Ch1Deadband":-1,
            "Ch2DelayMinutes":"5","NoDataMinutes":-5,"BatteryLow":101}]})")
        << QList<int>{0, 0, 0, 0} << 0.0 << true << "" << 0 << "0 -";
    QTest::newRow("not JSON") << QByteArray("{nodes") << QList<int>{0, 0, 0, 0} << 0.0 << false
                              << "" << 0 << "0 -";
    QTest::newRow("daily out-of-service time across midnight")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","OutOfServiceDaily":" 23:30-00:15 "}]})")
        << QList<int>{0, 0, 0, 0} << 0.0 << false << "23:30-00:15" << 0 << "0 -";
    QTest::newRow("daily time no day has: refused, a key problem")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","OutOfServiceDaily":"25:00-02:00"}]})")
        << QList<int>{0, 0, 0, 0} << 0.0 << true << "" << 1 << "0 -";
    QTest::newRow("daily time as a number: refused, a key problem")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","OutOfServiceDaily":200}]})")
        << QList<int>{0, 0, 0, 0} << 0.0 << true << "" << 1 << "0 -";
    QTest::newRow("two daily times in one: refused, a key problem")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","OutOfServiceDaily":"02:00-02:45;)"
                      R"( 03:00-04:00"}]})")
        << QList<int>{0, 0, 0, 0} << 0.0 << true << "" << 1 << "0 -";
    QTest::newRow("a window of no length: refused, a key problem")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","OutOfServiceDaily":"02:00-02:00"}]})")
        << QList<int>{0, 0, 0, 0} << 0.0 << true << "" << 1 << "0 -";
    QTest::newRow("own activation energy and limit")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","Ch1ActivationEnergy":60.5,)"
                      R"("Ch1MktLimit":25}]})")
        << QList<int>{0, 0, 0, 0} << 0.0 << false << "" << 0 << "60.5 25";
    QTest::newRow("activation energy out of bounds: the default, a key problem")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","Ch1ActivationEnergy":8000}]})")
        << QList<int>{0, 0, 0, 0} << 0.0 << true << "" << 1 << "0 -";
    QTest::newRow("activation energy as text: the default, a key problem")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","Ch1ActivationEnergy":"83"}]})")
        << QList<int>{0, 0, 0, 0} << 0.0 << true << "" << 1 << "0 -";
    QTest::newRow("limit as text: none, a key problem")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","Ch1MktLimit":"=25"}]})")
        << QList<int>{0, 0, 0, 0} << 0.0 << true << "" << 1 << "0 -";
    QTest::newRow("a negative limit of a freezer holds")
        << QByteArray(R"({"nodes":[{"DeviceNumber":"N1","Ch1MktLimit":-18}]})")
        << QList<int>{0, 0, 0, 0} << 0.0 << false << "" << 0 << "0 -18";
}

// Catches an older file or a hand edit raising alarms the user never set, or a delay the editor
// cannot show.
void TestProjectFile::readAlarmRules()
{
    QFETCH(QByteArray, document);
    QFETCH(QList<int>, numbers);
    QFETCH(double, deadband1);
    QFETCH(bool, warns);
    QFETCH(QString, daily);
    QFETCH(int, problems);
    QFETCH(QString, mkt);
    if (warns)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("parseAlarmRules")));
    QList<GatewayConfig> gateways{
        gateway(QStringLiteral("10.0.0.7"), 502, QStringLiteral("TQ100"))};
    gateways[0].nodes << node(QStringLiteral("N1"), 0);
    QStringList problemsSeen;
    ProjectFile::parseAlarmRules(document, &gateways, &problemsSeen);
    const NodeAlarmRules& rules = gateways.at(0).nodes.at(0).alarmRules;
    QCOMPARE((QList<int>{rules.channel[0].delayMinutes, rules.channel[1].delayMinutes,
                         rules.noDataMinutes, rules.batteryLow}),
             numbers);
    QCOMPARE(rules.channel[0].deadband, deadband1);
    QCOMPARE(rules.channel[1].deadband, 0.0);
    QCOMPARE(rules.outOfServiceDaily.text(), daily);
    const ChannelAlarmRule& first = rules.channel[0];
    QCOMPARE(QString::number(first.activationEnergy) + QLatin1Char(' ') +
                 (first.mktLimit ? QString::number(*first.mktLimit) : QStringLiteral("-")),
             mkt);
    QCOMPARE(problemsSeen.size(), problems);
    for (const QString& problem : problemsSeen)
        QVERIFY2(problem.startsWith(QStringLiteral("Project file key AlarmRules: node N1 ")),
                 qPrintable(problem));
}

void TestProjectFile::handWrittenFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<int>("nodes");
    QTest::addColumn<int>("delay");   // of N1's first channel
    QTest::addColumn<int>("battery"); // N1's battery limit
    const QByteArray head = "projectName=Plant\nDataInterval=1000\ndatabaseName=plant.dat\n";
    const QByteArray list = R"({"devices": [{"DeviceInterface": "10.0.0.7", "DevicePort": "502",)"
                            R"( "nodes": [{"StartAddress": "0", "DeviceNumber": "N1"}]}]})";
    const QByteArray rules = R"({"nodes": [{"DeviceNumber": "N1", "Ch1DelayMinutes": 5,)"
                             R"( "BatteryLow": 20}]})";

    QTest::newRow("unquoted JSON for both keys")
        << head + "DeviceList=" + list + "\nAlarmRules=" + rules + "\n"
        << true << 1 << 5 << 20;
    QTest::newRow("unquoted JSON without a comma")
        << head + R"(DeviceList={"devices":[{"nodes":[{"StartAddress":"0","DeviceNumber":"N1"}]}]})"
        << true << 1 << 0 << 0;
    QTest::newRow("[General], CRLF line ends")
        << "[General]\r\n" + QByteArray(head).replace('\n', "\r\n") + "DeviceList=" + list +
               "\r\nAlarmRules=" + rules + "\r\n"
        << true << 1 << 5 << 20;
    QTest::newRow("quoted JSON with escaped quotes")
        << head + R"(DeviceList="{\"devices\": [{\"nodes\": []}]}")" << true << 0 << 0 << 0;
    QTest::newRow("a ';' in a node's name")
        << head + R"(DeviceList={"devices": [{"nodes": [{"StartAddress": "0", "DeviceNumber":)"
                  R"( "N1", "DeviceName": "Room 1; north"}]}]})"
        << true << 1 << 0 << 0;
    QTest::newRow("repeated key: the last rules count")
        << head + "DeviceList=" + list + "\nAlarmRules=" + rules +
               "\nAlarmRules={\"nodes\": [{\"DeviceNumber\": \"N1\", \"BatteryLow\": 30}]}\n"
        << true << 1 << 0 << 30;
    QTest::newRow("device list only in another section")
        << head + "[Other]\nDeviceList=" + list + "\n"
        << false << 0 << 0 << 0;
}

// Catches a device list or alarm rules written by hand as the README shows them (JSON without
// quotes round it) read as no list, or with its double quotes stripped, or cut at a ';'.
void TestProjectFile::handWrittenFile()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, loads);
    QFETCH(int, nodes);
    QFETCH(int, delay);
    QFETCH(int, battery);
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QCOMPARE(out.write(file), qint64(file.size()));
    }
    ProjectData project;
    QCOMPARE(ProjectFile(path).load(&project), loads);
    QList<ReportDeviceRecord> records;
    QCOMPARE(ProjectFile(path).loadReportDevices(&records), loads);
    QCOMPARE(records.size(), nodes);
    if (!loads)
        return;
    QCOMPARE(project.projectName, QStringLiteral("Plant"));
    QCOMPARE(project.dataInterval, 1000);
    QCOMPARE(project.gateways.size(), 1);
    QCOMPARE(project.gateways.at(0).nodes.size(), nodes);
    if (nodes == 0)
        return;
    const NodeAlarmRules& r = project.gateways.at(0).nodes.at(0).alarmRules;
    QCOMPARE(r.channel[0].delayMinutes, delay);
    QCOMPARE(r.batteryLow, battery);
}

void TestProjectFile::reportMailLimit_data()
{
    QTest::addColumn<QByteArray>("value"); // null: no such key
    QTest::addColumn<qint64>("limit");     // 0: the default, told as a key problem
    QTest::newRow("absent: 10 MiB") << QByteArray() << qint64(10485760);
    QTest::newRow("blanks round it") << QByteArray(" 2000000 ") << qint64(2000000);
    QTest::newRow("the least") << QByteArray("65536") << qint64(65536);
    QTest::newRow("the most") << QByteArray("26214400") << qint64(26214400);
    QTest::newRow("below the least") << QByteArray("65535") << qint64(0);
    QTest::newRow("above the most") << QByteArray("26214401") << qint64(0);
    QTest::newRow("negative") << QByteArray("-1") << qint64(0);
    QTest::newRow("with a unit") << QByteArray("10MB") << qint64(0);
    QTest::newRow("past 64 bits") << QByteArray("99999999999999999999") << qint64(0);
    QTest::newRow("empty") << QByteArray("") << qint64(0);
}

// Catches a hand-edited mail limit that lets any report through, refuses every report, or is
// read as the default without the window saying so.
void TestProjectFile::reportMailLimit()
{
    QFETCH(QByteArray, value);
    QFETCH(qint64, limit);
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("databaseName=plant.dat\nDeviceList={\"devices\": []}\n" +
              (value.isNull() ? QByteArray() : "ReportMailMaxBytes=" + value + '\n'));
    out.close();
    if (limit == 0)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ReportMailMaxBytes")));
    ProjectData project;
    QVERIFY(ProjectFile(path).load(&project));
    QCOMPARE(project.reportMailMaxBytes, limit ? limit : ProjectFile::DefaultReportMailMaxBytes);
    QCOMPARE(project.keyProblems.filter(QStringLiteral("ReportMailMaxBytes")).size(),
             limit ? 0 : 1);
}

QTEST_GUILESS_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
