#pragma once

#include "acknowledgedialog.h"
#include "alarmeventrecord.h"
#include "alarmsuppression.h"
#include "suppressiondialog.h"

#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class AlarmEventListModel;
class ProjectAlarms;
class QLabel;
class QTableView;
class QTimer;

namespace Ui {
class AlarmScreen;
}

// The "Alarms" screen of the open project: the active alarms on top (from the monitor, at once),
// the history below (read from the event log off the GUI thread) with filters by node, alarm,
// period and acknowledgement, and "ACKNOWLEDGE" for the selected event with a name and the
// corrective action. An alarm that ended without an acknowledgement stays listed as
// unacknowledged and can be acknowledged later.
class AlarmScreen : public QWidget
{
    Q_OBJECT

public:
    // While shown, the history is read again this often, for writes that waited for the file.
    static constexpr int RefreshIntervalMs = 10000;
    // Events the history lists at the most, the newest first.
    static constexpr int HistoryLimit = 2000;

    // `alarms` must outlive the screen or delete it first.
    // Asked before an acknowledgement dialog opens, with the alarm: false keeps it shut; a
    // `name` given is the one acknowledging, shown and not to be changed.
    using AcknowledgeGate = std::function<bool(const QString& what, QString* name)>;

    explicit AlarmScreen(ProjectAlarms* alarms, QWidget* parent = nullptr);
    ~AlarmScreen() override;

    void setAcknowledgeGate(const AcknowledgeGate& gate) { m_gate = gate; }
    // Makes the acknowledgement confirmed in the form, under `signer`'s name (empty: the name
    // in the form); the event as acknowledged, none when it could not be made.
    using Acknowledge = std::function<std::optional<AlarmEventRecord>(const QString& signer)>;
    // Asked between the form and the acknowledgement: asks for a signature (or not, without
    // access control) and calls `acknowledge` unless cancelled.
    using AcknowledgeSigner =
        std::function<void(const QString& what, const Acknowledge& acknowledge)>;
    void setAcknowledgeSigner(const AcknowledgeSigner& signer) { m_signer = signer; }

    // A shelve of the selected event's channel (0: the node's alarms) asked for in the dialog,
    // and the end of one: the window's commands (signature, records). Without them the
    // buttons stay disabled.
    using ShelveRequest = std::function<void(const QString& serial, int channel, int seconds,
                                             const QString& reason)>;
    using UnshelveRequest = std::function<void(const AlarmSuppression& suppression)>;
    void setShelving(const ShelveRequest& shelve, const UnshelveRequest& unshelve);
    SuppressionDialog* shelveDialog() const { return m_shelveDialog; }
    // The shelves and out-of-service times holding now, one line each.
    QString shelvesText() const;

    AlarmEventListModel* activeModel() const { return m_active; }
    AlarmEventListModel* historyModel() const { return m_history; }
    // The acknowledgement being asked for, if any.
    AcknowledgeDialog* acknowledgeDialog() const { return m_dialog; }
    // The history's filter as the controls set it.
    AlarmEventFilter historyFilter() const;
    // Shows until when the sound is silenced; an invalid time: it is not.
    void setSilencedUntil(const QDateTime& until);
    // The channels whose calibration is due soon or overdue, one line each (none: hidden).
    // Shown above the active alarms; they are no alarms.
    void setCalibrationNotes(const QStringList& notes);
    QString calibrationText() const;

public slots:
    // The active alarms now; the history asked for again.
    void refresh();
    void acknowledgeSelected();
    void shelveSelected();
    void unshelveSelected();

signals:
    // A history answer was shown.
    void historyShown();
    // "SILENCE" with the minutes chosen: the sound's owner silences it (no sign-in asked).
    void silenceRequested(int minutes);

private:
    void requestHistory();
    void historyListed(quint64 request, const QVector<AlarmEventRecord>& events,
                       const QString& error);
    bool selection(const AlarmEventListModel** model, int* row) const;
    const AlarmEventRecord* selectedEvent() const;
    void selectionChanged(QTableView* from);
    void updateButtons();
    void fitColumns(QTableView* view);

    std::unique_ptr<Ui::AlarmScreen> ui;
    QPointer<ProjectAlarms> m_alarms;
    AlarmEventListModel* m_active = nullptr;
    AlarmEventListModel* m_history = nullptr;
    QPointer<AcknowledgeDialog> m_dialog;
    QTimer* m_refreshTimer = nullptr;
    QTimer* m_historyDelay = nullptr;
    quint64 m_historyRequest = 0;
    AcknowledgeGate m_gate;
    AcknowledgeSigner m_signer;
    ShelveRequest m_shelve;
    UnshelveRequest m_unshelve;
    QPointer<SuppressionDialog> m_shelveDialog;
    bool m_silenced = false;
    QLabel* m_calibrationNotes = nullptr;
};
