#include "bucketmarks.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

namespace {

bool before(const ViewerSampleReader::BucketMark& a, const ViewerSampleReader::BucketMark& b)
{
    return a.serial < b.serial || (a.serial == b.serial && a.bucket < b.bucket);
}

} // namespace

bool BucketMarks::read(ViewerSampleReader* store, qint64* maxId)
{
    m_serials.clear();
    m_marks.clear();
    // One read transaction: the rows above maxId are exactly those not in the marks.
    if (!store->begin())
        return false;
    const bool ok = store->bucketMarks(&m_serials, &m_marks);
    *maxId = ok ? store->maxId() : -1;
    store->end();
    // SQLite and QByteArray order text alike; a file from elsewhere is put in order here.
    if (ok && !std::is_sorted(m_serials.begin(), m_serials.end())) {
        const QList<QByteArray> serials = m_serials;
        std::sort(m_serials.begin(), m_serials.end());
        for (ViewerSampleReader::BucketMark& mark : m_marks)
            mark.serial = int(m_serials.indexOf(serials.at(mark.serial)));
        std::sort(m_marks.begin(), m_marks.end(), before);
    }
    return ok && *maxId >= 0;
}

void BucketMarks::write(QDataStream& out) const
{
    out << m_serials << quint64(m_marks.size());
    out.writeRawData(reinterpret_cast<const char*>(m_marks.data()),
                     int(m_marks.size() * sizeof(ViewerSampleReader::BucketMark)));
}

bool BucketMarks::read(QDataStream& in)
{
    quint64 count = 0;
    in >> m_serials >> count;
    const qint64 left = in.device() ? in.device()->bytesAvailable() : 0;
    if (in.status() != QDataStream::Ok ||
        count > quint64(qMax<qint64>(left, 0)) / sizeof(ViewerSampleReader::BucketMark) ||
        !std::is_sorted(m_serials.begin(), m_serials.end()))
        return false;
    m_marks.resize(count);
    const int bytes = int(count * sizeof(ViewerSampleReader::BucketMark));
    if (in.readRawData(reinterpret_cast<char*>(m_marks.data()), bytes) != bytes)
        return false;
    for (const ViewerSampleReader::BucketMark& mark : m_marks)
        if (mark.serial < 0 || mark.serial >= m_serials.size())
            return false;
    return std::is_sorted(m_marks.begin(), m_marks.end(), before);
}

QList<QByteArray> BucketMarks::unite(BucketMarks* a, BucketMarks* b)
{
    QList<QByteArray> all = a->m_serials;
    for (const QByteArray& serial : b->m_serials)
        if (!std::binary_search(all.begin(), all.end(), serial))
            all.insert(std::lower_bound(all.begin(), all.end(), serial), serial);
    // Both lists are ascending, so the marks keep their order on the united list.
    for (BucketMarks* marks : {a, b}) {
        std::vector<int> index;
        for (const QByteArray& serial : marks->m_serials)
            index.push_back(int(std::lower_bound(all.begin(), all.end(), serial) - all.begin()));
        for (ViewerSampleReader::BucketMark& mark : marks->m_marks)
            mark.serial = index[size_t(mark.serial)];
        marks->m_serials = all;
    }
    return all;
}

void BucketMarks::compare(const BucketMarks& earlier, const Changed& changed) const
{
    BucketMarks was = earlier;
    BucketMarks is = *this;
    const QList<QByteArray> serials = unite(&was, &is);
    auto w = was.m_marks.cbegin();
    auto n = is.m_marks.cbegin();
    while (w != was.m_marks.cend() || n != is.m_marks.cend()) {
        const bool onlyWas = n == is.m_marks.cend() || (w != was.m_marks.cend() && before(*w, *n));
        const bool onlyIs = !onlyWas && (w == was.m_marks.cend() || before(*n, *w));
        const ViewerSampleReader::BucketMark* then = onlyIs ? nullptr : &*w;
        const ViewerSampleReader::BucketMark* now = onlyWas ? nullptr : &*n;
        if (then)
            ++w;
        if (now)
            ++n;
        if (then && now && then->rows == now->rows && !then->dirty && !now->dirty)
            continue;
        // A bucket that only grew may hold nothing but rows added since; one deleted from,
        // changed or holding a repeated second is read again.
        const bool onlyGrew = now && !now->dirty && (!then || (!then->dirty && then->rows >= 0)) &&
                              now->rows > (then ? then->rows : 0);
        const ViewerSampleReader::BucketMark& mark = now ? *now : *then;
        changed(serials.at(mark.serial), mark.bucket,
                onlyGrew ? now->rows - (then ? then->rows : 0) : 0);
    }
}

BucketMarks BucketMarks::settled(const BucketMarks& base, const RowsRead& rowsRead) const
{
    BucketMarks was = base;
    BucketMarks kept = *this;
    unite(&was, &kept);
    auto w = was.m_marks.cbegin();
    for (ViewerSampleReader::BucketMark& mark : kept.m_marks) {
        while (w != was.m_marks.cend() && before(*w, mark))
            ++w;
        const bool known = w != was.m_marks.cend() && !before(mark, *w);
        const auto read =
            rowsRead.find(std::make_pair(kept.m_serials.at(mark.serial), mark.bucket));
        const qint64 expected = (known ? w->rows : 0) + (read == rowsRead.end() ? 0 : read->second);
        if (!mark.dirty && (mark.rows != expected || (known && (w->dirty || w->rows < 0))))
            mark.rows = UnknownRows;
    }
    return kept;
}
