#include "audittrailmodel.h"

#include <QDateTime>

namespace {

// A text of several lines shows on one, each line break marked.
QString oneLine(const QString& text)
{
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\u21b5"));
    out.replace(QLatin1Char('\n'), QChar(0x21b5));
    out.replace(QLatin1Char('\r'), QChar(0x21b5));
    return out;
}

} // namespace

AuditTrailModel::AuditTrailModel(QObject* parent) : QAbstractTableModel(parent) {}

void AuditTrailModel::setEntries(const QVector<AuditEntry>& entries, bool more)
{
    beginResetModel();
    m_entries = entries;
    m_more = more;
    m_asked = false;
    endResetModel();
}

void AuditTrailModel::appendEntries(const QVector<AuditEntry>& entries, bool more)
{
    m_more = more;
    m_asked = false;
    if (entries.isEmpty())
        return;
    const int first = int(m_entries.size());
    beginInsertRows(QModelIndex(), first, first + int(entries.size()) - 1);
    m_entries += entries;
    endInsertRows();
}

int AuditTrailModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int AuditTrailModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant AuditTrailModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QVariant();
    const AuditEntry& e = m_entries.at(index.row());
    QString text;
    switch (Column(index.column())) {
    case TimeColumn:
        return timeText(e.timeMs);
    case UserColumn:
        text = e.user;
        break;
    case ActionColumn:
        text = e.action;
        break;
    case ObjectColumn:
        text = e.object;
        break;
    case OldValueColumn:
        text = e.oldValue;
        break;
    case NewValueColumn:
        text = e.newValue;
        break;
    case ReasonColumn:
        text = e.reason;
        break;
    case ColumnCount:
        return QVariant();
    }
    // The tooltip shows a long or many-lined text whole.
    return role == Qt::ToolTipRole ? text : oneLine(text);
}

QVariant AuditTrailModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const Titles[ColumnCount] = {
        "Time", "User", "Action", "Object", "Old value", "New value", "Reason"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QLatin1String(Titles[section]);
}

bool AuditTrailModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && m_more && !m_asked;
}

void AuditTrailModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    m_asked = true;
    emit moreWanted();
}

QString AuditTrailModel::timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
