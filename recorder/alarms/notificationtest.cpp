#include "notificationtest.h"

#include "notificationmessage.h"
#include "notificationservice.h"

#include <QDateTime>

NotificationTest::NotificationTest(NotificationService* service, QObject* parent)
    : QObject(parent), m_service(service)
{
    qRegisterMetaType<NotificationTarget::Kind>();
    connect(m_service, &NotificationService::finished, this, &NotificationTest::serviceFinished);
}

int NotificationTest::start(const NotificationSettings& settings, const QString& projectName,
                            const QString& password, const QString& webhookUrl,
                            const QString& heartbeatUrl)
{
    NotificationEvent event;
    event.kind = NotificationKind::Test;
    event.projectName = projectName;
    event.start = QDateTime::currentDateTime();
    // Each test is a message of its own to a receiver that weeds out copies.
    event.eventId = event.start.toMSecsSinceEpoch();
    const NotificationMessage message(event);

    int sent = 0;
    if (settings.emailEnabled) {
        m_pending.insert(m_service->send(message, settings.emailTarget(password)),
                         NotificationTarget::Kind::Email);
        ++sent;
    }
    if (settings.webhookEnabled) {
        m_pending.insert(m_service->send(message, settings.webhookTarget(webhookUrl)),
                         NotificationTarget::Kind::Webhook);
        ++sent;
    }
    if (settings.heartbeatMinutes > 0 && !heartbeatUrl.isEmpty()) {
        m_pending.insert(m_service->send(message, settings.heartbeatTarget(heartbeatUrl)),
                         NotificationTarget::Kind::Heartbeat);
        ++sent;
    }
    return sent;
}

void NotificationTest::serviceFinished(quint64 requestId, const NotificationOutcome& outcome)
{
    const auto it = m_pending.find(requestId);
    if (it == m_pending.end())
        return;
    const NotificationTarget::Kind kind = it.value();
    m_pending.erase(it);
    emit answered(kind, outcome);
    if (m_pending.isEmpty())
        emit finished();
}
