#include "exportdialog.h"
#include "ui_exportdialog.h"

#include "csvexportjob.h"
#include "viewersession.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QThread>

#include <cmath>

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

} // namespace

ExportDialog::ExportDialog(ViewerSession* session, const QVector<CsvExporter::Column>& columns,
                           double visibleFrom, double visibleTo, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::ExportDialog>()), m_session(session),
      m_columns(columns), m_visibleFrom(qint64(std::ceil(visibleFrom))),
      m_visibleTo(qint64(std::floor(visibleTo)))
{
    ui->setupUi(this);
    QStringList labels;
    for (const CsvExporter::Column& c : columns)
        labels << c.label;
    ui->label_channels->setText(labels.join(QLatin1Char('\n')));
    ui->radioButton_visible->setText(
        QStringLiteral("Visible range: %1 ~ %2")
            .arg(QDateTime::fromSecsSinceEpoch(m_visibleFrom).toString(TimeFormat),
                 QDateTime::fromSecsSinceEpoch(m_visibleTo).toString(TimeFormat)));
    ui->dateTimeEdit_from->setDateTime(QDateTime::fromSecsSinceEpoch(m_visibleFrom));
    ui->dateTimeEdit_to->setDateTime(QDateTime::fromSecsSinceEpoch(m_visibleTo));
    ui->lineEdit_file->setText(QFileInfo(session->projectPath()).absolutePath() + QLatin1Char('/') +
                               QFileInfo(session->projectPath()).completeBaseName() +
                               QStringLiteral(".csv"));
    ui->progressBar->setRange(0, 1000);
    ui->progressBar->setValue(0);
    ui->pushButton_cancel->setEnabled(false);
    connect(ui->toolButton_browse, &QToolButton::clicked, this, &ExportDialog::browse);
    connect(ui->pushButton_export, &QPushButton::clicked, this, &ExportDialog::startExport);
    connect(ui->pushButton_cancel, &QPushButton::clicked, this, &ExportDialog::cancelExport);
    connect(ui->pushButton_close, &QPushButton::clicked, this, &ExportDialog::reject);
    auto periodChosen = [this]() {
        const bool period = ui->radioButton_period->isChecked();
        ui->dateTimeEdit_from->setEnabled(period);
        ui->dateTimeEdit_to->setEnabled(period);
    };
    connect(ui->radioButton_period, &QRadioButton::toggled, this, periodChosen);
    periodChosen();
}

ExportDialog::~ExportDialog()
{
    cancelExport();
    stopThread();
}

void ExportDialog::setFile(const QString& file)
{
    ui->lineEdit_file->setText(file);
}

QString ExportDialog::resultText() const
{
    return ui->label_result->text();
}

void ExportDialog::browse()
{
    const QString file =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), ui->lineEdit_file->text(),
                                     QStringLiteral("CSV file (*.csv)"));
    if (!file.isEmpty())
        ui->lineEdit_file->setText(file);
}

void ExportDialog::startExport()
{
    if (m_job)
        return;
    qint64 from = m_visibleFrom;
    qint64 to = m_visibleTo;
    if (ui->radioButton_period->isChecked()) {
        from = ui->dateTimeEdit_from->dateTime().toSecsSinceEpoch();
        to = ui->dateTimeEdit_to->dateTime().toSecsSinceEpoch();
    }
    const QString file = ui->lineEdit_file->text().trimmed();
    if (file.isEmpty() || from > to) {
        ui->label_result->setText(file.isEmpty() ? QStringLiteral("Please choose a file.")
                                                 : QStringLiteral("The period ends before it "
                                                                  "starts."));
        return;
    }
    if (!m_session->isIndexed() && !m_session->isSummaryComplete()) {
        ui->label_result->setText(QStringLiteral("This file has no range index: the export can "
                                                 "start once the recording is summarized (see "
                                                 "the status bar)."));
        return;
    }
    m_thread = new QThread(this);
    m_job = new CsvExportJob(m_session->databasePath(), m_session->cache(), m_columns, from, to,
                             file, 3600 * qint64(m_session->intervalSeconds()));
    m_job->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_job, &CsvExportJob::run);
    connect(m_job, &CsvExportJob::progress, ui->progressBar, &QProgressBar::setValue);
    connect(m_job, &CsvExportJob::finished, this, &ExportDialog::jobFinished);
    ui->progressBar->setValue(0);
    ui->label_result->setText(QStringLiteral("Exporting..."));
    ui->pushButton_export->setEnabled(false);
    ui->pushButton_cancel->setEnabled(true);
    m_thread->start();
}

void ExportDialog::cancelExport()
{
    if (m_job)
        m_job->cancel();
}

void ExportDialog::jobFinished(bool ok, const QString& message, qint64 rows)
{
    stopThread();
    ui->pushButton_export->setEnabled(true);
    ui->pushButton_cancel->setEnabled(false);
    if (ok) {
        ui->progressBar->setValue(1000);
        ui->label_result->setText(QStringLiteral("%1 rows written to %2")
                                      .arg(rows)
                                      .arg(QDir::toNativeSeparators(ui->lineEdit_file->text())));
    } else {
        ui->label_result->setText(message);
    }
    emit exportFinished(ok);
}

void ExportDialog::stopThread()
{
    if (!m_thread)
        return;
    m_thread->quit();
    m_thread->wait();
    delete m_job;
    m_job = nullptr;
    delete m_thread;
    m_thread = nullptr;
}

void ExportDialog::reject()
{
    // Closing stops a running export; the file it was writing is not left behind.
    cancelExport();
    stopThread();
    QDialog::reject();
}
