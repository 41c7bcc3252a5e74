#pragma once

#include "notificationmessage.h"
#include "notificationoutcome.h"
#include "notificationtarget.h"

#include <QObject>

#include <memory>

class NotificationSender;
class QThread;

// Owns the notification sender and its thread. send() hands one message to the thread and
// returns at once; finished() brings the outcome back on the owner's thread. Ending the service
// interrupts the send in progress, so that closing the program never waits on a server; requests
// not yet sent then get no outcome (the outbox still holds their messages).
class NotificationService : public QObject
{
    Q_OBJECT

public:
    explicit NotificationService(QObject* parent = nullptr);
    ~NotificationService() override;

    // An id for the request, handed back with its outcome.
    quint64 send(const NotificationMessage& message, const NotificationTarget& target);
    // Interrupts the send in progress and ends the thread; later sends fail at once.
    void stop();

signals:
    void finished(quint64 requestId, const NotificationOutcome& outcome);

private:
    std::unique_ptr<QThread> m_thread;
    NotificationSender* m_sender = nullptr;
    quint64 m_lastId = 0;
};
