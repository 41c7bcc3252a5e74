#include "usertablemodel.h"

#include <QDateTime>

UserTableModel::UserTableModel(const Clock& clock, QObject* parent)
    : QAbstractTableModel(parent), m_clock(clock)
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

void UserTableModel::setUsers(const QVector<UserRecord>& users)
{
    beginResetModel();
    m_users = users;
    // The hashes are not the list's business; they are not kept in the window.
    for (UserRecord& row : m_users)
        row.passwordHash.clear();
    endResetModel();
}

int UserTableModel::rowOf(const QString& name) const
{
    for (int i = 0; i < m_users.size(); ++i) {
        if (m_users.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int UserTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_users.size();
}

int UserTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant UserTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_users.size())
        return QVariant();
    const UserRecord& user = m_users.at(index.row());
    if (role == Qt::TextAlignmentRole && index.column() == FailuresColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case NameColumn:
        return user.name;
    case FullNameColumn:
        return user.fullName;
    case RoleColumn:
        return user.role;
    case StateColumn:
        return user.disabled ? QStringLiteral("disabled") : QStringLiteral("enabled");
    case FailuresColumn:
        return user.failedSignIns;
    case WaitColumn:
        if (user.waitUntilMs <= m_clock())
            return QString();
        return QDateTime::fromMSecsSinceEpoch(user.waitUntilMs)
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    default:
        return QVariant();
    }
}

QVariant UserTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case NameColumn:
        return QStringLiteral("Name");
    case FullNameColumn:
        return QStringLiteral("Full name");
    case RoleColumn:
        return QStringLiteral("Role");
    case StateColumn:
        return QStringLiteral("State");
    case FailuresColumn:
        return QStringLiteral("Failed sign-ins");
    case WaitColumn:
        return QStringLiteral("Waiting until");
    default:
        return QVariant();
    }
}
