#include "audittraildialog.h"
#include "ui_audittraildialog.h"

#include "audittrail.h"
#include "audittrailmodel.h"
#include "audittrailquery.h"

#include <QDateTime>
#include <QHeaderView>
#include <QTimer>

namespace {

// Period choices: label and hours back from now; 0 everything, -1 the dates chosen.
const std::pair<const char*, int> Periods[] = {{"All", 0},
                                               {"Last 24 hours", 24},
                                               {"Last 7 days", 7 * 24},
                                               {"Last 30 days", 30 * 24},
                                               {"Between dates", -1}};

QString matchText(qint64 n)
{
    return n == 1 ? QStringLiteral("1 entry matches") : QStringLiteral("%1 entries match").arg(n);
}

} // namespace

AuditTrailDialog::AuditTrailDialog(const QString& databasePath, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::AuditTrailDialog>())
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Quillmar Lite Modbus - Audit trail"));
    m_query = new AuditTrailQuery(databasePath, this);
    m_model = new AuditTrailModel(this);
    ui->tableView_entries->setModel(m_model);
    ui->tableView_entries->verticalHeader()->hide();
    ui->tableView_entries->horizontalHeader()->setStretchLastSection(true);
    ui->tableView_entries->setEditTriggers(QAbstractItemView::NoEditTriggers);

    for (const auto& [label, hours] : Periods)
        ui->comboBox_period->addItem(QLatin1String(label), hours);
    const QDate today = QDate::currentDate();
    ui->dateEdit_from->setDate(today.addDays(-30));
    ui->dateEdit_to->setDate(today);
    setChoices(ui->comboBox_user, QStringLiteral("All users"), {});
    setChoices(ui->comboBox_action, QStringLiteral("All actions"), {});
    periodChanged();

    // Typing and bursts of filter changes ask once.
    m_filterDelay = new QTimer(this);
    m_filterDelay->setSingleShot(true);
    m_filterDelay->setInterval(300);
    connect(m_filterDelay, &QTimer::timeout, this, &AuditTrailDialog::reload);
    connect(ui->comboBox_period, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &AuditTrailDialog::periodChanged);
    for (QComboBox* box : {ui->comboBox_period, ui->comboBox_user, ui->comboBox_action})
        connect(box, qOverload<int>(&QComboBox::currentIndexChanged), m_filterDelay,
                qOverload<>(&QTimer::start));
    for (QDateEdit* edit : {ui->dateEdit_from, ui->dateEdit_to})
        connect(edit, &QDateEdit::dateChanged, m_filterDelay, qOverload<>(&QTimer::start));
    connect(ui->lineEdit_text, &QLineEdit::textChanged, m_filterDelay, qOverload<>(&QTimer::start));

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(RefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &AuditTrailDialog::requestSummary);
    m_refreshTimer->start();

    connect(m_query, &AuditTrailQuery::paged, this, &AuditTrailDialog::paged);
    connect(m_query, &AuditTrailQuery::summarized, this, &AuditTrailDialog::summarized);
    connect(m_model, &AuditTrailModel::moreWanted, this, &AuditTrailDialog::moreWanted);
    connect(ui->pushButton_refresh, &QPushButton::clicked, this, &AuditTrailDialog::reload);
    connect(ui->pushButton_close, &QPushButton::clicked, this, &QDialog::accept);
    ui->label_head->setText(QStringLiteral("Audit trail head: reading..."));
    reload();
}

AuditTrailDialog::~AuditTrailDialog() = default;

AuditTrailFilter AuditTrailDialog::filter() const
{
    AuditTrailFilter f;
    const int hours = ui->comboBox_period->currentData().toInt();
    if (hours > 0)
        f.fromMs = QDateTime::currentMSecsSinceEpoch() - qint64(hours) * 3600 * 1000;
    else if (hours < 0)
        f.setDays(std::min(ui->dateEdit_from->date(), ui->dateEdit_to->date()),
                  std::max(ui->dateEdit_from->date(), ui->dateEdit_to->date()));
    f.user = ui->comboBox_user->currentData().toString();
    f.action = ui->comboBox_action->currentData().toString();
    f.text = ui->lineEdit_text->text();
    return f;
}

QString AuditTrailDialog::headText() const
{
    return ui->label_head->text();
}

QString AuditTrailDialog::stateText() const
{
    return ui->label_state->text();
}

void AuditTrailDialog::reload()
{
    m_filterDelay->stop();
    m_firstPage = true;
    m_listFilter = filter();
    m_pageRequest = m_query->page(m_listFilter, 0, PageSize);
    requestSummary();
}

void AuditTrailDialog::requestSummary()
{
    m_summaryRequest = m_query->summary(m_listFilter);
}

void AuditTrailDialog::moreWanted()
{
    // The next page of the list shown: below its last row, with the filter it was read with
    // (a filter changed since reloads the list anyway).
    m_firstPage = false;
    m_pageRequest = m_query->page(m_listFilter, m_model->lastSequence(), PageSize);
}

void AuditTrailDialog::paged(quint64 request, const QVector<AuditEntry>& entries,
                             const QString& error)
{
    if (request != m_pageRequest)
        return;
    m_error = error;
    const bool more = error.isEmpty() && entries.size() >= PageSize;
    if (m_firstPage) {
        m_model->setEntries(entries, more);
        ui->tableView_entries->resizeColumnsToContents();
    } else {
        m_model->appendEntries(entries, more);
    }
    updateState();
    emit answered();
}

void AuditTrailDialog::summarized(quint64 request, qint64 count,
                                  const std::optional<AuditEntry>& head, const QStringList& users,
                                  const QStringList& actions, const QString& error)
{
    if (request != m_summaryRequest)
        return;
    if (!error.isEmpty()) {
        m_error = error;
        updateState();
        emit answered();
        return;
    }
    m_count = count;
    ui->label_head->setText(AuditTrail::headLine(head));
    setChoices(ui->comboBox_user, QStringLiteral("All users"), users);
    setChoices(ui->comboBox_action, QStringLiteral("All actions"), actions);
    const qint64 sequence = head ? head->sequence : 0;
    const bool grown = m_headSequence >= 0 && sequence != m_headSequence;
    m_headSequence = sequence;
    updateState();
    emit answered();
    // Entries written since the list was read.
    if (grown)
        reload();
}

void AuditTrailDialog::periodChanged()
{
    const bool dates = ui->comboBox_period->currentData().toInt() < 0;
    ui->dateEdit_from->setEnabled(dates);
    ui->dateEdit_to->setEnabled(dates);
}

void AuditTrailDialog::updateState()
{
    if (!m_error.isEmpty()) {
        ui->label_state->setText(QStringLiteral("The audit trail cannot be read: ") + m_error);
        return;
    }
    if (m_count < 0)
        ui->label_state->setText(QString());
    else if (m_count == 0)
        ui->label_state->setText(QStringLiteral("No entries match."));
    else if (m_model->rowCount() >= m_count)
        ui->label_state->setText(matchText(m_count) + QLatin1Char('.'));
    else
        ui->label_state->setText(matchText(m_count) + QStringLiteral("; the newest ") +
                                 QString::number(m_model->rowCount()) +
                                 QStringLiteral(" are listed, more as the list scrolls."));
}

void AuditTrailDialog::setChoices(QComboBox* box, const QString& all, const QStringList& names)
{
    // The choice made stays, even when the trail no longer names it (another period).
    const QString current = box->currentData().toString();
    QStringList choices = names;
    if (!current.isEmpty() && !choices.contains(current))
        choices.prepend(current);
    const QSignalBlocker blocker(box);
    box->clear();
    box->addItem(all, QString());
    for (const QString& name : qAsConst(choices))
        box->addItem(name, name);
    box->setCurrentIndex(std::max(0, box->findData(current)));
}
