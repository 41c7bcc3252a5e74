#pragma once

#include "alarmtestrecord.h"
#include "notificationoutcome.h"
#include "notificationtarget.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

class Forwarder;
class NotificationService;
class QTimer;

// One alarm test on its way: a test alarm, marked as a test, sent at once through every
// notification target (e-mail, webhook: straight through the service, not the outbox, so that
// the answer is the server's own) and every forwarding target (MQTT, InfluxDB: through the
// running forwarder). Each target's answer is told as it comes: accepted, refused (with the
// server's words) or, when the time-out passes first, no answer. Nothing here waits: the answers
// come from the event loop, and finished() hands over one log row per target.
class AlarmTestRun : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTimeoutMs = 30000;

    // What is tested and by whom.
    struct Request
    {
        qint64 testId = 0;
        qint64 time = 0; // seconds since 1970 UTC
        QString user;
        QString project;
        QString serial;      // empty: all nodes
        QString nodesText;   // the node's name, or "all nodes"
        QStringList serials; // every serial tested, for the log
    };

    // `service` and `forwarder` may be null (no notifications, no forwarding) and may go
    // before the run: their targets are then told as not answered.
    AlarmTestRun(NotificationService* service, Forwarder* forwarder, QObject* parent = nullptr);

    void setTimeoutMs(int ms);
    // Targets that are switched on but cannot be sent to now (a secret not read yet): named
    // with the reason, logged as not answered.
    void setUnavailable(const QHash<QString, QString>& reasons) { m_unavailable = reasons; }

    // Sends the test; the number of targets (0: none is on, finished() comes at once).
    int start(const Request& request, const QVector<NotificationTarget>& notificationTargets);
    bool running() const { return !m_pending.isEmpty(); }
    // What the last start() returned.
    int targetCount() const { return m_count; }
    // The targets and their answers so far.
    const QVector<AlarmTestRecord>& rows() const { return m_rows; }

signals:
    // `target` as logged ("email", the webhook's name, "mqtt", "influx").
    void answered(const QString& target, const QString& answer, const QString& text);
    void finished(const QVector<AlarmTestRecord>& rows);

private:
    void notificationFinished(quint64 requestId, const NotificationOutcome& outcome);
    void forwardAnswered(const QString& key, qint64 testId, bool accepted, const QString& text);
    void answer(const QString& target, const QString& answer, const QString& text);
    void timedOut();

    QPointer<NotificationService> m_service;
    QPointer<Forwarder> m_forwarder;
    QTimer* m_timer;
    Request m_request;
    QHash<QString, QString> m_unavailable;
    // Request ids of the service by target name.
    QHash<quint64, QString> m_requests;
    QVector<QString> m_pending;
    QVector<AlarmTestRecord> m_rows;
    int m_count = 0;
};
