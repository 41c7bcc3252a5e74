#include "alarmscreen.h"
#include "ui_alarmscreen.h"

#include "acknowledgedialog.h"
#include "alarmeventlistmodel.h"
#include "alarmlogquery.h"
#include "alarmmonitor.h"
#include "projectalarms.h"
#include "suppressiondialog.h"

#include <QDateTime>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QSet>
#include <QTimer>

namespace {

// Period choices of the history: label and hours back from now (0: everything).
const std::pair<const char*, int> Periods[] = {
    {"Last 24 hours", 24}, {"Last 7 days", 7 * 24}, {"Last 30 days", 30 * 24}, {"All", 0}};

} // namespace

AlarmScreen::AlarmScreen(ProjectAlarms* alarms, QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::AlarmScreen>()), m_alarms(alarms)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Quillmar Lite Modbus - Alarms"));
    const AlarmEventListModel::NodeLookup lookup = [this](const QString& serial) {
        return m_alarms ? m_alarms->monitor()->node(serial) : MonitoredNode();
    };
    m_active = new AlarmEventListModel(lookup, this);
    m_history = new AlarmEventListModel(lookup, this);
    const AlarmEventListModel::QuietLookup quiet = [this](const AlarmEventRecord& r) {
        return m_alarms ? m_alarms->monitor()->suppressionOf(r) : std::nullopt;
    };
    m_calibrationNotes = new QLabel(this);
    m_calibrationNotes->setObjectName(QStringLiteral("label_calibrationNotes"));
    m_calibrationNotes->setWordWrap(true);
    m_calibrationNotes->setStyleSheet(QStringLiteral("color: rgb(240, 190, 60);"));
    m_calibrationNotes->hide();
    ui->layout_groupBox_active->insertWidget(0, m_calibrationNotes);
    m_active->setQuietLookup(quiet);
    m_history->setQuietLookup(quiet);
    for (auto [view, model] :
         {std::pair{ui->tableView_active, m_active}, std::pair{ui->tableView_history, m_history}}) {
        view->setModel(model);
        view->verticalHeader()->hide();
        view->horizontalHeader()->setStretchLastSection(true);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this, v = view] { selectionChanged(v); });
    }

    ui->comboBox_node->addItem(QStringLiteral("All nodes"), QString());
    if (m_alarms) {
        for (const MonitoredNode& node : m_alarms->nodes())
            ui->comboBox_node->addItem(node.nodeName.isEmpty() ? node.serial : node.nodeName,
                                       node.serial);
    }
    ui->comboBox_kind->addItem(QStringLiteral("All alarms"), -1);
    for (AlarmKind kind : {AlarmKind::High, AlarmKind::Low, AlarmKind::NoData, AlarmKind::Battery})
        ui->comboBox_kind->addItem(AlarmEventListModel::kindText(kind), int(kind));
    for (const auto& [label, hours] : Periods)
        ui->comboBox_period->addItem(QLatin1String(label), hours);
    ui->comboBox_period->setCurrentIndex(1);

    // Filter changes and bursts of alarm changes ask the log once.
    m_historyDelay = new QTimer(this);
    m_historyDelay->setSingleShot(true);
    m_historyDelay->setInterval(100);
    connect(m_historyDelay, &QTimer::timeout, this, &AlarmScreen::requestHistory);
    for (QComboBox* box : {ui->comboBox_node, ui->comboBox_kind, ui->comboBox_period})
        connect(box, qOverload<int>(&QComboBox::currentIndexChanged), m_historyDelay,
                qOverload<>(&QTimer::start));
    connect(ui->checkBox_unacknowledged, &QCheckBox::toggled, m_historyDelay,
            qOverload<>(&QTimer::start));

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(RefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &AlarmScreen::requestHistory);
    m_refreshTimer->start();

    if (m_alarms) {
        AlarmMonitor* monitor = m_alarms->monitor();
        for (auto signal : {&AlarmMonitor::alarmStarted, &AlarmMonitor::alarmUpdated,
                            &AlarmMonitor::alarmEnded, &AlarmMonitor::alarmAcknowledged})
            connect(monitor, signal, this, &AlarmScreen::refresh);
        connect(monitor, &AlarmMonitor::suppressionsChanged, this, &AlarmScreen::refresh);
        connect(m_alarms->log(), &AlarmLogQuery::listed, this, &AlarmScreen::historyListed);
        connect(m_alarms, &ProjectAlarms::logChanged, m_historyDelay, qOverload<>(&QTimer::start));
    }
    connect(ui->pushButton_acknowledge, &QPushButton::clicked, this,
            &AlarmScreen::acknowledgeSelected);
    connect(ui->pushButton_shelve, &QPushButton::clicked, this, &AlarmScreen::shelveSelected);
    connect(ui->pushButton_unshelve, &QPushButton::clicked, this,
            &AlarmScreen::unshelveSelected);
    connect(ui->pushButton_silence, &QPushButton::clicked, this,
            [this] { emit silenceRequested(ui->spinBox_silence->value()); });
    connect(ui->pushButton_close, &QPushButton::clicked, this, &QWidget::close);
    refresh();
    requestHistory();
}

AlarmScreen::~AlarmScreen()
{
    // A dialog still open goes first: its end must not reach a screen half gone.
    if (m_dialog) {
        disconnect(m_dialog, nullptr, this, nullptr);
        delete m_dialog;
    }
}

AlarmEventFilter AlarmScreen::historyFilter() const
{
    AlarmEventFilter filter;
    filter.serial = ui->comboBox_node->currentData().toString();
    const int kind = ui->comboBox_kind->currentData().toInt();
    if (kind >= 0)
        filter.kind = AlarmKind(kind);
    const int hours = ui->comboBox_period->currentData().toInt();
    if (hours > 0)
        filter.from = QDateTime::currentSecsSinceEpoch() - qint64(hours) * 3600;
    filter.unacknowledgedOnly = ui->checkBox_unacknowledged->isChecked();
    filter.limit = HistoryLimit;
    return filter;
}

void AlarmScreen::refresh()
{
    const qint64 selected = selectedEvent() ? selectedEvent()->id : 0;
    m_active->setEvents(m_alarms ? m_alarms->monitor()->activeAlarms()
                                 : QVector<AlarmEventRecord>());
    fitColumns(ui->tableView_active);
    // The selection follows its event across the reset.
    for (int row = 0; row < m_active->rowCount(); ++row) {
        if (selected && m_active->event(row)->id == selected)
            ui->tableView_active->selectRow(row);
    }
    ui->label_shelves->setText(shelvesText());
    ui->label_shelves->setVisible(!ui->label_shelves->text().isEmpty());
    updateButtons();
    m_historyDelay->start();
}

QString AlarmScreen::shelvesText() const
{
    if (!m_alarms)
        return QString();
    const AlarmMonitor* monitor = m_alarms->monitor();
    QStringList lines;
    for (const AlarmSuppression& s : monitor->suppressions()) {
        const MonitoredNode node = monitor->node(s.serial);
        QString what = node.nodeName.isEmpty() ? s.serial : node.nodeName;
        if (s.kind == AlarmSuppression::Kind::Shelve)
            what += s.channel == 0 ? QStringLiteral(", all alarms")
                    : node.channelName[s.channel - 1].isEmpty()
                        ? QStringLiteral(", channel %1").arg(s.channel)
                        : QStringLiteral(", ") + node.channelName[s.channel - 1];
        const QString until = QDateTime::fromSecsSinceEpoch(s.end()).toLocalTime().toString(
            QStringLiteral("yyyy-MM-dd HH:mm"));
        const QString state = s.kind == AlarmSuppression::Kind::Shelve
                                  ? QStringLiteral(": shelved until ")
                                  : QStringLiteral(": out of service until ");
        lines << what + state + until + QStringLiteral(" (") + s.reason +
                     (s.user.isEmpty() ? QString() : QStringLiteral(", ") + s.user) +
                     QLatin1Char(')');
    }
    return lines.join(QLatin1Char('\n'));
}

void AlarmScreen::setShelving(const ShelveRequest& shelve, const UnshelveRequest& unshelve)
{
    m_shelve = shelve;
    m_unshelve = unshelve;
    updateButtons();
}

void AlarmScreen::shelveSelected()
{
    const AlarmEventRecord* event = selectedEvent();
    if (!event || !m_shelve || m_shelveDialog || !m_alarms)
        return;
    const QString serial = event->serial;
    const int channel = event->channel;
    const MonitoredNode node = m_alarms->monitor()->node(serial);
    const QString what =
        QStringLiteral("Shelve ") + (node.nodeName.isEmpty() ? serial : node.nodeName) +
        (channel == 0 ? QStringLiteral(", all alarms of the node")
                      : QStringLiteral(", channel %1").arg(channel)) +
        QStringLiteral(": its alarms are recorded but neither sound nor notify.");
    m_shelveDialog = new SuppressionDialog(SuppressionDialog::Mode::Shelve, what,
                                           m_alarms->monitor()->now(), this);
    connect(m_shelveDialog, &SuppressionDialog::confirmed, this,
            [this, serial, channel](int seconds, const QDateTime&, const QString& reason) {
                if (m_shelve)
                    m_shelve(serial, channel, seconds, reason);
            });
    // Forgotten first: while it is being destroyed it is no SuppressionDialog any more.
    connect(m_shelveDialog, &QObject::destroyed, this, [this] {
        m_shelveDialog = nullptr;
        updateButtons();
    });
    m_shelveDialog->show();
    updateButtons();
}

void AlarmScreen::unshelveSelected()
{
    const AlarmEventRecord* event = selectedEvent();
    if (!event || !m_unshelve || !m_alarms)
        return;
    const auto by = m_alarms->monitor()->suppressionOf(*event);
    if (by && by->id != 0 && event->isActive())
        m_unshelve(*by);
}

void AlarmScreen::requestHistory()
{
    if (m_alarms)
        m_historyRequest = m_alarms->log()->list(historyFilter());
}

void AlarmScreen::historyListed(quint64 request, const QVector<AlarmEventRecord>& events,
                                const QString& error)
{
    if (request != m_historyRequest)
        return;
    // The active alarms are listed above; the log may still hold them as active.
    QSet<qint64> active;
    for (const AlarmEventRecord& r : m_active->events())
        active.insert(r.id);
    QVector<AlarmEventRecord> history;
    for (const AlarmEventRecord& r : events) {
        if (!active.contains(r.id))
            history << r;
    }
    const qint64 selected =
        ui->tableView_history->selectionModel()->hasSelection() && selectedEvent()
            ? selectedEvent()->id
            : 0;
    m_history->setEvents(history);
    fitColumns(ui->tableView_history);
    for (int row = 0; row < m_history->rowCount(); ++row) {
        if (selected && m_history->event(row)->id == selected)
            ui->tableView_history->selectRow(row);
    }
    ui->label_history_state->setText(
        !error.isEmpty() ? QStringLiteral("The alarm log cannot be read: ") + error
        : history.size() >= HistoryLimit
            ? QStringLiteral("The newest %1 events are shown.").arg(HistoryLimit)
            : QString());
    updateButtons();
    emit historyShown();
}

bool AlarmScreen::selection(const AlarmEventListModel** model, int* row) const
{
    for (auto [view, list] :
         {std::pair{ui->tableView_active, m_active}, std::pair{ui->tableView_history, m_history}}) {
        const QModelIndexList rows = view->selectionModel()->selectedRows();
        if (!rows.isEmpty() && list->event(rows.first().row())) {
            *model = list;
            *row = rows.first().row();
            return true;
        }
    }
    return false;
}

const AlarmEventRecord* AlarmScreen::selectedEvent() const
{
    const AlarmEventListModel* model = nullptr;
    int row = -1;
    return selection(&model, &row) ? model->event(row) : nullptr;
}

void AlarmScreen::selectionChanged(QTableView* from)
{
    // One event is selected in both lists together.
    QTableView* other = from == ui->tableView_active ? ui->tableView_history : ui->tableView_active;
    if (from->selectionModel()->hasSelection() && other->selectionModel()->hasSelection()) {
        const QSignalBlocker blocker(other->selectionModel());
        other->clearSelection();
        other->viewport()->update();
    }
    updateButtons();
}

void AlarmScreen::updateButtons()
{
    const AlarmEventRecord* event = selectedEvent();
    ui->pushButton_acknowledge->setEnabled(event && !event->acknowledgedAt && !m_dialog);
    ui->pushButton_shelve->setEnabled(event && m_shelve && !m_shelveDialog);
    const auto by = event && event->isActive() && m_alarms
                        ? m_alarms->monitor()->suppressionOf(*event)
                        : std::nullopt;
    ui->pushButton_unshelve->setEnabled(by && by->id != 0 &&
                                        by->kind == AlarmSuppression::Kind::Shelve &&
                                        m_unshelve);
    // Only a sound that plays can be silenced; a silence on is not started again.
    ui->pushButton_silence->setEnabled(m_alarms && m_alarms->monitor()->soundWanted() &&
                                       !m_silenced);
}

void AlarmScreen::setSilencedUntil(const QDateTime& until)
{
    m_silenced = until.isValid();
    ui->label_silence->setText(m_silenced ? QStringLiteral("Sound silenced until ") +
                                                until.toLocalTime().toString(
                                                    QStringLiteral("HH:mm:ss"))
                                          : QString());
    updateButtons();
}

void AlarmScreen::fitColumns(QTableView* view)
{
    view->resizeColumnsToContents();
}

void AlarmScreen::acknowledgeSelected()
{
    const AlarmEventListModel* model = nullptr;
    int row = -1;
    if (!selection(&model, &row) || m_dialog || !m_alarms)
        return;
    const AlarmEventRecord* event = model->event(row);
    if (event->acknowledgedAt)
        return;
    auto cell = [model, row](int column) {
        return model->data(model->index(row, column)).toString();
    };
    const QString text = cell(AlarmEventListModel::NodeColumn) + QStringLiteral(" / ") +
                         cell(AlarmEventListModel::ChannelColumn) + QStringLiteral(" : ") +
                         cell(AlarmEventListModel::AlarmColumn) + QStringLiteral(", since ") +
                         cell(AlarmEventListModel::StartColumn);
    QString fixedName;
    // The gate may ask in modal dialogs, while which the alarm may end or the screen be closed.
    QPointer<AlarmScreen> self(this);
    const AcknowledgeGate gate = m_gate;
    if (gate && (!gate(QStringLiteral("Acknowledge ") + text, &fixedName) || !self || m_dialog ||
                 !m_alarms))
        return;
    m_dialog = new AcknowledgeDialog(text, m_alarms->correctiveCauses(), this);
    if (!fixedName.isEmpty())
        m_dialog->setFixedName(fixedName);
    const AlarmEventRecord listed = *event;
    connect(m_dialog, &AcknowledgeDialog::acknowledged, this,
            [this, listed, text](const QString& name, const QString& comment,
                                 const CorrectiveAction& action) {
                QPointer<AlarmScreen> screen(this);
                const Acknowledge acknowledge =
                    [screen, listed, name, comment,
                     action](const QString& signer) -> std::optional<AlarmEventRecord> {
                    if (!screen || !screen->m_alarms)
                        return std::nullopt;
                    AlarmMonitor* monitor = screen->m_alarms->monitor();
                    const QString by = signer.isEmpty() ? name : signer;
                    if (!monitor->acknowledge(listed.id, by, comment, action))
                        return std::nullopt;
                    for (const AlarmEventRecord& active : monitor->activeAlarms()) {
                        if (active.id == listed.id)
                            return active;
                    }
                    // Ended before: the log's record is final but for the acknowledgement.
                    AlarmEventRecord ended = listed;
                    ended.acknowledgedBy = by.trimmed();
                    ended.comment = comment;
                    ended.action = action;
                    return ended;
                };
                if (m_signer) {
                    // What the signature covers, as the person reads it.
                    QStringList lines{QStringLiteral("Acknowledge ") + text};
                    auto add = [&lines](const QString& label, const QString& value) {
                        if (!value.isEmpty())
                            lines << label + value;
                    };
                    add(QStringLiteral("Cause: "), action.cause);
                    add(QStringLiteral("Action taken: "), action.actionTaken);
                    add(QStringLiteral("Product affected: "),
                        action.productAffected +
                            (action.quantity.isEmpty() ? QString()
                                                       : QStringLiteral(", ") + action.quantity));
                    add(QStringLiteral("Decided by: "), action.decidedBy);
                    add(QStringLiteral("Comment: "), comment);
                    m_signer(lines.join(QLatin1Char('\n')), acknowledge);
                }
                else
                    acknowledge(QString());
            });
    connect(m_dialog, &QObject::destroyed, this, [this] {
        m_dialog = nullptr;
        updateButtons();
    });
    m_dialog->show();
    updateButtons();
}

void AlarmScreen::setCalibrationNotes(const QStringList& notes)
{
    m_calibrationNotes->setText(notes.join(QLatin1Char('\n')));
    m_calibrationNotes->setVisible(!notes.isEmpty());
}

QString AlarmScreen::calibrationText() const
{
    return !m_calibrationNotes->isHidden() ? m_calibrationNotes->text() : QString();
}
