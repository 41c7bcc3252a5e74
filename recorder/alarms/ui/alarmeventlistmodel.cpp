#include "alarmeventlistmodel.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>

namespace {

QString withUnit(double value, const QString& unit)
{
    const QString number = QString::number(value, 'f', 2);
    return unit.isEmpty() ? number : number + QLatin1Char(' ') + unit;
}

} // namespace

AlarmEventListModel::AlarmEventListModel(const NodeLookup& lookup, QObject* parent)
    : QAbstractTableModel(parent), m_lookup(lookup)
{
}

void AlarmEventListModel::setEvents(const QVector<AlarmEventRecord>& events)
{
    beginResetModel();
    m_events = events;
    endResetModel();
}

const AlarmEventRecord* AlarmEventListModel::event(int row) const
{
    return row >= 0 && row < m_events.size() ? &m_events.at(row) : nullptr;
}

int AlarmEventListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_events.size();
}

int AlarmEventListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString AlarmEventListModel::timeText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString AlarmEventListModel::kindText(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::High:
        return QStringLiteral("High");
    case AlarmKind::Low:
        return QStringLiteral("Low");
    case AlarmKind::NoData:
        return QStringLiteral("No data");
    case AlarmKind::Battery:
        break;
    }
    return QStringLiteral("Battery low");
}

QString AlarmEventListModel::text(const AlarmEventRecord& e, int column) const
{
    const MonitoredNode node = m_lookup ? m_lookup(e.serial) : MonitoredNode();
    const bool channel = e.channel == 1 || e.channel == 2;
    const QString unit = channel                        ? node.unit[e.channel - 1]
                         : e.kind == AlarmKind::Battery ? QStringLiteral("%")
                                                        : QString();
    switch (column) {
    case NodeColumn:
        return node.nodeName.isEmpty() ? e.serial : node.nodeName;
    case ChannelColumn:
        if (!channel)
            return QStringLiteral("-");
        return node.channelName[e.channel - 1].isEmpty()
                   ? QStringLiteral("Channel %1").arg(e.channel)
                   : node.channelName[e.channel - 1];
    case AlarmColumn:
        return kindText(e.kind);
    case LimitColumn:
        return e.limit ? withUnit(*e.limit, unit) : QStringLiteral("-");
    case StartColumn:
        return timeText(e.start);
    case ExtremeColumn:
        if (!e.extremeValue)
            return QStringLiteral("-");
        return withUnit(*e.extremeValue, unit) +
               (e.extremeTime ? QStringLiteral(" at ") + timeText(*e.extremeTime).mid(11)
                              : QString());
    case EndColumn:
        if (!e.end)
            return QStringLiteral("Active");
        return timeText(*e.end) + QStringLiteral(" (") + alarmEndText(e.ended) + QLatin1Char(')');
    case AcknowledgedColumn:
        if (!e.acknowledgedAt)
            return QStringLiteral("Unacknowledged");
        return e.acknowledgedBy + QStringLiteral(", ") + timeText(*e.acknowledgedAt);
    case CommentColumn: {
        // The structured action first, then the free text.
        QStringList parts;
        const CorrectiveAction& a = e.action;
        for (const QString& part : {a.cause, a.actionTaken})
            if (!part.isEmpty())
                parts << part;
        if (!a.productAffected.isEmpty())
            parts << QStringLiteral("product ") + a.productAffected +
                         (a.quantity.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(a.quantity));
        if (!a.decidedBy.isEmpty())
            parts << QStringLiteral("decided by ") + a.decidedBy;
        if (!e.comment.isEmpty())
            parts << e.comment;
        return parts.join(QStringLiteral("; "));
    }
    case SignatureColumn:
        if (!e.acknowledgedAt)
            return QString();
        return e.signature.isEmpty() ? QStringLiteral("unsigned") : e.signature;
    case StateColumn: {
        const auto by = m_quiet ? m_quiet(e) : std::nullopt;
        return by ? stateText(e, *by) : QString();
    }
    }
    return QString();
}

QString AlarmEventListModel::stateText(const AlarmEventRecord& e, const AlarmSuppression& by)
{
    const bool shelve = by.kind == AlarmSuppression::Kind::Shelve;
    if (!e.isActive())
        return shelve ? QStringLiteral("raised while shelved")
                      : QStringLiteral("raised while out of service");
    // A node's daily window has no end of its own here: its times say it.
    if (by.id == 0)
        return QStringLiteral("out of service (daily ") + by.reason + QLatin1Char(')');
    const QDateTime end = QDateTime::fromSecsSinceEpoch(by.end()).toLocalTime();
    const QDate raised = QDateTime::fromSecsSinceEpoch(e.raised).toLocalTime().date();
    const QString until = end.date() == raised ? end.toString(QStringLiteral("HH:mm"))
                                               : end.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return (shelve ? QStringLiteral("shelved until ") : QStringLiteral("out of service until ")) +
           until;
}

QVariant AlarmEventListModel::data(const QModelIndex& index, int role) const
{
    const AlarmEventRecord* e = index.isValid() ? event(index.row()) : nullptr;
    if (!e)
        return QVariant();
    if (role == Qt::DisplayRole)
        return text(*e, index.column());
    if (role == Qt::ToolTipRole &&
        (index.column() == CommentColumn || index.column() == SignatureColumn)) {
        const QString shown = text(*e, index.column());
        return shown.isEmpty() ? QVariant() : QVariant(shown);
    }
    if (role == Qt::ForegroundRole) {
        // Red while it needs somebody: active and unacknowledged, or ended unacknowledged.
        if (index.column() == AcknowledgedColumn && !e->acknowledgedAt)
            return QBrush(QColor(230, 80, 80));
        if (index.column() == EndColumn && !e->end)
            return QBrush(QColor(255, 255, 147));
        if (index.column() == StateColumn)
            return QBrush(QColor(230, 200, 120));
    }
    return QVariant();
}

QVariant AlarmEventListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const Titles[ColumnCount] = {
        "NODE",         "CHANNEL",           "ALARM",    "LIMIT",
        "START",        "EXTREME",           "END",      "STATE",
        "ACKNOWLEDGED", "CORRECTIVE ACTION", "SIGNATURE"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(Titles[section])
                                                 : QVariant();
}
