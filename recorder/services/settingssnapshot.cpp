#include "settingssnapshot.h"

#include "datainterval.h"
#include "projectfile.h"
#include "projectkeyreader.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

// Kept in the file about recordings and reports, or documents read apart below.
bool isSetting(const QString& key)
{
    static const QStringList notSettings = {
        QStringLiteral("DeviceList"),       QStringLiteral("AlarmRules"),
        QStringLiteral("Backup"),           QStringLiteral("record_start_time"),
        QStringLiteral("record_stop_time"), QStringLiteral("ReportSubject"),
        QStringLiteral("ReportAuthor")};
    return !notSettings.contains(key);
}

QString number(double value)
{
    return QString::number(value, 'f', 2);
}

QString gatewayName(const GatewayConfig& gateway)
{
    return QStringLiteral("gateway ") + gateway.ipAddress + QLatin1Char(':') +
           QString::number(gateway.port);
}

} // namespace

bool SettingsSnapshot::looksSecret(const QString& key)
{
    static const QRegularExpression secret(QStringLiteral("password|passwd|token|secret"),
                                           QRegularExpression::CaseInsensitiveOption);
    return secret.match(key).hasMatch();
}

void SettingsSnapshot::set(const QString& object, const QString& setting, const QString& value)
{
    m_objects[object][setting] = value;
}

SettingsSnapshot SettingsSnapshot::read(const QString& projectPath)
{
    SettingsSnapshot s;
    ProjectData project;
    if (!ProjectFile(projectPath).load(&project))
        return s;

    QFile file(projectPath);
    if (!file.open(QIODevice::ReadOnly))
        return s;
    // These are always there: their first settings saved are changes, not objects added.
    for (const char* always : {"project", "notifications", "forwarding"})
        s.m_objects[QLatin1String(always)];
    const QStringList keys = ProjectKeyReader::scanTopLevel(file.readAll()).keys();
    const ProjectKeyReader reader(projectPath);
    for (const QString& key : keys) {
        if (!isSetting(key))
            continue;
        QString object = QStringLiteral("project");
        QString setting = key;
        if (key.startsWith(QLatin1String("Notify"))) {
            object = QStringLiteral("notifications");
            setting = key.mid(6);
        } else if (key.startsWith(QLatin1String("Forward"))) {
            object = QStringLiteral("forwarding");
            setting = key.mid(7);
        }
        QString value = reader.text(key);
        if (looksSecret(key)) {
            value = secretPlaceholder();
        } else if (key == QLatin1String("DataInterval")) {
            setting = QStringLiteral("interval");
            const QString name = intervalName(value.toInt());
            value = name.isEmpty() ? value + QStringLiteral(" ms") : name;
        }
        s.set(object, setting, value);
    }

    for (const GatewayConfig& gateway : qAsConst(project.gateways)) {
        QString name = gatewayName(gateway);
        // Two gateways at one address stay two objects.
        for (int n = 2; s.m_objects.contains(name); ++n)
            name = gatewayName(gateway) + QStringLiteral(" (%1)").arg(n);
        s.set(name, QStringLiteral("model"), gateway.deviceModel);
        for (const NodeConfig& node : gateway.nodes) {
            QString object = QStringLiteral("node ") + node.deviceNumber;
            for (int n = 2; s.m_objects.contains(object); ++n)
                object =
                    QStringLiteral("node ") + node.deviceNumber + QStringLiteral(" (%1)").arg(n);
            s.set(object, QStringLiteral("gateway"), name);
            s.set(object, QStringLiteral("name"), node.deviceName);
            s.set(object, QStringLiteral("start address"), QString::number(node.startAddress));
            struct Channel
            {
                QString name;
                ChannelUnit unit;
                QString custom;
                float low;
                float high;
            };
            const Channel channels[2] = {
                {node.ch1Name, node.ch1Unit, node.ch1Custom, node.ch1Min, node.ch1Max},
                {node.ch2Name, node.ch2Unit, node.ch2Custom, node.ch2Min, node.ch2Max}};
            for (int c = 0; c < 2; ++c) {
                const QString prefix = QStringLiteral("channel %1 ").arg(c + 1);
                const Channel& ch = channels[c];
                s.set(object, prefix + QStringLiteral("name"), ch.name);
                s.set(object, prefix + QStringLiteral("unit"), channelUnitName(ch.unit, ch.custom));
                s.set(object, prefix + QStringLiteral("range"),
                      number(ch.low) + QStringLiteral(" to ") + number(ch.high));
                const ChannelAlarmRule& rule = node.alarmRules.channel[c];
                s.set(object, prefix + QStringLiteral("alarm delay"),
                      QStringLiteral("%1 min").arg(rule.delayMinutes));
                s.set(object, prefix + QStringLiteral("alarm deadband"), number(rule.deadband));
            }
            s.set(object, QStringLiteral("no data alarm"),
                  node.alarmRules.noDataMinutes > 0
                      ? QStringLiteral("after %1 min").arg(node.alarmRules.noDataMinutes)
                      : QStringLiteral("off"));
            s.set(object, QStringLiteral("battery low alarm"),
                  node.alarmRules.batteryLow > 0
                      ? QStringLiteral("below %1 %").arg(node.alarmRules.batteryLow)
                      : QStringLiteral("off"));
        }
    }
    return s;
}

QByteArray SettingsSnapshot::toText() const
{
    QJsonObject root;
    for (auto object = m_objects.cbegin(); object != m_objects.cend(); ++object) {
        QJsonObject settings;
        for (auto setting = object->cbegin(); setting != object->cend(); ++setting)
            settings.insert(setting.key(), setting.value());
        root.insert(object.key(), settings);
    }
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

bool SettingsSnapshot::fromText(const QByteArray& text, SettingsSnapshot* snapshot)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    SettingsSnapshot s;
    const QJsonObject root = document.object();
    for (auto object = root.begin(); object != root.end(); ++object) {
        if (!object.value().isObject())
            return false;
        const QJsonObject settings = object.value().toObject();
        for (auto setting = settings.begin(); setting != settings.end(); ++setting) {
            if (!setting.value().isString())
                return false;
            s.set(object.key(), setting.key(), setting.value().toString());
        }
        if (settings.isEmpty())
            s.m_objects[object.key()];
    }
    *snapshot = s;
    return true;
}
