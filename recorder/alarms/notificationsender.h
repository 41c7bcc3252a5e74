#pragma once

#include "notificationmessage.h"
#include "notificationoutcome.h"
#include "notificationtarget.h"

#include <QObject>

#include <atomic>
#include <mutex>
#include <vector>

// One send at a time through libcurl, on a thread of its own (see NotificationService), so that
// a mail server or webhook that is slow, refuses or never answers holds up neither the user
// interface nor the recording. Requests arrive and outcomes leave through queued signals only.
// Each send is bounded by the target's connect and total timeouts, and interrupt() ends the one
// in progress at once.
class NotificationSender : public QObject
{
    Q_OBJECT

public:
    NotificationSender();
    ~NotificationSender() override;

    // Thread-safe: ends the send in progress within a poll step; every later send fails at once
    // (as worth retrying: the outbox still holds the message) until the sender is gone.
    void interrupt();

    // From libcurl's socket callbacks, on the sender's thread.
    void socketOpened(int socket);
    void socketClosed(int socket);

public slots:
    void send(quint64 requestId, const NotificationMessage& message,
              const NotificationTarget& target);

signals:
    void sent(quint64 requestId, const NotificationOutcome& outcome);

private:
    NotificationOutcome sendEmail(const NotificationMessage& message,
                                  const NotificationTarget& target);
    NotificationOutcome sendWebhook(const NotificationMessage& message,
                                    const NotificationTarget& target);
    struct Delivery;
    struct Mail;
    // One SMTP transfer of `mail` to one recipient; false when interrupted.
    bool deliver(const Mail& mail, const QString& recipient, const NotificationTarget& target,
                 qint64 timeoutMs, Delivery* delivery);
    // Runs one prepared transfer on the multi handle; false when interrupted.
    bool perform(void* easy, int* result);

    void* m_multi = nullptr;
    std::atomic<bool> m_interrupted{false};
    std::mutex m_socketsMutex;
    std::vector<int> m_sockets;
};
