#include "notificationdialog.h"
#include "ui_notificationdialog.h"

#include "notificationservice.h"
#include "notificationtest.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>

namespace {

// The order of the security box's items.
const SmtpSecurity SecurityItems[] = {SmtpSecurity::StartTls, SmtpSecurity::Smtps,
                                      SmtpSecurity::None};

int securityIndex(SmtpSecurity security)
{
    for (int i = 0; i < 3; ++i) {
        if (SecurityItems[i] == security)
            return i;
    }
    return 0;
}

} // namespace

NotificationDialog::NotificationDialog(const QString& projectPath, const QString& projectName,
                                       NotificationService* service, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::NotificationDialog>()), m_projectPath(projectPath),
      m_projectName(projectName), m_service(service ? service : new NotificationService(this))
{
    ui->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    m_test = new NotificationTest(m_service, this);
    // One project's secrets, wherever its file was opened from.
    const QFileInfo file(projectPath);
    m_secrets =
        new SecretStore(file.exists() ? file.canonicalFilePath() : file.absoluteFilePath(), this);
    m_cleartext = new QCheckBox(QStringLiteral("send the password unencrypted"));
    m_cleartext->setObjectName(QStringLiteral("checkBox_cleartext"));
    m_cleartext->setToolTip(QStringLiteral("Without STARTTLS or SMTPS the login shows the "
                                           "password to anyone on the way to the server."));
    ui->gridLayout_email->addWidget(m_cleartext, ui->gridLayout_email->rowCount(), 1, 1, 3);
    // The undecided state of an older project is left by the user's first click.
    connect(m_cleartext, &QCheckBox::clicked, this, [this] { m_cleartext->setTristate(false); });

    setSettings(NotificationSettings::load(projectPath));
    showSecretLocation();

    connect(m_secrets, &SecretStore::backendChanged, this, &NotificationDialog::showSecretLocation);
    connect(m_secrets, &SecretStore::readFinished, this, &NotificationDialog::secretRead);
    connect(m_secrets, &SecretStore::written, this, &NotificationDialog::secretWritten);
    connect(m_test, &NotificationTest::answered, this,
            [this](NotificationTarget::Kind kind, const NotificationOutcome& outcome) {
                testAnswered(int(kind), outcome);
            });
    connect(m_test, &NotificationTest::finished, this,
            [this] { ui->pushButton_test->setEnabled(true); });
    m_loadedWebhookName = settings().webhookName;
    m_passwordTarget = settings().smtpSecretTarget();
    m_secrets->read(NotificationSettings::smtpPasswordSecret(), m_passwordTarget);
    m_secrets->read(settings().webhookUrlSecret());
    m_secrets->read(NotificationSettings::heartbeatUrlSecret());

    connect(ui->pushButton_save, &QPushButton::clicked, this, &NotificationDialog::save);
    connect(ui->pushButton_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->pushButton_test, &QPushButton::clicked, this, &NotificationDialog::sendTest);
    connect(ui->pushButton_cafile, &QPushButton::clicked, this, &NotificationDialog::chooseCaFile);
    connect(ui->checkBox_email, &QCheckBox::toggled, this, &NotificationDialog::updateEnabled);
    connect(ui->checkBox_webhook, &QCheckBox::toggled, this, &NotificationDialog::updateEnabled);
    connect(ui->checkBox_reminder, &QCheckBox::toggled, this, &NotificationDialog::updateEnabled);
    connect(ui->checkBox_escalation, &QCheckBox::toggled, this, &NotificationDialog::updateEnabled);
    connect(ui->spinBox_heartbeat, qOverload<int>(&QSpinBox::valueChanged), this,
            &NotificationDialog::updateEnabled);
    // The usual port follows the security unless the user has typed another.
    connect(ui->comboBox_security, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) {
                const int port = ui->spinBox_port->value();
                if (port == 25 || port == 465 || port == 587)
                    ui->spinBox_port->setValue(SecurityItems[index] == SmtpSecurity::Smtps  ? 465
                                               : SecurityItems[index] == SmtpSecurity::None ? 25
                                                                                            : 587);
            });
    updateEnabled();
}

NotificationDialog::~NotificationDialog() = default;

NotificationSettings NotificationDialog::settings() const
{
    NotificationSettings s;
    s.emailEnabled = ui->checkBox_email->isChecked();
    s.smtpHost = ui->lineEdit_server->text().trimmed();
    s.smtpPort = quint16(ui->spinBox_port->value());
    s.smtpSecurity = SecurityItems[qBound(0, ui->comboBox_security->currentIndex(), 2)];
    s.smtpUser = ui->lineEdit_user->text().trimmed();
    s.sender = ui->lineEdit_sender->text().trimmed();
    s.recipients = NotificationSettings::parseAddresses(ui->lineEdit_recipients->text());
    s.escalationRecipients =
        NotificationSettings::parseAddresses(ui->lineEdit_escalation_recipients->text());
    s.caFile = ui->lineEdit_cafile->text().trimmed();
    s.smtpCleartext = m_cleartext->checkState() == Qt::Checked     ? CleartextPassword::Allowed
                      : m_cleartext->checkState() == Qt::Unchecked ? CleartextPassword::Refused
                                                                   : CleartextPassword::Unset;
    s.webhookEnabled = ui->checkBox_webhook->isChecked();
    const QString name = ui->lineEdit_webhook_name->text().trimmed();
    if (!name.isEmpty())
        s.webhookName = name;
    s.notifyStart = ui->checkBox_start->isChecked();
    s.notifyClear = ui->checkBox_clear->isChecked();
    s.remindersEnabled = ui->checkBox_reminder->isChecked();
    s.reminderMinutes = ui->spinBox_reminder->value();
    s.escalationEnabled = ui->checkBox_escalation->isChecked();
    s.escalationMinutes = ui->spinBox_escalation->value();
    s.heartbeatMinutes = ui->spinBox_heartbeat->value();
    // Not in the dialog: kept as the file had it.
    s.retentionDays = m_retentionDays;
    return s;
}

void NotificationDialog::setSettings(const NotificationSettings& s)
{
    ui->checkBox_email->setChecked(s.emailEnabled);
    ui->lineEdit_server->setText(s.smtpHost);
    // Set before the security, whose change would otherwise move a usual port.
    ui->comboBox_security->setCurrentIndex(securityIndex(s.smtpSecurity));
    ui->spinBox_port->setValue(s.smtpPort);
    ui->lineEdit_user->setText(s.smtpUser);
    ui->lineEdit_sender->setText(s.sender);
    ui->lineEdit_recipients->setText(s.recipients.join(QStringLiteral(", ")));
    ui->lineEdit_escalation_recipients->setText(s.escalationRecipients.join(QStringLiteral(", ")));
    ui->lineEdit_cafile->setText(s.caFile);
    m_cleartext->setTristate(s.smtpCleartext == CleartextPassword::Unset);
    m_cleartext->setCheckState(s.smtpCleartext == CleartextPassword::Allowed ? Qt::Checked
                               : s.smtpCleartext == CleartextPassword::Refused
                                   ? Qt::Unchecked
                                   : Qt::PartiallyChecked);
    ui->checkBox_webhook->setChecked(s.webhookEnabled);
    ui->lineEdit_webhook_name->setText(s.webhookName);
    ui->checkBox_start->setChecked(s.notifyStart);
    ui->checkBox_clear->setChecked(s.notifyClear);
    ui->checkBox_reminder->setChecked(s.remindersEnabled);
    ui->spinBox_reminder->setValue(s.reminderMinutes);
    ui->checkBox_escalation->setChecked(s.escalationEnabled);
    ui->spinBox_escalation->setValue(s.escalationMinutes);
    ui->spinBox_heartbeat->setValue(s.heartbeatMinutes);
    m_retentionDays = s.retentionDays;
    updateEnabled();
}

void NotificationDialog::showSecretLocation()
{
    ui->label_secrets->setText(QStringLiteral("The password and the webhook and heartbeat URLs "
                                              "are kept for you alone, in ") +
                               m_secrets->location() + QLatin1Char('.'));
}

void NotificationDialog::secretRead(const QString& name, const QString& secret,
                                    SecretStore::ReadResult result)
{
    if (name == NotificationSettings::smtpPasswordSecret() &&
        result == SecretStore::ReadResult::OtherTarget)
        ui->label_answer->setText(QStringLiteral("The password was kept for another server: "
                                                 "enter it again."));
    else if (name == NotificationSettings::smtpPasswordSecret() &&
             result == SecretStore::ReadResult::Unavailable)
        ui->label_answer->setText(SecretStore::unavailableText());
    if (result != SecretStore::ReadResult::Found)
        return;
    // What the user typed meanwhile wins over what was kept.
    if (name == NotificationSettings::smtpPasswordSecret()) {
        if (ui->lineEdit_password->text().isEmpty())
            ui->lineEdit_password->setText(secret);
    } else if (name == settings().webhookUrlSecret()) {
        if (ui->lineEdit_webhook_url->text().isEmpty())
            ui->lineEdit_webhook_url->setText(secret);
    } else if (name == NotificationSettings::heartbeatUrlSecret()) {
        if (ui->lineEdit_heartbeat_url->text().isEmpty())
            ui->lineEdit_heartbeat_url->setText(secret);
    }
}

void NotificationDialog::save()
{
    const NotificationSettings s = settings();
    if (cleartextUndecided())
        return;
    // An address that is not a plain mailbox is never kept for sending.
    if (s.emailEnabled && !s.addressProblem().isEmpty()) {
        ui->label_answer->setText(s.addressProblem());
        return;
    }
    s.save(m_projectPath);
    m_pendingWrites = 0;
    m_writeFailed = false;
    const auto keep = [this](const QString& name, const QString& secret) {
        ++m_pendingWrites;
        if (secret.isEmpty())
            m_secrets->remove(name);
        else
            m_secrets->write(name, secret);
    };
    // Only what the user changed is written: a secret still on its way from the store must
    // not be taken for one the user cleared.
    // The password is kept for the server it is saved with; one shown for a server the user
    // has since changed goes with the change.
    const QString target = s.smtpSecretTarget();
    if (ui->lineEdit_password->isModified() ||
        (target != m_passwordTarget && !ui->lineEdit_password->text().isEmpty())) {
        ++m_pendingWrites;
        if (ui->lineEdit_password->text().isEmpty())
            m_secrets->remove(NotificationSettings::smtpPasswordSecret());
        else
            m_secrets->write(NotificationSettings::smtpPasswordSecret(),
                             ui->lineEdit_password->text(), target);
        m_passwordTarget = target;
    }
    const bool renamed = m_loadedWebhookName != s.webhookName;
    if (ui->lineEdit_webhook_url->isModified() || renamed)
        keep(s.webhookUrlSecret(), ui->lineEdit_webhook_url->text().trimmed());
    // The heartbeat URL stays kept while the heartbeat is off, ready for the next time.
    if (ui->lineEdit_heartbeat_url->isModified())
        keep(NotificationSettings::heartbeatUrlSecret(),
             ui->lineEdit_heartbeat_url->text().trimmed());
    // A renamed webhook leaves no URL behind under its old name.
    if (renamed) {
        NotificationSettings old = s;
        old.webhookName = m_loadedWebhookName;
        keep(old.webhookUrlSecret(), QString());
        m_loadedWebhookName = s.webhookName;
    }
    if (m_pendingWrites == 0) {
        accept();
        return;
    }
    ui->pushButton_save->setEnabled(false);
}

void NotificationDialog::secretWritten(const QString& name, bool ok, const QString& error)
{
    if (m_pendingWrites == 0)
        return;
    if (!ok) {
        m_writeFailed = true;
        ui->label_answer->setText(QStringLiteral("Could not keep ") + name + QStringLiteral(": ") +
                                  error);
    }
    if (--m_pendingWrites > 0)
        return;
    ui->pushButton_save->setEnabled(true);
    if (!m_writeFailed)
        accept();
}

bool NotificationDialog::cleartextUndecided()
{
    const NotificationSettings s = settings();
    if (!s.smtpLoginInClear() || s.smtpCleartext != CleartextPassword::Unset)
        return false;
    ui->label_answer->setText(QStringLiteral("The server has no TLS: choose whether to send the "
                                             "password unencrypted."));
    m_cleartext->setFocus();
    return true;
}

void NotificationDialog::sendTest()
{
    // Not even a test sends the password readable before the user has chosen so.
    if (cleartextUndecided())
        return;
    const NotificationSettings s = settings();
    if (s.emailEnabled && !s.addressProblem().isEmpty()) {
        ui->label_answer->setText(s.addressProblem());
        return;
    }
    ui->label_answer->setText(QStringLiteral("Sending..."));
    const int sent = m_test->start(settings(), m_projectName, ui->lineEdit_password->text(),
                                   ui->lineEdit_webhook_url->text().trimmed(),
                                   ui->lineEdit_heartbeat_url->text().trimmed());
    if (sent == 0) {
        ui->label_answer->setText(
            QStringLiteral("Switch on e-mail, the webhook or the heartbeat first."));
        return;
    }
    ui->pushButton_test->setEnabled(false);
    ui->label_answer->clear();
}

void NotificationDialog::testAnswered(int kind, const NotificationOutcome& outcome)
{
    const auto targetKind = NotificationTarget::Kind(kind);
    const QString target = targetKind == NotificationTarget::Kind::Email ? QStringLiteral("E-mail")
                           : targetKind == NotificationTarget::Kind::Heartbeat
                               ? QStringLiteral("Heartbeat")
                               : QStringLiteral("Webhook");
    const QString verdict = outcome.accepted && !outcome.refused.isEmpty()
                                ? QStringLiteral("accepted, not for every recipient")
                            : outcome.accepted  ? QStringLiteral("accepted")
                            : outcome.retryable ? QStringLiteral("failed, would be retried")
                                                : QStringLiteral("refused, check the settings");
    QString text = ui->label_answer->text();
    if (!text.isEmpty())
        text += QLatin1Char('\n');
    text += target + QStringLiteral(": ") + verdict + QStringLiteral(" - ") +
            outcome.answer.simplified();
    ui->label_answer->setText(text);
}

void NotificationDialog::chooseCaFile()
{
    const QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("CA certificate"), QFileInfo(ui->lineEdit_cafile->text()).path(),
        QStringLiteral("Certificates (*.pem *.crt *.cer);;All files (*)"));
    if (!file.isEmpty())
        ui->lineEdit_cafile->setText(file);
}

void NotificationDialog::updateEnabled()
{
    const bool email = ui->checkBox_email->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->lineEdit_server, ui->spinBox_port, ui->comboBox_security, ui->lineEdit_user,
             ui->lineEdit_password, ui->lineEdit_sender, ui->lineEdit_recipients,
             ui->lineEdit_escalation_recipients, ui->lineEdit_cafile, ui->pushButton_cafile,
             m_cleartext})
        w->setEnabled(email);
    const bool webhook = ui->checkBox_webhook->isChecked();
    ui->lineEdit_webhook_name->setEnabled(webhook);
    ui->lineEdit_webhook_url->setEnabled(webhook);
    ui->lineEdit_heartbeat_url->setEnabled(ui->spinBox_heartbeat->value() > 0);
    ui->spinBox_reminder->setEnabled(ui->checkBox_reminder->isChecked());
    ui->spinBox_escalation->setEnabled(ui->checkBox_escalation->isChecked());
}
