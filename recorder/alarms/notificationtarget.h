#pragma once

#include "cleartextpassword.h"

#include <QMetaType>
#include <QString>
#include <QStringList>

// How the mail server is reached: plain (a relay on the local network), STARTTLS required on
// the submission port, or TLS from the first byte (SMTPS).
enum class SmtpSecurity
{
    None,
    StartTls,
    Smtps
};

// Where one message goes, with its secret (password or webhook URL) already looked up. Built
// for each send from the project's settings and the user's secret store; never stored.
struct NotificationTarget
{
    enum class Kind
    {
        Email,
        Webhook,
        // A GET of the URL, no body: the recorder is alive (see Heartbeat).
        Heartbeat
    };

    Kind kind = Kind::Email;
    // The name the outbox keeps instead of the secret.
    QString name;

    // E-mail.
    QString host;
    quint16 port = 0;
    SmtpSecurity security = SmtpSecurity::StartTls;
    QString user;
    QString password;
    QString sender;
    QStringList recipients;
    // A CA bundle for a company's own mail server; empty: the system's CAs.
    QString caFile;
    // A login without TLS goes out only when allowed (or for a project from before the choice).
    CleartextPassword cleartext = CleartextPassword::Unset;
    // Why the password could not be had (secret service locked, stored for another server):
    // the message is not sent, the text is its status, and it is tried again later.
    QString passwordProblem;

    // Webhook and heartbeat: the whole URL, token included.
    QString url;

    int connectTimeoutMs = 10000;
    int totalTimeoutMs = 30000;
    // The longest wait for any one answer of the server, the goodbye after the message included
    // (which the total time-out does not cover): so that a server that never answers holds the
    // sender, and every other target's messages behind it, no longer than this. Whole seconds,
    // at least one.
    int responseTimeoutMs = 15000;
};
Q_DECLARE_METATYPE(NotificationTarget)
Q_DECLARE_METATYPE(NotificationTarget::Kind)
