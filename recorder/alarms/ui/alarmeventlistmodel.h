#pragma once

#include "alarmeventrecord.h"
#include "alarmmonitor.h"

#include <QAbstractTableModel>
#include <QVector>

#include <functional>

// Alarm events as the Alarms screen lists them: node, channel, alarm, limit, start, extreme,
// end, acknowledgement and corrective action, times in local time. An event nobody acknowledged
// says so in its acknowledgement column.
class AlarmEventListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        NodeColumn,
        ChannelColumn,
        AlarmColumn,
        LimitColumn,
        StartColumn,
        ExtremeColumn,
        EndColumn,
        // "shelved until 14:30", "out of service", "raised while shelved"
        StateColumn,
        AcknowledgedColumn,
        CommentColumn,
        SignatureColumn,
        ColumnCount
    };
    // The names and units of a node by its serial number.
    using NodeLookup = std::function<MonitoredNode(const QString& serial)>;

    // What keeps an event quiet now, or kept it quiet when raised (AlarmMonitor::suppressionOf).
    using QuietLookup = std::function<std::optional<AlarmSuppression>(const AlarmEventRecord&)>;

    explicit AlarmEventListModel(const NodeLookup& lookup, QObject* parent = nullptr);
    void setQuietLookup(const QuietLookup& lookup) { m_quiet = lookup; }
    // The state column's text for an event quiet by `by`.
    static QString stateText(const AlarmEventRecord& event, const AlarmSuppression& by);

    void setEvents(const QVector<AlarmEventRecord>& events);
    const QVector<AlarmEventRecord>& events() const { return m_events; }
    // The event of a row; null outside the list.
    const AlarmEventRecord* event(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // "2024-03-31 02:15:00" in local time.
    static QString timeText(qint64 seconds);
    static QString kindText(AlarmKind kind);

private:
    QString text(const AlarmEventRecord& event, int column) const;

    NodeLookup m_lookup;
    QuietLookup m_quiet;
    QVector<AlarmEventRecord> m_events;
};
