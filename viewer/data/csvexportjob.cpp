#include "csvexportjob.h"

#include "summarycache.h"
#include "viewersamplereader.h"

#include <QSaveFile>

CsvExportJob::CsvExportJob(const QString& databasePath, std::shared_ptr<SummaryCache> cache,
                           const QVector<CsvExporter::Column>& columns, qint64 from, qint64 to,
                           const QString& file, qint64 sliceSeconds, QObject* parent)
    : QObject(parent), m_databasePath(databasePath), m_cache(std::move(cache)), m_columns(columns),
      m_from(from), m_to(to), m_file(file), m_slice(sliceSeconds)
{
}

void CsvExportJob::run()
{
    ViewerSampleReader store;
    if (!store.open(m_databasePath, ViewerSampleReader::ViewerBusyTimeoutMs)) {
        emit finished(false, store.errorText(), 0);
        return;
    }
    QSaveFile out(m_file);
    if (!out.open(QIODevice::WriteOnly)) {
        emit finished(false, out.errorString(), 0);
        return;
    }
    CsvExporter exporter(&store, m_cache.get());
    exporter.setSliceSeconds(m_slice);
    int last = -1;
    const bool ok = exporter.write(m_columns, m_from, m_to, &out, [&](double done) {
        const int permille = int(done * 1000);
        if (permille != last) {
            last = permille;
            emit progress(permille);
        }
        return !m_cancel;
    });
    if (!ok) {
        out.cancelWriting();
        emit finished(false, exporter.error(), exporter.rowsWritten());
        return;
    }
    if (!out.commit()) {
        emit finished(false, out.errorString(), exporter.rowsWritten());
        return;
    }
    emit finished(true, QString(), exporter.rowsWritten());
}
