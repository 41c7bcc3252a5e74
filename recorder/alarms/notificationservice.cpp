#include "notificationservice.h"

#include "notificationsender.h"

#include <QThread>

#include <curl/curl.h>

#include <mutex>

namespace {

// libcurl's global set-up is done once, before the first sender thread starts.
void initialiseCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

NotificationService::NotificationService(QObject* parent)
    : QObject(parent), m_thread(std::make_unique<QThread>())
{
    initialiseCurl();
    qRegisterMetaType<NotificationMessage>();
    qRegisterMetaType<NotificationTarget>();
    qRegisterMetaType<NotificationOutcome>();
    m_thread->setObjectName(QStringLiteral("notifications"));
    m_sender = new NotificationSender;
    m_sender->moveToThread(m_thread.get());
    connect(m_sender, &NotificationSender::sent, this, &NotificationService::finished,
            Qt::QueuedConnection);
    m_thread->start();
}

NotificationService::~NotificationService()
{
    stop();
}

quint64 NotificationService::send(const NotificationMessage& message,
                                  const NotificationTarget& target)
{
    const quint64 id = ++m_lastId;
    if (!m_sender) {
        const NotificationOutcome outcome{
            false, true, QStringLiteral("Sending was interrupted: the recorder is stopping.")};
        QMetaObject::invokeMethod(
            this, [this, id, outcome] { emit finished(id, outcome); }, Qt::QueuedConnection);
        return id;
    }
    QMetaObject::invokeMethod(
        m_sender, [s = m_sender, id, message, target] { s->send(id, message, target); },
        Qt::QueuedConnection);
    return id;
}

void NotificationService::stop()
{
    if (!m_sender)
        return;
    m_sender->interrupt();
    m_thread->quit();
    m_thread->wait();
    delete m_sender;
    m_sender = nullptr;
}
