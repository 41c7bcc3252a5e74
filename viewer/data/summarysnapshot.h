#pragma once

#include "bucketmarks.h"
#include "samplesummary.h"

#include <QByteArray>
#include <QString>

#include <memory>

class QFile;
class ViewerSampleReader;
class SummaryCache;

// A database's summary kept in the user's cache folder between sessions (never beside or into
// the recorder's database): the database's path, the rows at both ends of what is summarized,
// the schema and the recorder's summary marks it was checked against, then the summary itself
// (SummaryFile), which is read the newest part first.
class SummarySnapshot
{
public:
    static QString path(const QString& databasePath);
    // Writes what the cache holds, replacing the last one only when the whole was written;
    // without marks when `marks` is null.
    static bool save(const QString& databasePath, const SummaryCache& cache, ViewerSampleReader* store,
                     const QByteArray& schema, const BucketMarks* marks);

    SummarySnapshot();
    ~SummarySnapshot();

    // The saved summary of the database, up to its newest part; false when there is none, or
    // it is of another version or of a file at another path.
    bool read(const QString& databasePath);

    const QByteArray& lowPrint() const { return m_lowPrint; }
    const QByteArray& highPrint() const { return m_highPrint; }
    const QByteArray& schema() const { return m_schema; }
    bool hasMarks() const { return m_withMarks; }
    const BucketMarks& marks() const { return m_marks; }
    // The newest part with the settings, ids, digests and stale ranges.
    SampleSummary& summary() { return m_summary; }
    // The reader of the older parts and the file it reads.
    SummaryFile* loader() const { return m_loader.get(); }
    std::unique_ptr<SummaryFile> takeLoader();
    std::unique_ptr<QFile> takeFile();

private:
    std::unique_ptr<QFile> m_file;
    std::unique_ptr<SummaryFile> m_loader;
    QByteArray m_lowPrint;
    QByteArray m_highPrint;
    QByteArray m_schema;
    bool m_withMarks = false;
    BucketMarks m_marks;
    SampleSummary m_summary;
};
