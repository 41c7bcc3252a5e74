#pragma once

#include "notificationevent.h"

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringList>

// The texts of one notification: the e-mail (subject, plain-text body, RFC 5322 headers) and
// the webhook's JSON document. Each message carries an id made of its event id, its kind and
// its reminder number, so that a receiver can spot a message sent twice.
class NotificationMessage
{
public:
    NotificationMessage() = default;
    explicit NotificationMessage(const NotificationEvent& event);

    const NotificationEvent& event() const { return m_event; }
    // When the message was made (its Date header): now, unless the outbox restores a message
    // made before a restart.
    QDateTime created() const { return m_created; }
    void setCreated(const QDateTime& time) { m_created = time; }

    // The message id, the same for every copy of one message: the one the outbox gave it
    // (setKey()), else "alarm.<event id>.<kind>[.<reminder>]".
    QString key() const;
    // The outbox stores the id with the message and gives it back after a restart.
    void setKey(const QString& key) { m_key = key; }
    // "alarm.<event id>.<kind>[.<reminder>].<origin>": unique across databases, since each
    // draws its own origin (DatabaseWriter::messageOrigin()).
    QString keyWithOrigin(const QString& origin) const;
    QString subject() const;
    // Lines joined by "\n".
    QString body() const;
    QByteArray json() const;
    // The whole message as sent over SMTP: CRLF line ends, non-ASCII text UTF-8 encoded (an
    // encoded word in the subject, quoted-printable in the body). `date` is written in its
    // local time with its offset.
    QByteArray email(const QString& from, const QStringList& to, const QDateTime& date) const;

    // Names used in texts and in the JSON document.
    static QString kindName(NotificationKind kind);
    // "Tue, 05 Mar 2024 14:03:00 +0100" in the local time of `time`.
    static QByteArray rfc5322Date(const QDateTime& time);
    // ISO 8601 in local time with the offset: "2024-03-05T14:03:00+01:00".
    static QString localIsoTime(const QDateTime& time);

private:
    QString valueText(double value) const;
    // "Calibration due: <node> / <channel> on <date>", or "... overdue: ... since <date>".
    QString calibrationLine() const;

    NotificationEvent m_event;
    QDateTime m_created;
    QString m_key;
};
Q_DECLARE_METATYPE(NotificationMessage)
