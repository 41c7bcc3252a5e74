#pragma once

#include "cleartextpassword.h"

#include <QString>
#include <QStringList>

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
    // A login without TLS sends the password readable on the way.
    CleartextPassword cleartext = CleartextPassword::Unset;
    // Not stored: why the password could not be had (the secret service is locked, or it was
    // kept for another broker). The target then shows it and logs in with no password.
    QString passwordProblem;

    bool loginInClear() const { return enabled && !user.isEmpty() && !tls; }
    // The broker the password is kept for: another host, port or login asks for it again.
    QString secretTarget() const;
    bool operator==(const MqttForwarding& other) const;
};

struct InfluxForwarding
{
    bool enabled = false;
    QString url = QStringLiteral("http://localhost:8086"); // scheme, host, port, maybe a path
    QString database;
    QString user;   // empty: no login
    QString caFile; // for https: empty means the system's certificate authorities
    // A login over http sends the password readable on the way.
    CleartextPassword cleartext = CleartextPassword::Unset;
    // Not stored: as MqttForwarding's.
    QString passwordProblem;

    bool loginInClear() const;
    // The server the password is kept for (scheme, host, port, login).
    QString secretTarget() const;
    bool operator==(const InfluxForwarding& other) const;
};

// The forwarding settings of one project, under keys of their own in its project file; a file
// without them (every file written before forwarding existed) reads as forwarding off.
struct ForwardingSettings
{
    MqttForwarding mqtt;
    InfluxForwarding influx;
    // The keys load() could not read (they read as the defaults), for the window to show; not
    // part of the settings compared.
    QStringList keyProblems;

    bool isOff() const { return !mqtt.enabled && !influx.enabled; }
    // For the status bar, one per target sending its password unencrypted without the user
    // having chosen so.
    QStringList cleartextWarnings() const;
    bool operator==(const ForwardingSettings& other) const;

    static ForwardingSettings load(const QString& projectPath);
    // Writes only the forwarding keys; every other key of the file stays as it is.
    void save(const QString& projectPath) const;
};
