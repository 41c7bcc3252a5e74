#pragma once

#include "forwardcursor.h"
#include "forwarder.h"
#include "forwardersamplereader.h"

#include <QHash>
#include <QObject>

#include <memory>
#include <optional>
#include <vector>

class ForwardTarget;
class QTimer;

// The forwarder's side on its own thread: the read connection, the targets and their cursors.
class ForwarderWorker : public QObject
{
    Q_OBJECT

public:
    ForwarderWorker(const QString& databasePath, const ForwardingSettings& settings,
                    const QString& mqttPassword, const QString& influxPassword,
                    const ForwarderOptions& options);
    ~ForwarderWorker() override;

    // Filled by stop(): the cursors as they stand at the end, by name.
    QHash<QString, qint64> finalPositions;

public slots:
    void start();
    void setLabels(const QHash<QString, NodeLabels>& labels);
    void sendHistoryFrom(qint64 time);
    // Through every target at once; each answers with alarmTestAnswered().
    void sendAlarmTest(const ForwardAlarmTest& test);
    // Ends the targets and the thread.
    void stop();

signals:
    void positionReached(const QString& name, qint64 position);
    void statesChanged(const QVector<ForwarderTargetState>& states);
    // `key` "mqtt" or "influx"; refused with the server's words as `text`.
    void alarmTestAnswered(const QString& key, qint64 testId, bool accepted, const QString& text);

private:
    struct Stream
    {
        ForwarderTargetState state;
        QString rowCursor; // the names of its cursors in the database
        QString alarmCursor;
        std::unique_ptr<ForwardTarget> target;
        ForwardCursor rows;
        ForwardCursor alarms;
        // While history is sent: the cursor it started from, the end it goes to, and its start
        // time (a batch of the writer stores its rows in no particular order of time, so rows
        // before the start may stand among the ids after it).
        qint64 historyFrom = -1;
        qint64 historyTo = 0;
        qint64 historyTime = 0;
        // The audit trail's head: the last one the target took, and the one on its way.
        std::optional<ForwardAuditHead> headTaken;
        std::optional<ForwardAuditHead> headSending;
    };

    bool place();
    void pump();
    void pumpRows(Stream& stream);
    void pumpAlarms(Stream& stream);
    void pumpAuditHead(Stream& stream, const std::optional<AuditEntry>& head);
    void acknowledged(Stream& stream, const ForwardAck& ack);
    void savePositions();
    void countBacklog();
    void publish();
    void updateHistory(Stream& stream);

    QString m_databasePath;
    ForwardingSettings m_settings;
    QString m_mqttPassword;
    QString m_influxPassword;
    ForwarderOptions m_options;
    ForwarderSampleReader m_reader;
    bool m_placed = false;
    bool m_pumpQueued = false;
    QHash<QString, NodeLabels> m_labels;
    std::vector<std::unique_ptr<Stream>> m_streams;
    QHash<QString, qint64> m_saved;
    QTimer* m_pollTimer = nullptr;
    QTimer* m_positionTimer = nullptr;
    QTimer* m_statusTimer = nullptr;
};
