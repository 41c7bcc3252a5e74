#include "forwardingsettings.h"

#include "projectkeyreader.h"

#include <QSettings>
#include <QUrl>

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
const QString MqttCleartextKey = QStringLiteral("ForwardMqttUnencryptedLogin");
const QString InfluxCleartextKey = QStringLiteral("ForwardInfluxUnencryptedLogin");

// Absent: a file from before the choice existed.
CleartextPassword cleartextValue(const ProjectKeyReader& settings, const QString& key)
{
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return CleartextPassword::Unset;
    return value.toBool() ? CleartextPassword::Allowed : CleartextPassword::Refused;
}

void setCleartext(QSettings* settings, const QString& key, CleartextPassword value)
{
    if (value == CleartextPassword::Unset)
        settings->remove(key);
    else
        settings->setValue(key, value == CleartextPassword::Allowed);
}

QString encoded(const QString& text)
{
    return QString::fromUtf8(QUrl::toPercentEncoding(text));
}

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
           topicPrefix == other.topicPrefix && cleartext == other.cleartext;
}

QString MqttForwarding::secretTarget() const
{
    return QStringLiteral("mqtt://") + encoded(user) + QLatin1Char('@') +
           encoded(host.trimmed().toLower()) + QLatin1Char(':') + QString::number(port);
}

bool InfluxForwarding::loginInClear() const
{
    return enabled && !user.isEmpty() &&
           QUrl(url.trimmed()).scheme().toLower() != QLatin1String("https");
}

QString InfluxForwarding::secretTarget() const
{
    const QUrl u(url.trimmed());
    const QString scheme = u.scheme().toLower();
    const int port = u.port(scheme == QLatin1String("https") ? 443 : 80);
    return scheme + QStringLiteral("://") + encoded(user) + QLatin1Char('@') +
           encoded(u.host().toLower()) + QLatin1Char(':') + QString::number(port);
}

QStringList ForwardingSettings::cleartextWarnings() const
{
    QStringList warnings;
    if (mqtt.loginInClear() && mqtt.cleartext == CleartextPassword::Unset)
        warnings << QStringLiteral("MQTT password sent unencrypted: choose in Forwarding");
    if (influx.loginInClear() && influx.cleartext == CleartextPassword::Unset)
        warnings << QStringLiteral("InfluxDB password sent unencrypted: choose in Forwarding");
    return warnings;
}

bool InfluxForwarding::operator==(const InfluxForwarding& other) const
{
    return enabled == other.enabled && url == other.url && database == other.database &&
           user == other.user && caFile == other.caFile && cleartext == other.cleartext;
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
    s.mqtt.cleartext = cleartextValue(file, MqttCleartextKey);
    s.influx.enabled = file.value(InfluxEnabledKey, false).toBool();
    s.influx.url = file.text(InfluxUrlKey, s.influx.url);
    s.influx.database = file.text(InfluxDatabaseKey);
    s.influx.user = file.text(InfluxUserKey);
    s.influx.caFile = file.text(InfluxCaFileKey);
    s.influx.cleartext = cleartextValue(file, InfluxCleartextKey);
    s.keyProblems = file.problems();
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
    setCleartext(&file, MqttCleartextKey, mqtt.cleartext);
    setCleartext(&file, InfluxCleartextKey, influx.cleartext);
}
