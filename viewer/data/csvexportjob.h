#pragma once

#include "csvexporter.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <memory>

class SummaryCache;

// One CSV export on a worker thread with its own read-only connection, reporting progress and
// stopping within one slice when cancelled. Nothing is left behind by a cancelled or failed
// export: the file is written under a temporary name and only renamed at the end.
class CsvExportJob : public QObject
{
    Q_OBJECT

public:
    CsvExportJob(const QString& databasePath, std::shared_ptr<SummaryCache> cache,
                 const QVector<CsvExporter::Column>& columns, qint64 from, qint64 to,
                 const QString& file, qint64 sliceSeconds, QObject* parent = nullptr);

    // Safe from any thread.
    void cancel() { m_cancel = true; }

public slots:
    void run();

signals:
    void progress(int permille);
    void finished(bool ok, const QString& message, qint64 rows);

private:
    QString m_databasePath;
    std::shared_ptr<SummaryCache> m_cache;
    QVector<CsvExporter::Column> m_columns;
    qint64 m_from;
    qint64 m_to;
    QString m_file;
    qint64 m_slice;
    std::atomic<bool> m_cancel{false};
};
