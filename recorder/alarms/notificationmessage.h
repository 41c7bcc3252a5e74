#pragma once

#include "notificationevent.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

// The texts of one notification: the e-mail (subject, plain-text body, RFC 5322 headers) and
// the webhook's JSON document. Each message carries an id made of its event id, its kind and
// its reminder number, so that a receiver can spot a message sent twice. A report message
// carries its PDF as an attachment until it is sent.
class NotificationMessage
{
public:
    NotificationMessage() = default;
    explicit NotificationMessage(const NotificationEvent& event);

    // A report made on schedule, its PDF attached: the subject is "[<project>] <title>
    // <period>", with " (late)" when it was made after its due time ("[Plant] Monthly report
    // 2026-11-01 to 2026-11-30 (late)"). `key` names the report and its period
    // ("report.monthly.2026-11"); the message id is the key and the database's origin, so
    // that one period's report is one message. The attachment's name is kept to printable
    // ASCII without quotes or path separators (others become '_'), at most 100 characters.
    static NotificationMessage report(const QString& projectName, const QString& reportTitle,
                                      const QString& periodText, bool late,
                                      const QString& attachmentName, const QByteArray& pdf,
                                      const QString& key);
    // Why a report of `bytes` is not mailed under the limit `limitBytes` (megabytes of 2^20
    // bytes, one decimal where it has one; kB under a megabyte): "Report too large to mail:
    // 12.3 MB, the limit is 10 MB"; empty when it fits.
    static QString reportSizeRefusal(qint64 bytes, qint64 limitBytes);

    bool hasAttachment() const;
    QString attachmentName() const;
    QByteArray attachment() const;
    // The outbox gives a report read back after a restart its attachment again.
    void setAttachment(const QString& name, const QByteArray& bytes);

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
    // A message with an attachment is sent as multipart/mixed, its parts built by the sender
    // (libcurl's MIME API): this is the whole message for one without.
    QByteArray email(const QString& from, const QStringList& to, const QDateTime& date) const;
    // The message's own header lines as email() writes them (Date, From, To, Message-ID,
    // Subject, X-...), each without its final CRLF (a folded one keeps its inner ones), without
    // the MIME headers: for a message whose body the sender builds in parts.
    QList<QByteArray> emailHeaders(const QString& from, const QStringList& to,
                                   const QDateTime& date) const;
    // The body for a text part as UTF-8 with CRLF line ends, not yet encoded;
    // `quotedPrintable` tells whether it must be (it holds more than printable ASCII or a line
    // too long for 7bit).
    QByteArray bodyPart(bool* quotedPrintable) const;

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
    QString reportLine() const;
    QByteArray headerBlock(const QString& from, const QStringList& to,
                           const QDateTime& date) const;

    NotificationEvent m_event;
    QDateTime m_created;
    QString m_key;
    QString m_attachmentName;
    QByteArray m_attachment;
};
Q_DECLARE_METATYPE(NotificationMessage)
