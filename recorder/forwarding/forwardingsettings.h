#pragma once

#include <QString>

// Passwords and tokens are not part of these records: they are kept per user outside the
// project file, which is shared and copied.
struct MqttForwarding
{
    bool enabled = false;
    QString host;
    int port = 1883;
    bool tls = false; // the broker's certificate is always verified
    QString caFile;   // empty: the system's certificate authorities
    QString user;     // empty: no login
    QString topicPrefix = QStringLiteral("quillmar");

    bool operator==(const MqttForwarding& other) const;
};

struct InfluxForwarding
{
    bool enabled = false;
    QString url = QStringLiteral("http://localhost:8086"); // scheme, host, port, maybe a path
    QString database;
    QString user;   // empty: no login
    QString caFile; // for https: empty means the system's certificate authorities

    bool operator==(const InfluxForwarding& other) const;
};

// The forwarding settings of one project, under keys of their own in its project file; a file
// without them (every file written before forwarding existed) reads as forwarding off.
struct ForwardingSettings
{
    MqttForwarding mqtt;
    InfluxForwarding influx;

    bool isOff() const { return !mqtt.enabled && !influx.enabled; }
    bool operator==(const ForwardingSettings& other) const;

    static ForwardingSettings load(const QString& projectPath);
    // Writes only the forwarding keys; every other key of the file stays as it is.
    void save(const QString& projectPath) const;
};
