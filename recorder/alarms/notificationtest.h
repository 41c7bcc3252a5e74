#pragma once

#include "notificationoutcome.h"
#include "notificationsettings.h"

#include <QHash>
#include <QObject>

class NotificationService;

// "Send test message": one test message to each target the settings switch on, with the
// secrets as the user typed them, each answered with the server's reply.
class NotificationTest : public QObject
{
    Q_OBJECT

public:
    explicit NotificationTest(NotificationService* service, QObject* parent = nullptr);

    // The number of messages sent (0 when no target is on); answered() follows for each. A
    // heartbeat that is on and has a URL is called once as well.
    int start(const NotificationSettings& settings, const QString& projectName,
              const QString& password, const QString& webhookUrl,
              const QString& heartbeatUrl = QString());
    bool running() const { return !m_pending.isEmpty(); }

signals:
    void answered(NotificationTarget::Kind kind, const NotificationOutcome& outcome);
    // Every message of the test has its answer.
    void finished();

private:
    void serviceFinished(quint64 requestId, const NotificationOutcome& outcome);

    NotificationService* m_service;
    QHash<quint64, NotificationTarget::Kind> m_pending;
};
