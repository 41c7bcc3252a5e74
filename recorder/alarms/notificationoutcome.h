#pragma once

#include <QMetaType>
#include <QString>

// The server's verdict on one send.
struct NotificationOutcome
{
    bool accepted = false;
    // A failure that may pass (network down, server busy, 4xx reply); false for what only a
    // change of settings mends (login refused, untrusted certificate, 5xx reply).
    bool retryable = false;
    // The server's last reply (SMTP reply, HTTP status line and the start of the body), or
    // what failed before any reply.
    QString answer;
};
Q_DECLARE_METATYPE(NotificationOutcome)
