#include "projectfile.h"

#include "meankinetictemperature.h"

#include "datainterval.h"
#include "projectkeyreader.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <algorithm>
#include <cmath>

namespace {

const QString kDeviceList = QStringLiteral("DeviceList");
const QString kDataInterval = QStringLiteral("DataInterval");
const QString kRecordStart = QStringLiteral("record_start_time");
const QString kRecordStop = QStringLiteral("record_stop_time");
const QString kReportSubject = QStringLiteral("ReportSubject");
const QString kReportAuthor = QStringLiteral("ReportAuthor");
const QString kAlarmRules = QStringLiteral("AlarmRules");
const QString kReportMailMaxBytes = QStringLiteral("ReportMailMaxBytes");

// A file name without a folder: no path separator, no "..".
bool isPlainFileName(const QString& name)
{
    return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QLatin1String(".."));
}

// `milliseconds` when the recorder offers that interval, otherwise the default (traced).
int offeredInterval(int milliseconds)
{
    int count = 0;
    const int* intervals = offeredIntervals(&count);
    if (std::find(intervals, intervals + count, milliseconds) != intervals + count)
        return milliseconds;
    // A hand-edited 1 would poll every millisecond; 0 is a file without an interval.
    qWarning().noquote() << QStringLiteral("ProjectFile::load : DataInterval ") +
                                QString::number(milliseconds) +
                                QStringLiteral(" is not offered, read as ") +
                                QString::number(DefaultDataInterval);
    return DefaultDataInterval;
}

// Every scalar of the device list is stored as a string; any other JSON type reads as empty
// text and so as 0.
QString text(const QJsonObject& object, const QString& key)
{
    return object.value(key).toString();
}

int number(const QJsonObject& object, const QString& key)
{
    return text(object, key).toInt(nullptr, 10);
}

float decimal(const QJsonObject& object, const QString& key)
{
    bool ok = false;
    const double value = text(object, key).toDouble(&ok);
    return ok ? float(value) : 0.0f;
}

// A port outside the 16-bit range reads as 0, like text that is not a number, instead of
// wrapping round to some unrelated port.
quint16 portNumber(const QJsonObject& object, const QString& key)
{
    bool ok = false;
    const uint port = text(object, key).toUInt(&ok, 10);
    return (ok && port <= 0xFFFF) ? quint16(port) : quint16(0);
}

QString twoDecimals(float value)
{
    return QString::number(double(value), 'f', 2);
}

bool parseObject(const QByteArray& document, QJsonObject* root)
{
    const QJsonDocument json = QJsonDocument::fromJson(document);
    if (!json.isObject())
        return false;
    *root = json.object();
    return true;
}

ReportDeviceRecord reportRecord(const QJsonObject& object)
{
    ReportDeviceRecord record;
    record.deviceName = text(object, QStringLiteral("DeviceName"));
    record.deviceNumber = text(object, QStringLiteral("DeviceNumber"));
    record.ch1Name = text(object, QStringLiteral("Ch1Name"));
    record.ch2Name = text(object, QStringLiteral("Ch2Name"));
    record.ch1Unit = channelUnitFromText(text(object, QStringLiteral("ch1_unit")));
    record.ch1Min = decimal(object, QStringLiteral("ch1_min"));
    record.ch1Max = decimal(object, QStringLiteral("ch1_max"));
    record.ch1Custom = text(object, QStringLiteral("ch1_custom"));
    record.ch2Unit = channelUnitFromText(text(object, QStringLiteral("ch2_unit")));
    record.ch2Min = decimal(object, QStringLiteral("ch2_min"));
    record.ch2Max = decimal(object, QStringLiteral("ch2_max"));
    record.ch2Custom = text(object, QStringLiteral("ch2_custom"));
    return record;
}

} // namespace

ProjectFile::ProjectFile(const QString& path) : m_path(path) {}

QString ProjectFile::projectNameFromPath(const QString& path)
{
    return QFileInfo(path).baseName();
}

QString ProjectFile::databasePath(const QString& projectPath)
{
    return QFileInfo(projectPath).path() + QLatin1Char('/') +
           ProjectFile(projectPath).value(QStringLiteral("databaseName"));
}

void ProjectFile::create(int interval) const
{
    const QString name = projectNameFromPath(m_path);
    QSettings settings(m_path, QSettings::IniFormat);
    settings.setValue(QStringLiteral("projectName"), name);
    settings.setValue(kDataInterval, interval);
    settings.setValue(QStringLiteral("databaseName"), QString(name + QStringLiteral(".dat")));
}

QByteArray ProjectFile::deviceListDocument(const QList<GatewayConfig>& gateways)
{
    QJsonArray devices;
    for (const GatewayConfig& gateway : gateways) {
        QJsonArray nodes;
        for (const NodeConfig& node : gateway.nodes) {
            QJsonObject n;
            n.insert(QStringLiteral("StartAddress"), QString::number(node.startAddress));
            n.insert(QStringLiteral("DeviceName"), node.deviceName);
            n.insert(QStringLiteral("DeviceNumber"), node.deviceNumber);
            n.insert(QStringLiteral("Ch1Name"), node.ch1Name);
            n.insert(QStringLiteral("Ch2Name"), node.ch2Name);
            n.insert(QStringLiteral("ch1_unit"), QString::number(int(node.ch1Unit)));
            n.insert(QStringLiteral("ch1_min"), twoDecimals(node.ch1Min));
            n.insert(QStringLiteral("ch1_max"), twoDecimals(node.ch1Max));
            n.insert(QStringLiteral("ch1_custom"), node.ch1Custom);
            n.insert(QStringLiteral("ch2_unit"), QString::number(int(node.ch2Unit)));
            n.insert(QStringLiteral("ch2_min"), twoDecimals(node.ch2Min));
            n.insert(QStringLiteral("ch2_max"), twoDecimals(node.ch2Max));
            n.insert(QStringLiteral("ch2_custom"), node.ch2Custom);
            nodes.append(n);
        }
        QJsonObject g;
        g.insert(QStringLiteral("DeviceInterface"), gateway.ipAddress);
        g.insert(QStringLiteral("DevicePort"), QString::number(gateway.port));
        g.insert(QStringLiteral("DeviceModel"), gateway.deviceModel);
        g.insert(QStringLiteral("nodes"), nodes);
        devices.append(g);
    }
    QJsonObject root;
    root.insert(QStringLiteral("devices"), devices);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

void ProjectFile::saveDeviceList(const QList<GatewayConfig>& gateways) const
{
    const QByteArray previous = ProjectKeyReader(m_path).bytes(kDeviceList);
    QSettings settings(m_path, QSettings::IniFormat);
    settings.setValue(QStringLiteral("Backup"), previous);
    settings.setValue(kDeviceList, deviceListDocument(gateways));
    const QByteArray rules = alarmRulesDocument(gateways);
    if (rules.isEmpty())
        settings.remove(kAlarmRules);
    else
        settings.setValue(kAlarmRules, rules);
}

QByteArray ProjectFile::alarmRulesDocument(const QList<GatewayConfig>& gateways)
{
    QJsonArray nodes;
    for (const GatewayConfig& gateway : gateways) {
        for (const NodeConfig& node : gateway.nodes) {
            const NodeAlarmRules& rules = node.alarmRules;
            if (rules.isDefault())
                continue;
            QJsonObject n;
            n.insert(QStringLiteral("DeviceNumber"), node.deviceNumber);
            for (int c = 0; c < 2; ++c) {
                const QString prefix = QStringLiteral("Ch%1").arg(c + 1);
                n.insert(prefix + QStringLiteral("DelayMinutes"), rules.channel[c].delayMinutes);
                n.insert(prefix + QStringLiteral("Deadband"), rules.channel[c].deadband);
                if (rules.channel[c].activationEnergy != 0)
                    n.insert(prefix + QStringLiteral("ActivationEnergy"),
                             rules.channel[c].activationEnergy);
                if (rules.channel[c].mktLimit)
                    n.insert(prefix + QStringLiteral("MktLimit"), *rules.channel[c].mktLimit);
            }
            n.insert(QStringLiteral("NoDataMinutes"), rules.noDataMinutes);
            n.insert(QStringLiteral("BatteryLow"), rules.batteryLow);
            if (rules.outOfServiceDaily.isSet())
                n.insert(QStringLiteral("OutOfServiceDaily"), rules.outOfServiceDaily.text());
            nodes.append(n);
        }
    }
    if (nodes.isEmpty())
        return QByteArray();
    QJsonObject root;
    root.insert(QStringLiteral("nodes"), nodes);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

namespace {

// A whole number from `low` to `high`, or `fallback` (traced) for anything else.
int ruleNumber(const QJsonObject& object, const QString& key, int low, int high, int fallback,
               const QString& serial)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined())
        return fallback;
    const double number = value.toDouble(-1);
    if (value.isDouble() && number >= low && number <= high && number == int(number))
        return int(number);
    qWarning().noquote() << QStringLiteral("ProjectFile::parseAlarmRules : ") + serial +
                                QStringLiteral(" ") + key + QStringLiteral(" read as ") +
                                QString::number(fallback);
    return fallback;
}

} // namespace

void ProjectFile::parseAlarmRules(const QByteArray& document, QList<GatewayConfig>* gateways,
                                  QStringList* problems)
{
    const QJsonArray nodes =
        QJsonDocument::fromJson(document).object().value(QStringLiteral("nodes")).toArray();
    for (const QJsonValue& value : nodes) {
        const QJsonObject object = value.toObject();
        const QString serial = text(object, QStringLiteral("DeviceNumber"));
        NodeAlarmRules rules;
        auto complain = [&](const QString& problem) {
            qWarning().noquote() << QStringLiteral("ProjectFile::parseAlarmRules : ") + problem;
            if (problems)
                problems->append(problem);
        };
        for (int c = 0; c < 2; ++c) {
            const QString prefix = QStringLiteral("Ch%1").arg(c + 1);
            ChannelAlarmRule& rule = rules.channel[c];
            rule.delayMinutes =
                ruleNumber(object, prefix + QStringLiteral("DelayMinutes"), 0, 60, 0, serial);
            // A delay the editor does not offer would show as another one there.
            if (!NodeAlarmRules::isOfferedDelay(rule.delayMinutes)) {
                qWarning().noquote() << QStringLiteral("ProjectFile::parseAlarmRules : ") + serial +
                                            QStringLiteral(" delay ") +
                                            QString::number(rule.delayMinutes) +
                                            QStringLiteral(" is not offered, read as 0");
                rule.delayMinutes = 0;
            }
            const double deadband = object.value(prefix + QStringLiteral("Deadband")).toDouble(0);
            rule.deadband = std::isfinite(deadband) && deadband >= 0 ? deadband : 0;
            const QJsonValue energy = object.value(prefix + QStringLiteral("ActivationEnergy"));
            if (!energy.isUndefined()) {
                if (MeanKineticTemperature::acceptsActivationEnergy(energy.toDouble(-1))) {
                    rule.activationEnergy = energy.toDouble();
                } else {
                    complain(QStringLiteral("Project file key AlarmRules: node ") + serial +
                             QLatin1Char(' ') + prefix +
                             QStringLiteral("ActivationEnergy is not a number of kJ/mol "
                                            "from 10 to 500; the channel's mean kinetic "
                                            "temperature takes 83.144"));
                }
            }
            const QJsonValue limit = object.value(prefix + QStringLiteral("MktLimit"));
            if (!limit.isUndefined()) {
                if (limit.isDouble() && std::isfinite(limit.toDouble())) {
                    rule.mktLimit = limit.toDouble();
                } else {
                    complain(QStringLiteral("Project file key AlarmRules: node ") + serial +
                             QLatin1Char(' ') + prefix +
                             QStringLiteral("MktLimit is not a number; the channel has "
                                            "no limit for its mean kinetic temperature"));
                }
            }
        }
        rules.noDataMinutes = ruleNumber(object, QStringLiteral("NoDataMinutes"), 0,
                                         NodeAlarmRules::MaxNoDataMinutes, 0, serial);
        rules.batteryLow = ruleNumber(object, QStringLiteral("BatteryLow"), 0, 100, 0, serial);
        const QJsonValue daily = object.value(QStringLiteral("OutOfServiceDaily"));
        if (!daily.isUndefined()) {
            QString why;
            const auto window =
                daily.isString() ? DailyWindow::parse(daily.toString(), &why) : std::nullopt;
            if (window) {
                rules.outOfServiceDaily = *window;
            } else {
                const QString problem =
                    QStringLiteral("Project file key AlarmRules: node ") + serial +
                    QStringLiteral(" OutOfServiceDaily ") +
                    (daily.isString() ? why : QStringLiteral("is not a text like 02:00-02:45")) +
                    QStringLiteral("; the node has no daily out-of-service time");
                qWarning().noquote() << QStringLiteral("ProjectFile::parseAlarmRules : ") + problem;
                if (problems)
                    problems->append(problem);
            }
        }
        for (GatewayConfig& gateway : *gateways) {
            for (NodeConfig& node : gateway.nodes) {
                if (node.deviceNumber == serial)
                    node.alarmRules = rules;
            }
        }
    }
}

void ProjectFile::saveInterval(int interval) const
{
    setValue(kDataInterval, interval);
}

void ProjectFile::saveRecordStartTime(const QString& text) const
{
    setValue(kRecordStart, text);
}

void ProjectFile::saveRecordStopTime(const QString& text) const
{
    setValue(kRecordStop, text);
}

bool ProjectFile::parseDeviceList(const QByteArray& document, QList<GatewayConfig>* gateways)
{
    QJsonObject root;
    if (!parseObject(document, &root))
        return false;

    const QJsonArray devices = root.value(QStringLiteral("devices")).toArray();
    for (const QJsonValue& deviceValue : devices) {
        const QJsonObject device = deviceValue.toObject();
        GatewayConfig gateway;
        gateway.ipAddress = text(device, QStringLiteral("DeviceInterface"));
        gateway.port = portNumber(device, QStringLiteral("DevicePort"));
        gateway.deviceModel = text(device, QStringLiteral("DeviceModel"));
        qDebug().noquote() << "projectLoaded ip : " << gateway.ipAddress
                           << " port : " << gateway.port
                           << " deviceModel : " << gateway.deviceModel;

        const QJsonArray nodes = device.value(QStringLiteral("nodes")).toArray();
        for (const QJsonValue& nodeValue : nodes) {
            const QJsonObject object = nodeValue.toObject();
            const QJsonValue start = object.value(QStringLiteral("StartAddress"));
            if (start.isUndefined() || start.isNull())
                continue;
            NodeConfig node;
            node.deviceNumber = text(object, QStringLiteral("DeviceNumber"));
            node.deviceName = text(object, QStringLiteral("DeviceName"));
            node.ch1Name = text(object, QStringLiteral("Ch1Name"));
            node.ch2Name = text(object, QStringLiteral("Ch2Name"));
            node.startAddress = number(object, QStringLiteral("StartAddress"));
            node.ch1Unit = channelUnitFromInt(number(object, QStringLiteral("ch1_unit")));
            node.ch2Unit = channelUnitFromInt(number(object, QStringLiteral("ch2_unit")));
            node.ch1Min = decimal(object, QStringLiteral("ch1_min"));
            node.ch1Max = decimal(object, QStringLiteral("ch1_max"));
            node.ch2Min = decimal(object, QStringLiteral("ch2_min"));
            node.ch2Max = decimal(object, QStringLiteral("ch2_max"));
            node.ch1Custom = text(object, QStringLiteral("ch1_custom"));
            node.ch2Custom = text(object, QStringLiteral("ch2_custom"));
            gateway.nodes.append(node);
        }
        gateways->append(gateway);
    }
    return true;
}

bool ProjectFile::load(ProjectData* project) const
{
    const ProjectKeyReader settings(m_path);
    // The database must lie beside the project file: a name that leads elsewhere would make
    // the recorder create and write a file outside the project's folder.
    const QString database = settings.text(QStringLiteral("databaseName"));
    if (!isPlainFileName(database)) {
        qWarning().noquote() << QStringLiteral(
                                    "ProjectFile::load : databaseName is not a file name : ") +
                                    database;
        return false;
    }
    QList<GatewayConfig> gateways;
    if (!parseDeviceList(settings.bytes(kDeviceList), &gateways))
        return false;
    QStringList ruleProblems;
    parseAlarmRules(settings.bytes(kAlarmRules), &gateways, &ruleProblems);
    project->gateways = gateways;
    project->projectName = settings.text(QStringLiteral("projectName"));
    project->dataInterval = offeredInterval(settings.value(kDataInterval).toInt());
    QString limitProblem;
    project->reportMailMaxBytes =
        parseReportMailMaxBytes(settings.value(kReportMailMaxBytes), &limitProblem);
    if (!limitProblem.isEmpty())
        ruleProblems << limitProblem;
    project->keyProblems = settings.problems() + ruleProblems;
    return true;
}

qint64 ProjectFile::parseReportMailMaxBytes(const QVariant& value, QString* problem)
{
    problem->clear();
    if (!value.isValid())
        return DefaultReportMailMaxBytes;
    bool ok = false;
    const qint64 bytes = value.toString().trimmed().toLongLong(&ok, 10);
    if (ok && bytes >= MinReportMailMaxBytes && bytes <= MaxReportMailMaxBytes)
        return bytes;
    *problem = QStringLiteral("Project file key ReportMailMaxBytes: not a number of bytes from "
                              "%1 to %2, %3 used")
                   .arg(MinReportMailMaxBytes)
                   .arg(MaxReportMailMaxBytes)
                   .arg(DefaultReportMailMaxBytes);
    qWarning().noquote() << QStringLiteral("ProjectFile : ") + *problem;
    return DefaultReportMailMaxBytes;
}

qint64 ProjectFile::reportMailMaxBytes(QStringList* problems) const
{
    const ProjectKeyReader reader(m_path);
    QString problem;
    const qint64 bytes = parseReportMailMaxBytes(reader.value(kReportMailMaxBytes), &problem);
    if (problems && !problem.isEmpty())
        problems->append(problem);
    return bytes;
}

bool ProjectFile::parseReportDevices(const QByteArray& document, QList<ReportDeviceRecord>* devices)
{
    QJsonObject root;
    if (!parseObject(document, &root))
        return false;

    const QJsonArray list = root.value(QStringLiteral("devices")).toArray();
    for (const QJsonValue& deviceValue : list) {
        const QJsonObject device = deviceValue.toObject();
        const QJsonValue nodes = device.value(QStringLiteral("nodes"));
        const QString ip = text(device, QStringLiteral("DeviceInterface"));
        const quint16 port = portNumber(device, QStringLiteral("DevicePort"));
        if (!nodes.isUndefined() && !nodes.isNull()) {
            for (const QJsonValue& nodeValue : nodes.toArray()) {
                ReportDeviceRecord record = reportRecord(nodeValue.toObject());
                record.ipAddress = ip;
                record.port = port;
                record.deviceType = 2;
                devices->append(record);
            }
        } else {
            ReportDeviceRecord record = reportRecord(device);
            record.ipAddress = ip;
            record.port = port;
            record.deviceType =
                text(device, QStringLiteral("DeviceType")) == QLatin1String("SERIAL") ? 1 : 2;
            devices->append(record);
        }
    }
    return true;
}

bool ProjectFile::loadReportDevices(QList<ReportDeviceRecord>* devices) const
{
    const ProjectKeyReader reader(m_path);
    const int before = int(devices->size());
    if (!parseReportDevices(reader.bytes(kDeviceList), devices))
        return false;
    // The alarm rules by node, read as the recorder reads them.
    QList<GatewayConfig> gateways{GatewayConfig()};
    for (int i = before; i < devices->size(); ++i) {
        NodeConfig node;
        node.deviceNumber = devices->at(i).deviceNumber;
        gateways[0].nodes.append(node);
    }
    parseAlarmRules(reader.bytes(kAlarmRules), &gateways, nullptr);
    for (int i = before; i < devices->size(); ++i)
        (*devices)[i].alarmRules = gateways.at(0).nodes.at(i - before).alarmRules;
    return true;
}

QString ProjectFile::recordStartTime() const
{
    return value(kRecordStart);
}

QString ProjectFile::recordStopTime() const
{
    return value(kRecordStop);
}

int ProjectFile::storedInterval() const
{
    return intValue(kDataInterval);
}

QString ProjectFile::reportSubject() const
{
    return value(kReportSubject);
}

QString ProjectFile::reportAuthor() const
{
    return value(kReportAuthor);
}

void ProjectFile::saveReportTexts(const QString& subject, const QString& author) const
{
    QSettings settings(m_path, QSettings::IniFormat);
    settings.setValue(kReportSubject, subject);
    settings.setValue(kReportAuthor, author);
}

QString ProjectFile::value(const QString& key) const
{
    return ProjectKeyReader(m_path).text(key);
}

int ProjectFile::intValue(const QString& key) const
{
    return ProjectKeyReader(m_path).value(key).toInt();
}

void ProjectFile::setValue(const QString& key, const QVariant& value) const
{
    QSettings settings(m_path, QSettings::IniFormat);
    settings.setValue(key, value);
}
