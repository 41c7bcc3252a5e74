#include "forwardingsettings.h"

#include "projectkeyreader.h"

#include <QSettings>

namespace {

// Top-level keys beside the project's own, like every key of the file.
const QString MqttEnabledKey = QStringLiteral("ForwardMqtt");
const QString MqttHostKey = QStringLiteral("ForwardMqttHost");
const QString MqttPortKey = QStringLiteral("ForwardMqttPort");
const QString MqttTlsKey = QStringLiteral("ForwardMqttTls");
const QString MqttCaFileKey = QStringLiteral("ForwardMqttCaFile");
const QString MqttUserKey = QStringLiteral("ForwardMqttUser");
const QString MqttPrefixKey = QStringLiteral("ForwardMqttTopicPrefix");
const QString InfluxEnabledKey = QStringLiteral("ForwardInflux");
const QString InfluxUrlKey = QStringLiteral("ForwardInfluxUrl");
const QString InfluxDatabaseKey = QStringLiteral("ForwardInfluxDatabase");
const QString InfluxUserKey = QStringLiteral("ForwardInfluxUser");
const QString InfluxCaFileKey = QStringLiteral("ForwardInfluxCaFile");

// A port outside 1 to 65535, or text that is no number, reads as the default.
int portValue(const ProjectKeyReader& settings, const QString& key, int fallback)
{
    bool ok = false;
    const int port = settings.text(key).toInt(&ok);
    return (ok && port > 0 && port <= 65535) ? port : fallback;
}

} // namespace

bool MqttForwarding::operator==(const MqttForwarding& other) const
{
    return enabled == other.enabled && host == other.host && port == other.port &&
           tls == other.tls && caFile == other.caFile && user == other.user &&
           topicPrefix == other.topicPrefix;
}

bool InfluxForwarding::operator==(const InfluxForwarding& other) const
{
    return enabled == other.enabled && url == other.url && database == other.database &&
           user == other.user && caFile == other.caFile;
}

bool ForwardingSettings::operator==(const ForwardingSettings& other) const
{
    return mqtt == other.mqtt && influx == other.influx;
}

ForwardingSettings ForwardingSettings::load(const QString& projectPath)
{
    const ProjectKeyReader file(projectPath);
    ForwardingSettings s;
    s.mqtt.enabled = file.value(MqttEnabledKey, false).toBool();
    s.mqtt.host = file.text(MqttHostKey);
    s.mqtt.port = portValue(file, MqttPortKey, s.mqtt.port);
    s.mqtt.tls = file.value(MqttTlsKey, false).toBool();
    s.mqtt.caFile = file.text(MqttCaFileKey);
    s.mqtt.user = file.text(MqttUserKey);
    s.mqtt.topicPrefix = file.text(MqttPrefixKey, s.mqtt.topicPrefix);
    s.influx.enabled = file.value(InfluxEnabledKey, false).toBool();
    s.influx.url = file.text(InfluxUrlKey, s.influx.url);
    s.influx.database = file.text(InfluxDatabaseKey);
    s.influx.user = file.text(InfluxUserKey);
    s.influx.caFile = file.text(InfluxCaFileKey);
    return s;
}

void ForwardingSettings::save(const QString& projectPath) const
{
    QSettings file(projectPath, QSettings::IniFormat);
    file.setValue(MqttEnabledKey, mqtt.enabled);
    file.setValue(MqttHostKey, mqtt.host);
    file.setValue(MqttPortKey, mqtt.port);
    file.setValue(MqttTlsKey, mqtt.tls);
    file.setValue(MqttCaFileKey, mqtt.caFile);
    file.setValue(MqttUserKey, mqtt.user);
    file.setValue(MqttPrefixKey, mqtt.topicPrefix);
    file.setValue(InfluxEnabledKey, influx.enabled);
    file.setValue(InfluxUrlKey, influx.url);
    file.setValue(InfluxDatabaseKey, influx.database);
    file.setValue(InfluxUserKey, influx.user);
    file.setValue(InfluxCaFileKey, influx.caFile);
}
