#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

class QIODevice;
class ViewerSampleReader;
class SummaryCache;

// Writes the samples of some channels over a period as CSV (RFC 4180, UTF-8): a header, then
// one row per time at which any of the channels' nodes has a row, with the local time
// "yyyy-MM-dd hh:mm:ss", the Unix seconds and one column per channel; a cell is empty where the
// node has no row at that time or the row has no value (NULL or the no-value marker). The period is
// read in slices of an hour, one short query per node each, so the recorder is never held up and a
// cancel takes effect within a slice.
class CsvExporter
{
public:
    struct Column
    {
        QByteArray serial;
        int channel = 1;
        QString label; // "node - channel [unit]"
    };

    // Called after each slice with the part done (0 to 1); returning false cancels.
    using Progress = std::function<bool(double)>;

    CsvExporter(ViewerSampleReader* store, const SummaryCache* cache);

    void setSliceSeconds(qint64 seconds) { m_slice = qMax<qint64>(1, seconds); }

    // Rows with pointDate in [from, to]. False on a failed query, a failed write or a cancel.
    bool write(const QVector<Column>& columns, qint64 from, qint64 to, QIODevice* out,
               const Progress& progress = Progress());
    QString error() const { return m_error; }
    qint64 rowsWritten() const { return m_rows; }

    static QByteArray field(const QString& text);
    // The shortest text that reads back as the same double.
    static void appendNumber(double value, QByteArray* out);

private:
    ViewerSampleReader* m_store;
    const SummaryCache* m_cache;
    qint64 m_slice = 3600;
    QString m_error;
    qint64 m_rows = 0;
};
