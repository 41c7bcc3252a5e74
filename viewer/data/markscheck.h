#pragma once

#include "bucketmarks.h"

#include <QByteArray>

#include <vector>

class SampleSummary;
class SummaryCache;
struct StoredRow;

// The check of an earlier session's summary where the file has the recorder's summary: its
// buckets' row counts and marks (rows deleted, changed, replaced or repeating a second) are kept
// with ours and compared at the next start, which costs one read of the recorder's summary.
// Every bucket that changed is read again, but for one that only grew by the rows read since.
class MarksCheck
{
public:
    // Takes the recorder's marks and the last id of one moment; false when the file has none.
    bool take(ViewerSampleReader* store);
    bool hasMarks() const { return m_hasMarks; }
    // The last id of that moment: the rows above it are those read since.
    qint64 maxId() const { return m_maxId; }
    void setMaxId(qint64 id) { m_maxId = id; }
    const QByteArray& schema() const { return m_schema; }

    // Marks every bucket that differs from the saved marks stale; those that only grew stay
    // open until the rows read from highId on are counted.
    void compare(const BucketMarks& saved, SampleSummary* summary, qint64 highId);
    bool isOpen() const { return m_open; }
    // Nothing open, nothing counted.
    void clear();
    // Rows above this id count as read forward.
    void countFrom(qint64 id) { m_countFrom = id; }
    void count(const StoredRow& row);
    // The open buckets the counted rows account for are no longer stale; from here on the
    // summary matches the marks taken at the start.
    void resolve(SummaryCache* cache, qint64 highId);
    // The file's marks now, as a summary holds them that matched the marks taken at the start.
    BucketMarks settled(const BucketMarks& now) const;

private:
    // A bucket of the recorder's summary that changed since the last session, by so many rows
    // more: fine when the rows read from the last session's end account for them.
    struct Pending
    {
        QByteArray serial;
        qint64 bucket = 0;
        qint64 rows = 0;
    };

    bool m_hasMarks = false;
    BucketMarks m_marks;
    qint64 m_maxId = 0;
    QByteArray m_schema;
    std::vector<Pending> m_pending;
    bool m_open = false;
    BucketMarks::RowsRead m_forwardRows;
    qint64 m_countFrom = 0;
};
