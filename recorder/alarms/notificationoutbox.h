#pragma once

#include "notificationmessage.h"
#include "notificationoutcome.h"
#include "notificationtarget.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

class DatabaseWriter;
class NotificationService;

// The project's notifications on their way: every message is put into the outbox table through
// the project's database writer and sent from there by the NotificationService (off the GUI
// thread), one at a time, until a server accepted it; then it is marked sent, again through the
// writer. A refused or failed send is tried again after 10 s, then after twice as long each
// time, up to 5 min. Messages a recorder left unsent (a crash, an outage) are read from the
// table when the project opens (off the GUI thread) and go out then: each message is sent once
// when all goes well and at most once more when the program died between the server's
// acceptance and the writer's commit of the mark (the message id lets a receiver spot it).
//
// The outbox keeps targets by name: rows name their target, never its secret, and wait while
// their target is unknown (its settings or secret not read yet). A target the settings no
// longer name (setExpectedTargets()) leaves its messages failing, shown as such.
//
// Every message id carries the database's origin (DatabaseWriter::messageOrigin()), so that no
// two databases give the same id; the id is stored with the message and kept for all its tries,
// also after a restart.
//
// Due times are stored on the wall clock (they must outlast a restart); a clock set back must
// not delay a message: a retry due later than its nominal delay from now is due after its
// nominal delay from now.
//
// At its turn a message the supersede check rejects (a reminder of an alarm that ended or was
// acknowledged meanwhile) is kept as superseded and not sent. Sent rows keep their text for the
// retention and then only their id, event, kind, target and sent time.
//
// A failure that only a change of settings mends (a 5xx reply, a refused login, an address that
// is not valid) is not tried again with the same settings: the message stays, counted as
// failing, until its target is set with other settings (or the next start tries it once more).
// Recipients the mail server refused while it took the message for the others stay listed
// (refusedRecipients()) until the target's settings change or the server takes them all. A
// recipient refused for now (4xx) gets the message on a later try, the others not again.
class NotificationOutbox : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    // True when the message is no longer worth sending.
    using SupersedeCheck = std::function<bool(const NotificationMessage& message)>;

    static constexpr qint64 FirstRetryMs = 10 * 1000;
    static constexpr qint64 LongestRetryMs = 5 * 60 * 1000;
    static constexpr int DefaultRetentionDays = 90;
    // Sent bodies older than the retention are looked for this often.
    static constexpr qint64 PruneIntervalMs = 60 * 60 * 1000;

    // `writer` and `service` stay the caller's and must outlive the outbox.
    NotificationOutbox(DatabaseWriter* writer, const QString& databasePath,
                       NotificationService* service, QObject* parent = nullptr);
    ~NotificationOutbox() override;

    void setClock(const Clock& clock);
    // Where the messages for `target.name` go from now on.
    void setTarget(const NotificationTarget& target);
    void removeTarget(const QString& name);
    // The names of the targets the settings hold (their secrets may still be on their way).
    // Messages for any other target count as failing. Until it is called every target counts
    // as expected.
    void setExpectedTargets(const QStringList& names);
    void setSupersedeCheck(const SupersedeCheck& check);
    // Days a sent message keeps its text; 0 keeps it for ever.
    void setRetentionDays(int days);

    // Reads the messages left unsent by earlier runs (answered by loaded()).
    void load();
    // Puts a message for the named target into the outbox and sends it as soon as it can.
    // A message whose attachment is larger than the attachment limit is not put in: false,
    // traced with NotificationMessage::reportSizeRefusal()'s text (the caller checks with it
    // first and shows it). The attachment is stored with the message and dropped with its
    // body after the retention.
    bool add(const NotificationMessage& message, const QString& target);
    // The largest attachment add() takes (the project's ReportMailMaxBytes).
    void setAttachmentLimit(qint64 bytes);
    qint64 attachmentLimit() const { return m_attachmentLimit; }
    // Sends what is due now; the owner calls it every second.
    void tick();

    // The delay before try number `attempt` + 1 after `attempt` failed ones.
    static qint64 retryDelayMs(int attempts);

    // Messages not accepted yet, and of those the ones that failed at least once.
    int waitingCount() const { return int(entries.size()); }
    int failingCount() const;
    // Recipients refused by the targets' servers, of every target.
    QStringList refusedRecipients() const;
    // Report mails go through `reportService` (the caller's; it must outlive the outbox), each
    // beside the other messages: a PDF of megabytes on a slow line never holds an alarm's
    // message back. Without it every message waits for the one before.
    void setReportService(NotificationService* reportService);

    // A send is on its way to a server.
    bool isSending() const { return lanes[0].inFlight != 0 || lanes[1].inFlight != 0; }
    QString lastError() const { return m_lastError; }

signals:
    void loaded(int count);
    // A message was accepted by its server.
    void sent(const QString& messageId, const QString& target);
    // A message was found no longer worth sending; it is kept as superseded.
    void superseded(const QString& messageId, const QString& target);
    // The count of failing messages, the last error or the refused recipients changed.
    void stateChanged(int failing, const QString& lastError, const QStringList& refused);

private:
    struct Entry
    {
        NotificationMessage message;
        QString messageId;
        QString target;
        int attempts = 0;
        qint64 nextAttemptMs = 0;
        QString lastError;
        // The settings of the target that refused it for good; empty while it may be tried.
        QString heldFor;
        // Taken by the server for the other recipients: tried again for these alone.
        QStringList onlyTo;
    };
    // The recipients a target's server refused, with the settings it refused them under.
    struct Refusal
    {
        QString settings;
        QStringList recipients;
    };

    // A service and the one send it has on its way.
    struct Lane
    {
        NotificationService* service = nullptr;
        quint64 inFlight = 0;
        QString key;      // the entry's
        QString settings; // of its target at the send
    };

    void adoptLoaded(const QVector<Entry>& rows);
    void sendDue();
    Lane& laneOf(const NotificationMessage& message);
    void answered(Lane* lane, quint64 request, const NotificationOutcome& outcome);
    void reportState();
    qint64 nowMs() const;
    bool isOrphaned(const Entry& entry) const;
    QString messageOrigin();
    void pruneIfDue();

    QPointer<DatabaseWriter> writer;
    QString path;
    Lane lanes[2]; // every message's, and the reports' once they have a service of their own
    Clock clock;
    SupersedeCheck supersedeCheck;
    QHash<QString, NotificationTarget> targets;
    bool expectedKnown = false;
    QSet<QString> expectedTargets;
    // Drawn when the writer has no origin to give (its file could not be written): still unique.
    QString fallbackOrigin;
    int retentionDays = DefaultRetentionDays;
    qint64 m_attachmentLimit = 10 * 1024 * 1024;
    qint64 lastPruneMs = -1;
    // In the order they were made; keyed "messageId target".
    QVector<Entry> entries;
    // Accepted in this run: a load that raced the sent mark must not bring them back.
    QSet<QString> sentKeys;
    QHash<QString, Refusal> refusals;
    QString m_lastError;
    int reportedFailing = 0;
    QString reportedError;
    QStringList reportedRefused;
};
