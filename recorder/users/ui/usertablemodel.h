#pragma once

#include "userrecord.h"

#include <QAbstractTableModel>
#include <QVector>

#include <functional>

// A project's users as the Users dialog lists them: name, full name, role, enabled or disabled,
// failed sign-ins and, while an account waits after too many failures, until when (local time).
// The password hashes never leave the rows it is given: no column shows them.
class UserTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        NameColumn,
        FullNameColumn,
        RoleColumn,
        StateColumn,
        FailuresColumn,
        WaitColumn,
        ColumnCount
    };
    using Clock = std::function<qint64()>; // ms since 1970 UTC

    // No clock: the computer's (a wait already over is not shown).
    explicit UserTableModel(const Clock& clock = Clock(), QObject* parent = nullptr);

    void setUsers(const QVector<UserRecord>& users);
    const QVector<UserRecord>& users() const { return m_users; }
    // The row of `name` (letter case ignored); -1 when there is none.
    int rowOf(const QString& name) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    Clock m_clock;
    QVector<UserRecord> m_users;
};
