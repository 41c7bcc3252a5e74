#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// The server's verdict on one send.
struct NotificationOutcome
{
    NotificationOutcome() = default;
    NotificationOutcome(bool accepted_, bool retryable_, const QString& answer_,
                        const QStringList& refused_ = QStringList(),
                        const QStringList& deferred_ = QStringList())
        : accepted(accepted_), retryable(retryable_), answer(answer_), refused(refused_),
          deferred(deferred_)
    {
    }

    bool accepted = false;
    // A failure that may pass (network down, server busy, 4xx reply); false for what only a
    // change of settings mends (login refused, untrusted certificate, 5xx reply).
    bool retryable = false;
    // The server's last reply (SMTP reply, HTTP status line and the start of the body), or
    // what failed before any reply.
    QString answer;
    // Recipients the mail server refused for good (RCPT TO answered with 5xx) while it took the
    // message for the others, or all of them when it took it for none.
    QStringList refused;
    // Recipients refused for now (4xx): the message is to be tried again for them alone, also
    // when it was accepted for the others (then `accepted` and `retryable` are both true).
    QStringList deferred;
};
Q_DECLARE_METATYPE(NotificationOutcome)
