#include "notificationsettings.h"

#include "mailaddress.h"
#include "projectfile.h"
#include "projectkeyreader.h"

#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

namespace {

// Every key sits at the top level of the project file, like the existing ones.
const QString KeyEmail = QStringLiteral("NotifyEmail");
const QString KeySmtpHost = QStringLiteral("NotifySmtpHost");
const QString KeySmtpPort = QStringLiteral("NotifySmtpPort");
const QString KeySmtpSecurity = QStringLiteral("NotifySmtpSecurity");
const QString KeySmtpUser = QStringLiteral("NotifySmtpUser");
const QString KeySender = QStringLiteral("NotifySender");
const QString KeyRecipients = QStringLiteral("NotifyRecipients");
const QString KeyEscalationRecipients = QStringLiteral("NotifyEscalationRecipients");
const QString KeyCaFile = QStringLiteral("NotifyCaFile");
const QString KeySmtpCleartext = QStringLiteral("NotifySmtpUnencryptedLogin");
const QString KeyWebhook = QStringLiteral("NotifyWebhook");
const QString KeyWebhookName = QStringLiteral("NotifyWebhookName");
const QString KeyOnStart = QStringLiteral("NotifyOnStart");
const QString KeyOnClear = QStringLiteral("NotifyOnClear");
const QString KeyReminders = QStringLiteral("NotifyReminders");
const QString KeyReminderMinutes = QStringLiteral("NotifyReminderMinutes");
const QString KeyEscalation = QStringLiteral("NotifyEscalation");
const QString KeyEscalationMinutes = QStringLiteral("NotifyEscalationMinutes");
const QString KeyRetentionDays = QStringLiteral("NotifyRetentionDays");
const QString KeyCalibrationFirst = QStringLiteral("CalibrationReminderFirstDays");
const QString KeyCalibrationSecond = QStringLiteral("CalibrationReminderSecondDays");

// Days from 0 (off) to a year; any other value reads as the default and is told as a problem.
int reminderDays(const ProjectKeyReader& settings, const QString& key, int fallback,
                 QStringList* problems)
{
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const int days = value.toString().trimmed().toInt(&ok);
    if (ok && days >= 0 && days <= NotificationSettings::MaxCalibrationReminderDays)
        return days;
    problems->append(key + QStringLiteral(": not a number of days from 0 to %1, %2 used")
                               .arg(NotificationSettings::MaxCalibrationReminderDays)
                               .arg(fallback));
    return fallback;
}

bool flag(const ProjectKeyReader& settings, const QString& key, bool fallback)
{
    const QVariant value = settings.value(key);
    return value.isValid() ? value.toInt() != 0 : fallback;
}

// Minutes a hand edit may have spoiled read as the default.
int minutes(const ProjectKeyReader& settings, const QString& key, int fallback)
{
    bool ok = false;
    const int value = settings.value(key).toInt(&ok);
    return ok && value > 0 && value <= 7 * 24 * 60 ? value : fallback;
}

} // namespace

NotificationSettings NotificationSettings::load(const QString& projectPath)
{
    const ProjectKeyReader s(projectPath);
    NotificationSettings n;
    n.emailEnabled = flag(s, KeyEmail, false);
    n.smtpHost = s.text(KeySmtpHost);
    bool ok = false;
    const uint port = s.value(KeySmtpPort).toUInt(&ok);
    if (ok && port > 0 && port <= 0xFFFF)
        n.smtpPort = quint16(port);
    n.smtpSecurity = securityFromName(s.text(KeySmtpSecurity), &ok);
    if (!ok)
        n.smtpSecurity = SmtpSecurity::StartTls;
    n.smtpUser = s.text(KeySmtpUser);
    n.sender = s.text(KeySender).trimmed();
    n.recipients = parseAddresses(s.items(KeyRecipients).join(QStringLiteral(", ")));
    n.escalationRecipients =
        parseAddresses(s.items(KeyEscalationRecipients).join(QStringLiteral(", ")));
    n.caFile = s.text(KeyCaFile);
    const QVariant cleartext = s.value(KeySmtpCleartext);
    if (cleartext.isValid())
        n.smtpCleartext =
            cleartext.toInt() != 0 ? CleartextPassword::Allowed : CleartextPassword::Refused;
    n.webhookEnabled = flag(s, KeyWebhook, false);
    const QString webhookName = s.text(KeyWebhookName).trimmed();
    if (!webhookName.isEmpty())
        n.webhookName = webhookName;
    n.notifyStart = flag(s, KeyOnStart, n.notifyStart);
    n.notifyClear = flag(s, KeyOnClear, n.notifyClear);
    n.remindersEnabled = flag(s, KeyReminders, n.remindersEnabled);
    n.reminderMinutes = minutes(s, KeyReminderMinutes, n.reminderMinutes);
    n.escalationEnabled = flag(s, KeyEscalation, n.escalationEnabled);
    n.escalationMinutes = minutes(s, KeyEscalationMinutes, n.escalationMinutes);
    // Up to about 100 years; a value a hand edit spoiled reads as the default.
    const int days = s.value(KeyRetentionDays).toInt(&ok);
    if (ok && days >= 0 && days <= 36500)
        n.retentionDays = days;
    n.keyProblems = s.problems();
    n.calibrationFirstDays =
        reminderDays(s, KeyCalibrationFirst, n.calibrationFirstDays, &n.keyProblems);
    n.calibrationSecondDays =
        reminderDays(s, KeyCalibrationSecond, n.calibrationSecondDays, &n.keyProblems);
    n.heartbeatMinutes = ProjectFile(projectPath).heartbeatMinutes(&n.keyProblems);
    return n;
}

void NotificationSettings::save(const QString& projectPath) const
{
    QSettings s(projectPath, QSettings::IniFormat);
    s.setValue(KeyEmail, int(emailEnabled));
    s.setValue(KeySmtpHost, smtpHost);
    s.setValue(KeySmtpPort, int(smtpPort));
    s.setValue(KeySmtpSecurity, securityName(smtpSecurity));
    s.setValue(KeySmtpUser, smtpUser);
    s.setValue(KeySender, sender);
    s.setValue(KeyRecipients, recipients.join(QStringLiteral(", ")));
    s.setValue(KeyEscalationRecipients, escalationRecipients.join(QStringLiteral(", ")));
    s.setValue(KeyCaFile, caFile);
    if (smtpCleartext == CleartextPassword::Unset)
        s.remove(KeySmtpCleartext);
    else
        s.setValue(KeySmtpCleartext, int(smtpCleartext == CleartextPassword::Allowed));
    s.setValue(KeyWebhook, int(webhookEnabled));
    s.setValue(KeyWebhookName, webhookName);
    s.setValue(KeyOnStart, int(notifyStart));
    s.setValue(KeyOnClear, int(notifyClear));
    s.setValue(KeyReminders, int(remindersEnabled));
    s.setValue(KeyReminderMinutes, reminderMinutes);
    s.setValue(KeyEscalation, int(escalationEnabled));
    s.setValue(KeyEscalationMinutes, escalationMinutes);
    s.setValue(KeyRetentionDays, retentionDays);
    s.sync();
    ProjectFile(projectPath).saveHeartbeatMinutes(heartbeatMinutes);
}

NotificationTarget NotificationSettings::emailTarget(const QString& password, bool escalation) const
{
    NotificationTarget t;
    t.kind = NotificationTarget::Kind::Email;
    t.name = escalation ? QStringLiteral("email-escalation") : QStringLiteral("email");
    t.host = smtpHost;
    t.port = smtpPort;
    t.security = smtpSecurity;
    t.user = smtpUser;
    t.password = password;
    t.sender = sender;
    t.recipients = recipients;
    if (escalation) {
        for (const QString& address : escalationRecipients) {
            if (!t.recipients.contains(address, Qt::CaseInsensitive))
                t.recipients << address;
        }
    }
    t.caFile = caFile;
    t.cleartext = smtpCleartext;
    return t;
}

QString NotificationSettings::smtpSecretTarget() const
{
    return QStringLiteral("smtp://") + QString::fromUtf8(QUrl::toPercentEncoding(smtpUser)) +
           QLatin1Char('@') +
           QString::fromUtf8(QUrl::toPercentEncoding(smtpHost.trimmed().toLower())) +
           QLatin1Char(':') + QString::number(smtpPort);
}

bool NotificationSettings::smtpLoginInClear() const
{
    return emailEnabled && !smtpUser.isEmpty() && smtpSecurity == SmtpSecurity::None;
}

QString NotificationSettings::cleartextWarning() const
{
    if (!smtpLoginInClear() || smtpCleartext != CleartextPassword::Unset)
        return QString();
    return QStringLiteral("E-mail password sent unencrypted: choose in Notifications");
}

NotificationTarget NotificationSettings::webhookTarget(const QString& url) const
{
    NotificationTarget t;
    t.kind = NotificationTarget::Kind::Webhook;
    t.name = webhookName;
    // The CA file stands for the mail server only: it would replace the system's CAs that a
    // public webhook's certificate needs.
    t.url = url;
    return t;
}

NotificationTarget NotificationSettings::heartbeatTarget(const QString& url)
{
    NotificationTarget t;
    t.kind = NotificationTarget::Kind::Heartbeat;
    t.name = QStringLiteral("heartbeat");
    t.url = url;
    return t;
}

QString NotificationSettings::addressProblem() const
{
    return addressProblem(sender, recipients + escalationRecipients);
}

QString NotificationSettings::addressProblem(const QString& sender, const QStringList& recipients)
{
    if (!MailAddress::isValid(sender))
        return QStringLiteral("Sender address is not valid");
    for (const QString& address : recipients) {
        if (MailAddress::isValid(address))
            continue;
        // The address as the user can read it: a control character would break the status line.
        QString shown = address.left(60);
        for (QChar& c : shown) {
            if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
                c = QChar(0xFFFD);
        }
        return QStringLiteral("Recipient address is not valid: ") + shown;
    }
    return QString();
}

QStringList NotificationSettings::parseAddresses(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    return text.split(separators, Qt::SkipEmptyParts);
}

QString NotificationSettings::securityName(SmtpSecurity security)
{
    switch (security) {
    case SmtpSecurity::None:
        return QStringLiteral("none");
    case SmtpSecurity::Smtps:
        return QStringLiteral("smtps");
    case SmtpSecurity::StartTls:
        break;
    }
    return QStringLiteral("starttls");
}

SmtpSecurity NotificationSettings::securityFromName(const QString& name, bool* ok)
{
    const QString n = name.trimmed().toLower();
    if (ok)
        *ok = true;
    if (n == QLatin1String("none"))
        return SmtpSecurity::None;
    if (n == QLatin1String("smtps"))
        return SmtpSecurity::Smtps;
    if (n == QLatin1String("starttls"))
        return SmtpSecurity::StartTls;
    if (ok)
        *ok = false;
    return SmtpSecurity::StartTls;
}
