#include "projectforwarding.h"

#include "projectfile.h"
#include "secretstore.h"

#include <QFileInfo>
#include <QLocale>
#include <QPointer>
#include <QTimer>

namespace {

// How long a locked secret service is left alone before the passwords are asked for again.
constexpr int SecretRetryMs = 60000;

} // namespace

ProjectForwarding::ProjectForwarding(const QString& projectPath, DatabaseWriter* writer,
                                     const Gateways& gateways, QObject* parent)
    : QObject(parent), m_projectPath(projectPath), m_writer(writer), m_gateways(gateways),
      m_secretRetry(new QTimer(this))
{
    m_secretRetry->setSingleShot(true);
    m_secretRetry->setInterval(SecretRetryMs);
    connect(m_secretRetry, &QTimer::timeout, this, &ProjectForwarding::start);
}

// Made on first use: a project with forwarding off never looks for a secret service.
SecretStore* ProjectForwarding::secrets()
{
    if (!m_secrets) {
        // One project's secrets, wherever its file was opened from (as the notifications keep
        // theirs).
        const QFileInfo file(m_projectPath);
        m_secrets = new SecretStore(
            file.exists() ? file.canonicalFilePath() : file.absoluteFilePath(), this);
        connect(m_secrets, &SecretStore::readFinished, this,
                [this](const QString& name, const QString& secret, SecretStore::ReadResult result) {
                    secretRead(name, secret, int(result));
                });
    }
    return m_secrets;
}

ProjectForwarding::~ProjectForwarding() = default;

void ProjectForwarding::start()
{
    m_forwarder.reset();
    m_settings = ForwardingSettings::load(m_projectPath);
    m_mqttPassword.clear();
    m_influxPassword.clear();
    m_mqttProblem.clear();
    m_influxProblem.clear();
    m_secretRetry->stop();
    m_secretsWaiting = 0;
    emit statesChanged();
    if (m_settings.isOff())
        return;
    // A password is read only where a login is set; the target is not started without it, so
    // that a locked secret service shows as a status instead of a refused login.
    if (m_settings.mqtt.enabled && !m_settings.mqtt.user.isEmpty()) {
        ++m_secretsWaiting;
        secrets()->read(mqttSecretName(), m_settings.mqtt.secretTarget());
    }
    if (m_settings.influx.enabled && !m_settings.influx.user.isEmpty()) {
        ++m_secretsWaiting;
        secrets()->read(influxSecretName(), m_settings.influx.secretTarget());
    }
    startWhenReady();
}

void ProjectForwarding::restart()
{
    emit settingsSaved();
    if (!m_applyGate) {
        start();
        return;
    }
    QPointer<ProjectForwarding> self(this);
    m_applyGate([self] {
        if (self)
            self->start();
    });
}

void ProjectForwarding::secretRead(const QString& name, const QString& secret, int result)
{
    if (m_secretsWaiting <= 0)
        return;
    // Never a login with an empty password for want of the stored one: the target shows why.
    QString problem;
    switch (SecretStore::ReadResult(result)) {
    case SecretStore::ReadResult::Found:
        break;
    case SecretStore::ReadResult::Unavailable:
        problem = SecretStore::unavailableText();
        m_secretRetry->start();
        break;
    case SecretStore::ReadResult::OtherTarget:
        problem = QStringLiteral("Password kept for another server: enter it again in "
                                 "Forwarding");
        break;
    case SecretStore::ReadResult::NotFound:
        problem = QStringLiteral("No password is stored: enter it in Forwarding");
        break;
    }
    if (name == mqttSecretName()) {
        m_mqttPassword = secret;
        m_mqttProblem = problem;
    } else if (name == influxSecretName()) {
        m_influxPassword = secret;
        m_influxProblem = problem;
    } else {
        return;
    }
    --m_secretsWaiting;
    startWhenReady();
}

QStringList ProjectForwarding::passwordNotes() const
{
    QStringList notes;
    if (!m_mqttProblem.isEmpty())
        notes << QStringLiteral("MQTT: ") + m_mqttProblem;
    if (!m_influxProblem.isEmpty())
        notes << QStringLiteral("InfluxDB: ") + m_influxProblem;
    return notes + m_settings.cleartextWarnings();
}

void ProjectForwarding::startWhenReady()
{
    if (m_secretsWaiting > 0 || m_forwarder)
        return;
    ForwardingSettings settings = m_settings;
    settings.mqtt.passwordProblem = m_mqttProblem;
    settings.influx.passwordProblem = m_influxProblem;
    m_forwarder = std::make_unique<Forwarder>(ProjectFile::databasePath(m_projectPath), settings,
                                              m_mqttPassword, m_influxPassword, m_writer);
    connect(m_forwarder.get(), &Forwarder::statesChanged, this, &ProjectForwarding::statesChanged);
    updateLabels();
    emit statesChanged();
}

void ProjectForwarding::updateLabels()
{
    if (m_forwarder)
        m_forwarder->setLabels(labels());
}

QHash<QString, NodeLabels> ProjectForwarding::labels() const
{
    QHash<QString, NodeLabels> labels;
    if (!m_gateways)
        return labels;
    for (const GatewayConfig& gateway : m_gateways()) {
        for (const NodeConfig& config : gateway.nodes)
            labels.insert(config.deviceNumber, NodeLabels::fromConfig(config));
    }
    return labels;
}

QVector<ForwarderTargetState> ProjectForwarding::states() const
{
    if (m_forwarder)
        return m_forwarder->states();
    // Forwarding on, the passwords still being read: the targets, not started yet.
    QVector<ForwarderTargetState> states;
    if (m_settings.mqtt.enabled)
        states.append({QStringLiteral("mqtt"), QStringLiteral("MQTT"), {}, 0, 0, 0, -1});
    if (m_settings.influx.enabled)
        states.append({QStringLiteral("influx"), QStringLiteral("InfluxDB"), {}, 0, 0, 0, -1});
    return states;
}

QString ProjectForwarding::backlogText(const ForwarderTargetState& state)
{
    if (state.backlogSamples <= 0)
        return QStringLiteral("nothing waiting");
    const qint64 s = state.backlogSeconds;
    QString age;
    if (s < 120)
        age = QStringLiteral("%1 s").arg(s);
    else if (s < 7200)
        age = QStringLiteral("%1 min").arg(s / 60);
    else if (s < 2 * 86400)
        age = QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
    else
        age = QStringLiteral("%1 d %2 h").arg(s / 86400).arg(s % 86400 / 3600);
    return QStringLiteral("%1 samples waiting, oldest %2 old")
        .arg(QLocale(QLocale::English, QLocale::UnitedStates).toString(state.backlogSamples), age);
}

QString ProjectForwarding::summaryText(const QVector<ForwarderTargetState>& states)
{
    QStringList parts;
    for (const ForwarderTargetState& s : states) {
        QString part = s.name + QLatin1Char(' ') + ForwardStatus::stateText(s.status.state);
        if (s.backlogSamples > 0)
            part += QStringLiteral(" (") + backlogText(s) + QLatin1Char(')');
        if (s.historyPercent >= 0)
            part += QStringLiteral(", history %1%").arg(s.historyPercent);
        // Skipped records are lost to that target: said until it is made anew.
        if (s.status.refused > 0)
            part += QStringLiteral(", ") + ForwardStatus::refusedText(s.name, s.status.refused);
        parts << part;
    }
    return parts.isEmpty() ? QString()
                           : QStringLiteral("Forwarding: ") + parts.join(QStringLiteral(", "));
}
