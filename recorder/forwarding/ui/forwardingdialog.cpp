#include "forwardingdialog.h"

#include "mqttlayout.h"
#include "projectforwarding.h"
#include "secretstore.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QUrl>
#include <QVBoxLayout>

#include <tuple>

namespace {

QLineEdit* passwordEdit(QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setEchoMode(QLineEdit::Password);
    // Kept passwords are never shown: an empty field keeps the one stored.
    edit->setPlaceholderText(QStringLiteral("unchanged"));
    return edit;
}

QLabel* statusLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The server's words are shown as they are: a status line with markup is not rich text.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Room for the state and an error of a few lines from the start: the text arrives after the
    // dialog has taken its size.
    label->setMinimumHeight(label->fontMetrics().lineSpacing() * 5);
    return label;
}

QString stateLine(const ForwarderTargetState* state, bool enabled)
{
    if (!enabled)
        return QStringLiteral("Status: off");
    if (!state)
        return QStringLiteral("Status: starts when saved");
    QString text = QStringLiteral("Status: ") + ForwardStatus::stateText(state->status.state) +
                   QStringLiteral(", ") + ProjectForwarding::backlogText(*state);
    if (state->historyPercent >= 0)
        text += QStringLiteral(", history %1% sent").arg(state->historyPercent);
    if (state->status.refused > 0)
        text += QLatin1Char('\n') + ForwardStatus::refusedText(state->name, state->status.refused);
    if (!state->status.lastError.isEmpty())
        text += QStringLiteral("\nLast error: ") + state->status.lastError;
    return text;
}

// The user's first click leaves the undecided state of an older project.
QCheckBox* cleartextBox(QWidget* parent)
{
    auto* box = new QCheckBox(QStringLiteral("send the password unencrypted"), parent);
    box->setToolTip(QStringLiteral("Without TLS the login shows the password to anyone on the "
                                   "way to the server."));
    QObject::connect(box, &QCheckBox::clicked, box, [box] { box->setTristate(false); });
    return box;
}

void showCleartext(QCheckBox* box, CleartextPassword value)
{
    box->setTristate(value == CleartextPassword::Unset);
    box->setCheckState(value == CleartextPassword::Allowed   ? Qt::Checked
                       : value == CleartextPassword::Refused ? Qt::Unchecked
                                                             : Qt::PartiallyChecked);
}

CleartextPassword cleartextOf(const QCheckBox* box)
{
    return box->checkState() == Qt::Checked     ? CleartextPassword::Allowed
           : box->checkState() == Qt::Unchecked ? CleartextPassword::Refused
                                                : CleartextPassword::Unset;
}

} // namespace

ForwardingDialog::ForwardingDialog(const QString& projectPath, ProjectForwarding* forwarding,
                                   QWidget* parent)
    : QDialog(parent), m_projectPath(projectPath), m_forwarding(forwarding)
{
    setObjectName(QStringLiteral("ForwardingDialog"));
    setWindowTitle(QStringLiteral("Forwarding"));
    setWindowModality(Qt::ApplicationModal);

    auto* mqttBox = new QGroupBox(QStringLiteral("MQTT broker"), this);
    auto* mqttLayout = new QVBoxLayout(mqttBox);
    auto* mqttForm = new QFormLayout;
    mqttLayout->addLayout(mqttForm);
    m_mqttOn = new QCheckBox(QStringLiteral("Publish every sample and alarm event"), mqttBox);
    m_mqttHost = new QLineEdit(mqttBox);
    m_mqttPort = new QSpinBox(mqttBox);
    m_mqttPort->setRange(1, 65535);
    m_mqttTls =
        new QCheckBox(QStringLiteral("TLS (the broker's certificate is verified)"), mqttBox);
    m_mqttCaFile = new QLineEdit(mqttBox);
    m_mqttCaFile->setPlaceholderText(QStringLiteral("the system's certificate authorities"));
    m_mqttUser = new QLineEdit(mqttBox);
    m_mqttUser->setPlaceholderText(QStringLiteral("no login"));
    m_mqttPassword = passwordEdit(mqttBox);
    m_mqttCleartext = cleartextBox(mqttBox);
    m_mqttPrefix = new QLineEdit(mqttBox);
    m_mqttTopics = new QPlainTextEdit(mqttBox);
    m_mqttTopics->setObjectName(QStringLiteral("mqttTopics"));
    m_mqttTopics->setReadOnly(true);
    m_mqttTopics->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_mqttTopics->setMaximumHeight(m_mqttTopics->fontMetrics().lineSpacing() * 4);
    m_mqttStatus = statusLabel(mqttBox);
    mqttForm->addRow(m_mqttOn);
    mqttForm->addRow(QStringLiteral("Host"), m_mqttHost);
    mqttForm->addRow(QStringLiteral("Port"), m_mqttPort);
    mqttForm->addRow(QString(), m_mqttTls);
    mqttForm->addRow(QStringLiteral("CA file"), m_mqttCaFile);
    mqttForm->addRow(QStringLiteral("User"), m_mqttUser);
    mqttForm->addRow(QStringLiteral("Password"), m_mqttPassword);
    mqttForm->addRow(QString(), m_mqttCleartext);
    mqttForm->addRow(QStringLiteral("Topic prefix"), m_mqttPrefix);
    mqttLayout->addWidget(m_mqttStatus, 1);

    auto* influxBox = new QGroupBox(QStringLiteral("InfluxDB 1.x"), this);
    auto* influxLayout = new QVBoxLayout(influxBox);
    auto* influxForm = new QFormLayout;
    influxLayout->addLayout(influxForm);
    m_influxOn = new QCheckBox(QStringLiteral("Write every sample and alarm event"), influxBox);
    m_influxUrl = new QLineEdit(influxBox);
    m_influxDatabase = new QLineEdit(influxBox);
    m_influxUser = new QLineEdit(influxBox);
    m_influxUser->setPlaceholderText(QStringLiteral("no login"));
    m_influxPassword = passwordEdit(influxBox);
    m_influxCleartext = cleartextBox(influxBox);
    m_influxCaFile = new QLineEdit(influxBox);
    m_influxCaFile->setPlaceholderText(QStringLiteral("the system's certificate authorities"));
    m_influxStatus = statusLabel(influxBox);
    influxForm->addRow(m_influxOn);
    influxForm->addRow(QStringLiteral("URL"), m_influxUrl);
    influxForm->addRow(QStringLiteral("Database"), m_influxDatabase);
    influxForm->addRow(QStringLiteral("User"), m_influxUser);
    influxForm->addRow(QStringLiteral("Password"), m_influxPassword);
    influxForm->addRow(QString(), m_influxCleartext);
    influxForm->addRow(QStringLiteral("CA file (https)"), m_influxCaFile);
    influxLayout->addWidget(m_influxStatus, 1);

    auto* targets = new QHBoxLayout;
    targets->addWidget(mqttBox);
    targets->addWidget(influxBox);

    auto* historyBox = new QGroupBox(QStringLiteral("History"), this);
    auto* historyLayout = new QHBoxLayout;
    m_historyStart = new QDateTimeEdit(QDateTime::currentDateTime().addDays(-1), historyBox);
    m_historyStart->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    m_historyStart->setCalendarPopup(true);
    m_historyButton = new QPushButton(QStringLiteral("Send history from"), historyBox);
    m_historyProgress = new QProgressBar(historyBox);
    m_historyProgress->setRange(0, 100);
    m_historyProgress->setVisible(false);
    historyLayout->addWidget(m_historyButton);
    historyLayout->addWidget(m_historyStart);
    historyLayout->addWidget(m_historyProgress, 1);
    historyLayout->addStretch();
    auto* historyNote =
        new QLabel(QStringLiteral("A target not used before (another host, port, database or "
                                  "prefix) starts with the newest row; \"Send history from\" "
                                  "sends what was recorded before."),
                   historyBox);
    historyNote->setObjectName(QStringLiteral("historyNote"));
    historyNote->setWordWrap(true);
    auto* historyColumn = new QVBoxLayout;
    historyColumn->addLayout(historyLayout);
    historyColumn->addWidget(historyNote);

    m_secretsLabel = new QLabel(this);
    m_secretsLabel->setWordWrap(true);
    m_problemLabel = new QLabel(this);
    m_problemLabel->setStyleSheet(QStringLiteral("color: #c0392b;"));
    m_problemLabel->setWordWrap(true);
    m_saveButton = new QPushButton(QStringLiteral("Save"), this);
    auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_problemLabel, 1);
    buttons->addWidget(m_saveButton);
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(targets);
    historyBox->setLayout(historyColumn);
    // Beside the history: the height of a small screen goes to the targets' forms.
    auto* topicsBox = new QGroupBox(QStringLiteral("MQTT topics of the nodes"), this);
    auto* topicsLayout = new QVBoxLayout(topicsBox);
    m_mqttTopics->setParent(topicsBox);
    topicsLayout->addWidget(m_mqttTopics);
    auto* lower = new QHBoxLayout;
    lower->addWidget(historyBox, 1);
    lower->addWidget(topicsBox, 1);
    layout->addLayout(lower);
    layout->addWidget(m_secretsLabel);
    layout->addLayout(buttons);

    if (m_forwarding) {
        QMap<QString, QString> nodes;
        const QHash<QString, NodeLabels> labels = m_forwarding->labels();
        for (auto it = labels.cbegin(); it != labels.cend(); ++it)
            nodes.insert(it.key(), it.value().nodeName);
        m_nodes = nodes;
    }
    setSettings(ForwardingSettings::load(projectPath));
    connect(m_saveButton, &QPushButton::clicked, this, &ForwardingDialog::save);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_historyButton, &QPushButton::clicked, this, &ForwardingDialog::sendHistory);
    for (QCheckBox* box : {m_mqttOn, m_mqttTls, m_influxOn})
        connect(box, &QCheckBox::toggled, this, &ForwardingDialog::updateEnabled);
    for (QCheckBox* box : {m_mqttCleartext, m_influxCleartext})
        connect(box, &QCheckBox::stateChanged, this, &ForwardingDialog::updateEnabled);
    for (QLineEdit* edit :
         {m_mqttHost, m_mqttPrefix, m_influxUrl, m_influxDatabase, m_mqttUser, m_influxUser})
        connect(edit, &QLineEdit::textChanged, this, &ForwardingDialog::updateEnabled);
    if (m_forwarding) {
        connect(m_forwarding, &ProjectForwarding::statesChanged, this,
                &ForwardingDialog::showStates);
        SecretStore* secrets = m_forwarding->secrets();
        connect(secrets, &SecretStore::backendChanged, this, &ForwardingDialog::showSecretLocation);
        connect(secrets, &SecretStore::written, this, &ForwardingDialog::secretWritten);
    }
    showSecretLocation();
    showStates();
    updateEnabled();
}

ForwardingDialog::~ForwardingDialog() = default;

ForwardingSettings ForwardingDialog::settings() const
{
    ForwardingSettings s;
    s.mqtt.enabled = m_mqttOn->isChecked();
    s.mqtt.host = m_mqttHost->text().trimmed();
    s.mqtt.port = m_mqttPort->value();
    s.mqtt.tls = m_mqttTls->isChecked();
    s.mqtt.caFile = m_mqttCaFile->text().trimmed();
    s.mqtt.user = m_mqttUser->text().trimmed();
    s.mqtt.topicPrefix = m_mqttPrefix->text().trimmed();
    s.mqtt.cleartext = cleartextOf(m_mqttCleartext);
    s.influx.enabled = m_influxOn->isChecked();
    s.influx.url = m_influxUrl->text().trimmed();
    s.influx.database = m_influxDatabase->text().trimmed();
    s.influx.user = m_influxUser->text().trimmed();
    s.influx.caFile = m_influxCaFile->text().trimmed();
    s.influx.cleartext = cleartextOf(m_influxCleartext);
    return s;
}

void ForwardingDialog::setSettings(const ForwardingSettings& s)
{
    m_mqttOn->setChecked(s.mqtt.enabled);
    m_mqttHost->setText(s.mqtt.host);
    m_mqttPort->setValue(s.mqtt.port);
    m_mqttTls->setChecked(s.mqtt.tls);
    m_mqttCaFile->setText(s.mqtt.caFile);
    m_mqttUser->setText(s.mqtt.user);
    m_mqttPrefix->setText(s.mqtt.topicPrefix);
    showCleartext(m_mqttCleartext, s.mqtt.cleartext);
    m_influxOn->setChecked(s.influx.enabled);
    m_influxUrl->setText(s.influx.url);
    m_influxDatabase->setText(s.influx.database);
    m_influxUser->setText(s.influx.user);
    m_influxCaFile->setText(s.influx.caFile);
    showCleartext(m_influxCleartext, s.influx.cleartext);
    updateEnabled();
}

QString ForwardingDialog::problem() const
{
    const ForwardingSettings s = settings();
    if (s.mqtt.enabled) {
        if (s.mqtt.host.isEmpty())
            return QStringLiteral("The MQTT broker needs a host.");
        const QString prefix = MqttLayout::prefixProblem(s.mqtt.topicPrefix);
        if (!prefix.isEmpty())
            return QStringLiteral("Topic prefix: ") + prefix;
        if (s.mqtt.loginInClear() && s.mqtt.cleartext == CleartextPassword::Unset)
            return QStringLiteral("The broker has no TLS: choose whether to send the MQTT "
                                  "password unencrypted.");
    }
    if (s.influx.enabled) {
        const QUrl url(s.influx.url);
        if (!url.isValid() || url.host().isEmpty() ||
            (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
            return QStringLiteral("The InfluxDB URL must be http:// or https:// with a host.");
        // The project file is shared and copied: a login in the URL would be kept there.
        if (!url.userInfo().isEmpty())
            return QStringLiteral("The InfluxDB URL must not hold a user or password: enter "
                                  "them under User and Password.");
        if (s.influx.database.isEmpty())
            return QStringLiteral("InfluxDB needs a database name.");
        if (s.influx.loginInClear() && s.influx.cleartext == CleartextPassword::Unset)
            return QStringLiteral("The URL is http: choose whether to send the InfluxDB "
                                  "password unencrypted.");
    }
    return QString();
}

void ForwardingDialog::updateEnabled()
{
    const bool mqtt = m_mqttOn->isChecked();
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_mqttHost, m_mqttPort, m_mqttTls, m_mqttUser,
                                         m_mqttPassword, m_mqttCleartext, m_mqttPrefix})
        w->setEnabled(mqtt);
    m_mqttCaFile->setEnabled(mqtt && m_mqttTls->isChecked());
    const bool influx = m_influxOn->isChecked();
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_influxUrl, m_influxDatabase, m_influxUser,
                                         m_influxPassword, m_influxCleartext, m_influxCaFile})
        w->setEnabled(influx);
    showTopics();
    const QString why = problem();
    m_problemLabel->setText(!why.isEmpty() || m_writeError.isEmpty()
                                ? why
                                : QStringLiteral("The password could not be kept: ") +
                                      m_writeError);
    m_saveButton->setEnabled(why.isEmpty() && m_pendingWrites == 0);
    // History goes to the targets running now, as saved.
    m_historyButton->setEnabled(m_forwarding && m_forwarding->forwarder());
    m_historyStart->setEnabled(m_historyButton->isEnabled());
}

void ForwardingDialog::setNodes(const QMap<QString, QString>& nodes)
{
    m_nodes = nodes;
    showTopics();
}

// One line per node: where its samples and alarm events go with the prefix as typed.
void ForwardingDialog::showTopics()
{
    const QString prefix = m_mqttPrefix->text().trimmed();
    QStringList lines;
    if (m_nodes.isEmpty())
        lines << QStringLiteral("No node is configured yet.");
    for (auto it = m_nodes.cbegin(); it != m_nodes.cend(); ++it) {
        QString topic = MqttLayout::alarmTopic(prefix, it.key());
        topic.chop(QStringLiteral("alarm").size());
        lines << topic + QStringLiteral("<1|2|alarm>  ") + it.value();
    }
    const QString text = lines.join(QLatin1Char('\n'));
    if (m_mqttTopics->toPlainText() != text)
        m_mqttTopics->setPlainText(text);
}

void ForwardingDialog::showSecretLocation()
{
    const QString where =
        m_forwarding ? m_forwarding->secrets()->location() : QStringLiteral("your secret store");
    m_secretsLabel->setText(QStringLiteral("Passwords are not kept in the project file: they are "
                                           "kept for you alone, in ") +
                            where + QLatin1Char('.'));
}

void ForwardingDialog::showStates()
{
    const ForwardingSettings saved = m_forwarding ? m_forwarding->settings() : ForwardingSettings();
    const QVector<ForwarderTargetState> states =
        m_forwarding ? m_forwarding->states() : QVector<ForwarderTargetState>();
    const auto find = [&](const QString& key) -> const ForwarderTargetState* {
        for (const ForwarderTargetState& s : states)
            if (s.key == key)
                return &s;
        return nullptr;
    };
    m_mqttStatus->setText(stateLine(find(QStringLiteral("mqtt")), saved.mqtt.enabled));
    m_influxStatus->setText(stateLine(find(QStringLiteral("influx")), saved.influx.enabled));
    int history = -1;
    for (const ForwarderTargetState& s : states)
        history = std::max(history, s.historyPercent);
    m_historyProgress->setVisible(history >= 0);
    m_historyProgress->setValue(std::max(history, 0));
    updateEnabled();
}

void ForwardingDialog::sendHistory()
{
    if (m_forwarding && m_forwarding->forwarder())
        m_forwarding->forwarder()->sendHistoryFrom(m_historyStart->dateTime().toSecsSinceEpoch());
}

void ForwardingDialog::save()
{
    if (!problem().isEmpty())
        return;
    const ForwardingSettings s = settings();
    s.save(m_projectPath);
    m_writeError.clear();
    if (m_forwarding) {
        SecretStore* secrets = m_forwarding->secrets();
        // Each password is kept for the server it is saved with.
        const std::tuple<QLineEdit*, QString, QString> typed[] = {
            {m_mqttPassword, ProjectForwarding::mqttSecretName(), s.mqtt.secretTarget()},
            {m_influxPassword, ProjectForwarding::influxSecretName(), s.influx.secretTarget()}};
        for (const auto& [edit, name, target] : typed) {
            if (edit->text().isEmpty())
                continue;
            ++m_pendingWrites;
            secrets->write(name, edit->text(), target);
            edit->clear();
        }
        // The secret store answers in order: the forwarder made anew reads what was just written.
        m_forwarding->restart();
    }
    updateEnabled();
}

void ForwardingDialog::secretWritten(const QString&, bool ok, const QString& error)
{
    if (m_pendingWrites > 0)
        --m_pendingWrites;
    if (!ok)
        m_writeError = error;
    updateEnabled();
}
