#include "alarmtestdialog.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QTableWidget* newTable(QWidget* parent, const QStringList& headers, const char* objectName)
{
    auto* table = new QTableWidget(0, headers.size(), parent);
    table->setObjectName(QLatin1String(objectName));
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void setRow(QTableWidget* table, int row, const QStringList& cells, const QString& color)
{
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells.at(c));
        item->setToolTip(cells.at(c));
        if (!color.isEmpty())
            item->setForeground(QColor(color));
        table->setItem(row, c, item);
    }
}

} // namespace

AlarmTestDialog::AlarmTestDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Test alarms"));
    setObjectName(QStringLiteral("AlarmTestDialog"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Sends a test alarm, marked as a test, through "
                                                "every notification and forwarding target. It "
                                                "is no alarm event and no report counts it."),
                                 this));
    auto* choice = new QHBoxLayout;
    choice->addWidget(new QLabel(QStringLiteral("Node:"), this));
    m_nodes = new QComboBox(this);
    m_nodes->setObjectName(QStringLiteral("comboBox_node"));
    choice->addWidget(m_nodes, 1);
    m_run = new QPushButton(QStringLiteral("Run test"), this);
    m_run->setObjectName(QStringLiteral("pushButton_run"));
    choice->addWidget(m_run);
    layout->addLayout(choice);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("label_status"));
    layout->addWidget(m_status);
    m_answers =
        newTable(this, {QStringLiteral("Target"), QStringLiteral("Answer"), QStringLiteral("Text")},
                 "table_answers");
    layout->addWidget(m_answers, 1);
    layout->addWidget(new QLabel(QStringLiteral("Recent tests"), this));
    m_recent =
        newTable(this,
                 {QStringLiteral("Time"), QStringLiteral("By"), QStringLiteral("Nodes"),
                  QStringLiteral("Target"), QStringLiteral("Answer"), QStringLiteral("Text")},
                 "table_recent");
    layout->addWidget(m_recent, 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_run, &QPushButton::clicked, this, [this] { emit runRequested(chosenSerial()); });
    setNodes({});
    resize(760, 520);
}

void AlarmTestDialog::setNodes(const QVector<Node>& nodes)
{
    m_nodes->clear();
    m_nodes->addItem(QStringLiteral("All nodes"), QString());
    for (const Node& node : nodes)
        m_nodes->addItem(node.second.isEmpty()
                             ? node.first
                             : node.second + QStringLiteral(" (") + node.first + QLatin1Char(')'),
                         node.first);
}

QString AlarmTestDialog::chosenSerial() const
{
    return m_nodes->currentData().toString();
}

void AlarmTestDialog::setRecent(const QVector<AlarmTestRecord>& rows)
{
    m_recent->setRowCount(rows.size());
    for (int i = 0; i < rows.size(); ++i) {
        const AlarmTestRecord& r = rows.at(i);
        const QString time = QDateTime::fromSecsSinceEpoch(r.time).toLocalTime().toString(
            QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        setRow(m_recent, i, {time, r.user, r.nodes, r.target, r.answer, r.text},
               answerColor(r.answer));
    }
    m_recent->resizeColumnsToContents();
}

void AlarmTestDialog::testStarted(int targets)
{
    m_answers->setRowCount(0);
    if (targets == 0) {
        m_status->setText(QStringLiteral("No notification or forwarding target is switched on: "
                                         "nothing to test."));
        return;
    }
    m_run->setEnabled(false);
    m_status->setText(
        QStringLiteral("Test sent to %1 targets; waiting for their answers...").arg(targets));
}

void AlarmTestDialog::testRefused()
{
    m_status->setText(QStringLiteral("The test was not run."));
    m_run->setEnabled(true);
}

void AlarmTestDialog::addAnswer(const QString& target, const QString& answer, const QString& text)
{
    const int row = m_answers->rowCount();
    m_answers->setRowCount(row + 1);
    setRow(m_answers, row, {target, answer, text}, answerColor(answer));
    m_answers->resizeColumnToContents(0);
    m_answers->resizeColumnToContents(1);
}

void AlarmTestDialog::testFinished()
{
    m_run->setEnabled(true);
    if (m_answers->rowCount() == 0)
        return; // nothing was sent: the status says why
    int accepted = 0;
    for (int r = 0; r < m_answers->rowCount(); ++r) {
        if (m_answers->item(r, 1)->text() == AlarmTestRecord::acceptedAnswer())
            ++accepted;
    }
    m_status->setText(QStringLiteral("Test done: %1 of %2 targets accepted it; it is in the "
                                     "alarm-test log.")
                          .arg(accepted)
                          .arg(m_answers->rowCount()));
}

QString AlarmTestDialog::answerColor(const QString& answer)
{
    if (answer == AlarmTestRecord::acceptedAnswer())
        return QStringLiteral("#1b7f2a");
    if (answer == AlarmTestRecord::refusedAnswer())
        return QStringLiteral("#b00020");
    return QStringLiteral("#b36b00");
}
