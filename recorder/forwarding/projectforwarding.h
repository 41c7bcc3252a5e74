#pragma once

#include "forwarder.h"
#include "forwardingsettings.h"
#include "gatewayconfig.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class DatabaseWriter;
class QTimer;
class SecretStore;

// Forwarding of one open project: its settings from the project file, its passwords from the
// user's SecretStore (never in the project file, which is shared and copied), and the forwarder
// on the project's database while the project runs. A project with forwarding off makes no
// forwarder, opens no connection and reads nothing beyond its file's keys.
class ProjectForwarding : public QObject
{
    Q_OBJECT

public:
    // The names the passwords are kept under in the project's SecretStore.
    static QString mqttSecretName() { return QStringLiteral("forward mqtt password"); }
    static QString influxSecretName() { return QStringLiteral("forward influx password"); }

    // The project's gateways and nodes as configured now: names and units edited while the
    // project runs are sent from then on.
    using Gateways = std::function<QList<GatewayConfig>()>;

    // `writer` (the project's, open) outlives this object.
    ProjectForwarding(const QString& projectPath, DatabaseWriter* writer, const Gateways& gateways,
                      QObject* parent = nullptr);
    ~ProjectForwarding() override;

    // Reads the settings and, when forwarding is on, the passwords it needs, then starts the
    // forwarder; the passwords answer later, so this returns at once.
    void start();
    // The settings were changed (and saved): the forwarder is made anew with them, through the
    // gate when one is set.
    void restart();
    // Given the start of the saved settings, runs it when they may take effect (once their
    // audit entries are durable), or never.
    using ApplyGate = std::function<void(const std::function<void()>& apply)>;
    void setApplyGate(const ApplyGate& gate) { m_applyGate = gate; }
    // The node names and units sent with the samples, after the user edited them.
    void updateLabels();
    // The project's nodes by serial number, with their names and units as sent.
    QHash<QString, NodeLabels> labels() const;

    const ForwardingSettings& settings() const { return m_settings; }
    // Where the passwords are kept (see SecretStore::location()).
    SecretStore* secrets();
    // Null while forwarding is off or the passwords are still being read.
    Forwarder* forwarder() const { return m_forwarder.get(); }
    QVector<ForwarderTargetState> states() const;

    // One line for the status bar: empty while forwarding is off.
    static QString summaryText(const QVector<ForwarderTargetState>& states);
    // The backlog as a user reads it: "1,234 samples, 5 min".
    static QString backlogText(const ForwarderTargetState& state);
    // For the status bar beside the summary: a password not available or kept for another
    // server, a password sent unencrypted without the user's choice.
    QStringList passwordNotes() const;
    // The forwarding keys the last start could not read (statesChanged tells a new start).
    const QStringList& keyProblems() const { return m_settings.keyProblems; }

signals:
    void statesChanged();
    // restart() was called: the saved settings take effect after this returns (the audit trail
    // records them first), at once or when the gate lets them.
    void settingsSaved();

private:
    void secretRead(const QString& name, const QString& secret, int result);
    void startWhenReady();

    QString m_projectPath;
    DatabaseWriter* m_writer;
    Gateways m_gateways;
    ApplyGate m_applyGate;
    ForwardingSettings m_settings;
    SecretStore* m_secrets = nullptr;
    QString m_mqttPassword;
    QString m_influxPassword;
    // Why a password could not be had; the target shows it instead of logging in.
    QString m_mqttProblem;
    QString m_influxProblem;
    int m_secretsWaiting = 0;
    // A password the secret service could not give now is asked for again after a while.
    QTimer* m_secretRetry = nullptr;
    std::unique_ptr<Forwarder> m_forwarder;
};
