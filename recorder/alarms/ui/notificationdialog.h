#pragma once

#include "notificationsettings.h"
#include "secretstore.h"

#include <QDialog>

#include <memory>

struct NotificationOutcome;
class NotificationService;
class NotificationTest;
class QCheckBox;

namespace Ui {
class NotificationDialog;
}
class QCheckBox;

// The project's notification settings: recipients, mail server, webhook, which events, and a
// test message with the server's answer. Settings go to the project file on SAVE; the password
// and the webhook URL go to the user's secret store, whose whereabouts the dialog names.
class NotificationDialog : public QDialog
{
    Q_OBJECT

public:
    // Without a service the dialog sends its test messages through one of its own.
    NotificationDialog(const QString& projectPath, const QString& projectName,
                       NotificationService* service = nullptr, QWidget* parent = nullptr);
    ~NotificationDialog() override;

    // The form as settings, and the other way round.
    NotificationSettings settings() const;
    void setSettings(const NotificationSettings& settings);
    SecretStore* secretStore() const { return m_secrets; }

public slots:
    // Writes the settings and the secrets; the dialog closes once the secrets are kept.
    void save();
    void sendTest();

private:
    void showSecretLocation();
    // A login without TLS whose "send the password unencrypted" is not chosen yet: says so.
    bool cleartextUndecided();
    void secretRead(const QString& name, const QString& secret, SecretStore::ReadResult result);
    void secretWritten(const QString& name, bool ok, const QString& error);
    void testAnswered(int kind, const NotificationOutcome& outcome);
    void chooseCaFile();
    void updateEnabled();

    std::unique_ptr<Ui::NotificationDialog> ui;
    QString m_projectPath;
    QString m_projectName;
    NotificationService* m_service = nullptr;
    NotificationTest* m_test = nullptr;
    SecretStore* m_secrets = nullptr;
    // "send the password unencrypted": partly checked for a project from before the choice,
    // which must be made before the settings are saved with a login without TLS.
    QCheckBox* m_cleartext = nullptr;
    // The server the password in the form was read for.
    QString m_passwordTarget;
    // The webhook name whose URL the form shows.
    QString m_loadedWebhookName;
    int m_pendingWrites = 0;
    bool m_writeFailed = false;
    int m_retentionDays = NotificationSettings().retentionDays;
};
