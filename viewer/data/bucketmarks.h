#pragma once

#include "viewersamplereader.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <map>
#include <utility>
#include <vector>

class QDataStream;

// The recorder's summary as the viewer compares it between sessions: per node and bucket of
// SampleTable::BucketSeconds the rows written into it and whether one of them was deleted,
// changed, replaced or repeated a second since (ViewerSampleReader::bucketMarks). Kept with the
// viewer's own summary, it tells at the next start which buckets changed, from one read of the
// recorder's summary.
class BucketMarks
{
public:
    // A bucket saved with this row count had changed otherwise than by rows read since: it is
    // read again at the next start.
    static constexpr qint64 UnknownRows = -1;
    // Rows read by id since the marks were taken, per serial number and bucket.
    using RowsRead = std::map<std::pair<QByteArray, qint64>, qint64>;
    // A bucket that differs: grown is how many rows more it has now when that is all that
    // changed (rows read since may account for them), else 0.
    using Changed = std::function<void(const QByteArray& serial, qint64 bucket, qint64 grown)>;

    // The marks and the largest row id of one moment of the file.
    bool read(ViewerSampleReader* store, qint64* maxId);
    void write(QDataStream& out) const;
    bool read(QDataStream& in);

    int size() const { return int(m_marks.size()); }
    // Calls changed for every bucket in which these marks differ from `before`.
    void compare(const BucketMarks& before, const Changed& changed) const;
    // These marks as a summary holds them that matched `base` and has read `rowsRead` since:
    // a bucket that changed otherwise gets UnknownRows.
    BucketMarks settled(const BucketMarks& base, const RowsRead& rowsRead) const;

private:
    // Both lists' marks on one list of serial numbers, still in (serial, bucket) order.
    static QList<QByteArray> unite(BucketMarks* a, BucketMarks* b);

    QList<QByteArray> m_serials; // ascending
    std::vector<ViewerSampleReader::BucketMark> m_marks;
};
