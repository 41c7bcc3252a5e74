#pragma once

#include "auditentry.h"
#include "audittrailfilter.h"

#include <QDialog>
#include <QStringList>

#include <memory>
#include <optional>

class AuditTrailModel;
class AuditTrailQuery;
class QComboBox;
class QTimer;

namespace Ui {
class AuditTrailDialog;
}

// "Audit trail" of the open project: its entries newest first with time (local), user, action,
// object, old and new value and reason; filters for the period, the user, the action and a text;
// and at the bottom the chain's head, which an inspector notes to check the file against later.
// Everything is read off the GUI thread, a page at a time as the list scrolls.
class AuditTrailDialog : public QDialog
{
    Q_OBJECT

public:
    // Entries read per page.
    static constexpr int PageSize = 200;
    // While shown, the head is read again this often; a new head reloads the list.
    static constexpr int RefreshIntervalMs = 10000;

    explicit AuditTrailDialog(const QString& databasePath, QWidget* parent = nullptr);
    ~AuditTrailDialog() override;

    AuditTrailModel* model() const { return m_model; }
    // The filter as the controls set it.
    AuditTrailFilter filter() const;
    // "Audit trail head: entry 12, SHA-256 ..." as shown.
    QString headText() const;
    QString stateText() const;

public slots:
    // Reads the list again from its newest entry.
    void reload();

signals:
    // An answer was shown (a page or the summary).
    void answered();

private:
    void requestSummary();
    void paged(quint64 request, const QVector<AuditEntry>& entries, const QString& error);
    void summarized(quint64 request, qint64 count, const std::optional<AuditEntry>& head,
                    const QStringList& users, const QStringList& actions, const QString& error);
    void moreWanted();
    void periodChanged();
    void updateState();
    static void setChoices(QComboBox* box, const QString& all, const QStringList& names);

    std::unique_ptr<Ui::AuditTrailDialog> ui;
    AuditTrailQuery* m_query = nullptr;
    AuditTrailModel* m_model = nullptr;
    QTimer* m_filterDelay = nullptr;
    QTimer* m_refreshTimer = nullptr;
    AuditTrailFilter m_listFilter; // the filter the list was read with
    quint64 m_pageRequest = 0;
    bool m_firstPage = true;
    quint64 m_summaryRequest = 0;
    qint64 m_count = -1;
    qint64 m_headSequence = -1;
    QString m_error;
};
