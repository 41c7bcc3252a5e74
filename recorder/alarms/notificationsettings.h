#pragma once

#include "cleartextpassword.h"
#include "notificationtarget.h"

#include <QString>
#include <QStringList>

// A project's notification settings, stored in its project file beside the other keys, each
// under a key of its own starting with "Notify" (see the .cpp). Passwords and webhook URLs are
// not part of it: they carry credentials and stay in the user's SecretStore. A file without
// these keys reads as "notifications off".
struct NotificationSettings
{
    bool emailEnabled = false;
    QString smtpHost;
    quint16 smtpPort = 587;
    SmtpSecurity smtpSecurity = SmtpSecurity::StartTls;
    QString smtpUser;
    QString sender;
    QStringList recipients;
    QStringList escalationRecipients;
    QString caFile;
    // A login without TLS sends the password readable on the way (AUTH PLAIN is base64).
    CleartextPassword smtpCleartext = CleartextPassword::Unset;

    bool webhookEnabled = false;
    // The name under which the webhook's URL is kept in the secret store and the outbox.
    QString webhookName = QStringLiteral("webhook");

    bool notifyStart = true;
    bool notifyClear = true;
    bool remindersEnabled = true;
    int reminderMinutes = 30;
    bool escalationEnabled = false;
    int escalationMinutes = 60;
    // Days a sent message keeps its text in the outbox (its id, event, kind, target and time
    // stay for good); 0 keeps the text too.
    int retentionDays = 90;
    // Days before a calibration's due date its two reminders go out (0: that one is off);
    // keys CalibrationReminderFirstDays and CalibrationReminderSecondDays, set in the project
    // file by hand (save() leaves them as they are).
    static constexpr int MaxCalibrationReminderDays = 365;
    int calibrationFirstDays = 30;
    int calibrationSecondDays = 7;
    // Minutes between the calls to the heartbeat URL while recording; 0: off. Kept under the
    // project file's key HeartbeatMinutes (see ProjectFile::heartbeatMinutes()); the URL, which
    // holds the service's token, is a secret like the webhook's.
    int heartbeatMinutes = 0;
    // The keys load() could not read (they read as the defaults), for the window to show.
    QStringList keyProblems;

    bool anyEnabled() const { return emailEnabled || webhookEnabled; }

    static NotificationSettings load(const QString& projectPath);
    void save(const QString& projectPath) const;

    // Names in the secret store of the project.
    static QString smtpPasswordSecret() { return QStringLiteral("smtp-password"); }
    QString webhookUrlSecret() const { return QStringLiteral("webhook-url/") + webhookName; }
    static QString heartbeatUrlSecret() { return QStringLiteral("heartbeat-url"); }
    // The mail server the password is kept for: another host, port or login asks for it again.
    QString smtpSecretTarget() const;
    // A login on a server without TLS.
    bool smtpLoginInClear() const;
    // For the status bar while the project sends its password unencrypted without the user
    // having chosen so; empty otherwise.
    QString cleartextWarning() const;

    // Where the messages go, with the secret looked up by the caller. The escalation target
    // writes to the escalation list as well as to the usual recipients.
    NotificationTarget emailTarget(const QString& password, bool escalation = false) const;
    NotificationTarget webhookTarget(const QString& url) const;
    static NotificationTarget heartbeatTarget(const QString& url);

    // Why the e-mail cannot go out as set: "Sender address is not valid", or "Recipient address
    // is not valid: <the address>" for the first recipient or escalation recipient that is not
    // a plain mailbox (see MailAddress); empty when every address is valid.
    QString addressProblem() const;
    static QString addressProblem(const QString& sender, const QStringList& recipients);

    // "a@b.example, c@d.example" and back; blanks and empty entries are dropped.
    static QStringList parseAddresses(const QString& text);
    static QString securityName(SmtpSecurity security);
    static SmtpSecurity securityFromName(const QString& name, bool* ok = nullptr);
};
