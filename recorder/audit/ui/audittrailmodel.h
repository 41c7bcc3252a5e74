#pragma once

#include "auditentry.h"

#include <QAbstractTableModel>
#include <QVector>

// Audit trail entries as the audit trail screen lists them, newest first: time (local), user,
// action, object, old value, new value, reason. It holds the pages read so far; a view that
// scrolls to the end asks for the next one through moreWanted().
class AuditTrailModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        TimeColumn,
        UserColumn,
        ActionColumn,
        ObjectColumn,
        OldValueColumn,
        NewValueColumn,
        ReasonColumn,
        ColumnCount
    };

    explicit AuditTrailModel(QObject* parent = nullptr);

    // The first page of a new list; `more`: further pages may follow.
    void setEntries(const QVector<AuditEntry>& entries, bool more);
    // The next page, below the rows there are.
    void appendEntries(const QVector<AuditEntry>& entries, bool more);
    const QVector<AuditEntry>& entries() const { return m_entries; }
    // The sequence the next page starts below; 0 without rows.
    qint64 lastSequence() const { return m_entries.isEmpty() ? 0 : m_entries.last().sequence; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // "2026-03-29 03:00:00" in local time.
    static QString timeText(qint64 ms);

signals:
    // The view reached the end of the rows and more may follow; asked once per page.
    void moreWanted();

private:
    QVector<AuditEntry> m_entries;
    bool m_more = false;
    bool m_asked = false;
};
