#pragma once

#include "csvexporter.h"

#include <QDialog>
#include <QVector>

#include <memory>

namespace Ui {
class ExportDialog;
}

class CsvExportJob;
class QThread;
class ViewerSession;

// Exports the chosen channels as CSV, for the visible range or a typed period, with a progress
// bar and a cancel button; the export runs on a thread of its own.
class ExportDialog : public QDialog
{
    Q_OBJECT

public:
    ExportDialog(ViewerSession* session, const QVector<CsvExporter::Column>& columns,
                 double visibleFrom, double visibleTo, QWidget* parent = nullptr);
    ~ExportDialog() override;

    void setFile(const QString& file);
    bool isRunning() const { return m_job != nullptr; }
    QString resultText() const;

public slots:
    void startExport();
    void cancelExport();

signals:
    void exportFinished(bool ok);

protected:
    void reject() override;

private:
    void browse();
    void jobFinished(bool ok, const QString& message, qint64 rows);
    void stopThread();

    std::unique_ptr<Ui::ExportDialog> ui;
    ViewerSession* m_session;
    QVector<CsvExporter::Column> m_columns;
    qint64 m_visibleFrom;
    qint64 m_visibleTo;
    QThread* m_thread = nullptr;
    CsvExportJob* m_job = nullptr;
};
