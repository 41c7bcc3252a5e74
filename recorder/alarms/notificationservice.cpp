#include "notificationservice.h"

#include "curllibrary.h"
#include "notificationsender.h"

#include <QThread>

NotificationService::NotificationService(QObject* parent)
    : QObject(parent), m_thread(std::make_unique<QThread>())
{
    // Before the first sender thread starts.
    CurlLibrary::setUp();
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
