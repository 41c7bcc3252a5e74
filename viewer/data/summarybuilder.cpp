#include "summarybuilder.h"

#include "floordiv.h"
#include "summarycache.h"
#include "summarysnapshot.h"

#include <QFile>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 Everything = std::numeric_limits<qint64>::min();
constexpr qint64 Nothing = std::numeric_limits<qint64>::max();

} // namespace

SummaryBuilder::SummaryBuilder(const QString& databasePath, std::shared_ptr<SummaryCache> cache,
                               QObject* parent)
    : QObject(parent), m_databasePath(databasePath), m_cache(std::move(cache)),
      m_loadedFrom(Everything)
{
}

SummaryBuilder::~SummaryBuilder() = default;

QString SummaryBuilder::snapshotPath(const QString& databasePath)
{
    return SummarySnapshot::path(databasePath);
}

void SummaryBuilder::start()
{
    m_store = std::make_unique<ViewerSampleReader>();
    if (!m_store->open(m_databasePath, ViewerSampleReader::ViewerBusyTimeoutMs)) {
        emit failed(m_store->errorText());
        return;
    }
    m_identity.remember(m_databasePath);
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(m_pollInterval);
    connect(m_pollTimer, &QTimer::timeout, this, &SummaryBuilder::poll);
    const bool hasTable = m_store->hasTable();
    qint64 tableMax = hasTable ? m_store->maxId() : 0;
    // The marks and the last id of one moment: the rows above it are those read since.
    if (hasTable && m_marks.take(m_store.get()))
        tableMax = m_marks.maxId();
    const bool taken = loadSnapshot();
    if (taken)
        emit updated();
    else
        startAfresh(tableMax);
    emit snapshotChecked(taken);
    m_building = true;
    step();
}

void SummaryBuilder::startAfresh(qint64 tableMax)
{
    m_loader.reset();
    m_snapshotFile.reset();
    m_loadedFrom = Everything;
    m_digests.stop();
    m_marks.clear();
    m_check = Check::None;
    SampleSummary empty = m_cache->emptyCopy();
    empty.setCompleteFrom(Nothing);
    m_cache->replace(std::move(empty));
    m_highId = qMax<qint64>(0, tableMax);
    m_lowId = m_highId + 1;
    m_marks.setMaxId(m_highId);
    m_marks.countFrom(m_highId);
}

void SummaryBuilder::resume()
{
    if (!m_held)
        return;
    m_held = false;
    step();
}

void SummaryBuilder::step()
{
    if (m_stopped || m_held || m_replaced)
        return;
    const bool hasTable = m_store->hasTable();
    const qint64 tableMax = hasTable ? m_store->maxId() : 0;
    const qint64 tableMin = hasTable ? m_store->minId() : 0;
    if (tableMax < 0 || tableMin < 0) {
        fail();
        return;
    }
    if (tableMax < m_highId) {
        // Fewer rows than summarized: another file, or the table made again.
        m_replaced = true;
        emit replaced();
        return;
    }
    const Work work = nextWork(tableMin, tableMax);
    if (work == Work::Failed)
        return;
    if (work == Work::Done) {
        if (m_building)
            emit progress(m_highId - m_lowId + 1, tableMax - tableMin + 1);
        emit updated();
        QTimer::singleShot(0, this, &SummaryBuilder::step);
        return;
    }
    if (m_building) {
        m_building = false;
        SampleSummary none = m_cache->emptyCopy();
        m_cache->merge(none, Everything);
        if (m_dirty)
            saveSnapshot();
        emit updated();
        emit complete();
    }
    if (m_pollTimer && !m_pollTimer->isActive())
        m_pollTimer->start();
}

SummaryBuilder::Work SummaryBuilder::nextWork(qint64 tableMin, qint64 tableMax)
{
    // The rest of the last session's summary comes before anything is read again into it.
    if (m_loader)
        return loadOlderPart();
    // While changed buckets wait for the rows read since to account for them, no further.
    const qint64 forwardTo = m_marks.isOpen() ? qMin(tableMax, m_marks.maxId()) : tableMax;
    if (m_highId < forwardTo)
        return forward(qMin(forwardTo, m_highId + BatchRows));
    if (m_marks.isOpen()) {
        m_marks.resolve(m_cache.get(), m_highId);
        return Work::Done;
    }
    bool stale = false;
    m_cache->read([&](const SampleSummary& s) { stale = !s.staleRanges().empty(); });
    if (stale)
        return reread();
    if (m_digests.isRunning())
        return verifyBlocks();
    if (tableMin > 0 && m_lowId > tableMin)
        return backward(tableMin);
    return Work::Idle;
}

SummaryBuilder::Work SummaryBuilder::fail()
{
    emit failed(m_store->errorText());
    // Tried again a poll interval later (a recorder holding the file for a moment).
    QTimer::singleShot(m_pollInterval, this, &SummaryBuilder::step);
    return Work::Failed;
}

void SummaryBuilder::poll()
{
    if (m_stopped || m_building || m_replaced)
        return;
    if (m_identity.replaced(m_databasePath, m_store.get(), m_lowId, m_highId)) {
        m_replaced = true;
        m_pollTimer->stop();
        emit replaced();
        return;
    }
    step();
}

bool SummaryBuilder::readBatch(qint64 first, qint64 last, bool descending, SampleSummary* batch,
                               qint64* oldest)
{
    *oldest = Nothing;
    const bool countForward = m_marks.hasMarks() && !descending;
    const bool ok = m_store->idRows(first, last, descending, [&](const StoredRow& row) {
        batch->add(row);
        batch->noteId(row);
        ++m_rowsRead;
        *oldest = qMin(*oldest, row.time);
        if (countForward)
            m_marks.count(row);
        return true;
    });
    if (!ok)
        return false;
    batch->markIds(first, last);
    m_dirty = true;
    return true;
}

SummaryBuilder::Work SummaryBuilder::forward(qint64 last)
{
    const qint64 first = m_highId + 1;
    SampleSummary batch = m_cache->emptyCopy();
    qint64 oldest = Nothing;
    if (!readBatch(first, last, false, &batch, &oldest))
        return fail();
    m_cache->update([&](SampleSummary& s) { s.merge(batch); });
    m_highId = last;
    return Work::Done;
}

SummaryBuilder::Work SummaryBuilder::backward(qint64 tableMin)
{
    const qint64 last = m_lowId - 1;
    const qint64 first = qMax(tableMin, last - BatchRows + 1);
    SampleSummary batch = m_cache->emptyCopy();
    qint64 oldest = Nothing;
    if (!readBatch(first, last, true, &batch, &oldest))
        return fail();
    qint64 completeFrom = Nothing;
    m_cache->read([&](const SampleSummary& s) { completeFrom = s.builtFrom(); });
    if (first <= tableMin)
        completeFrom = Everything;
    else if (oldest != Nothing)
        completeFrom = qMin(completeFrom, oldest + DisorderSeconds);
    m_cache->merge(batch, completeFrom);
    m_lowId = first;
    return Work::Done;
}

SummaryBuilder::Work SummaryBuilder::loadOlderPart()
{
    SampleSummary part = m_cache->emptyCopy();
    if (!m_loader->next(&part)) {
        // A damaged file: everything from the rows.
        startAfresh(m_store->maxId());
        m_dirty = true;
        return Work::Done;
    }
    m_loadedFrom = m_loader->hasMore() ? m_loader->loadedFrom() : Everything;
    if (!m_loader->hasMore()) {
        m_loader.reset();
        m_snapshotFile.reset();
    }
    m_cache->update([&](SampleSummary& s) { s.merge(part); });
    updateUsable();
    return Work::Done;
}

SummaryBuilder::Work SummaryBuilder::reread()
{
    SampleSummary::Stale stale;
    QList<QByteArray> serials;
    qint64 bucket = 1;
    qint64 spanFirst = 0;
    qint64 spanLast = -1;
    qint64 fromKey = 0;
    qint64 toKey = 0;
    m_cache->read([&](const SampleSummary& s) {
        // The newest first: that is where the view most likely is.
        const std::vector<SampleSummary::Stale>& ranges = s.staleRanges();
        stale = *std::max_element(ranges.begin(), ranges.end(),
                                  [](const SampleSummary::Stale& a, const SampleSummary::Stale& b) {
                                      return a.to < b.to;
                                  });
        bucket = s.bucketSeconds();
        toKey = floorDiv(stale.to, bucket);
        fromKey = qMax(floorDiv(stale.from, bucket), toKey - RereadBuckets + 1);
        if (!s.idSpan(fromKey * bucket, (toKey + 1) * bucket - 1, &spanFirst, &spanLast))
            spanLast = -1;
        serials = s.serials();
    });
    const qint64 from = fromKey * bucket;
    const qint64 to = (toKey + 1) * bucket - 1;
    SampleSummary part = m_cache->emptyCopy();
    if (m_store->hasIndex()) {
        if (!stale.serial.isEmpty()) {
            serials = {stale.serial};
        } else {
            QList<QByteArray> inFile;
            if (!m_store->serials(&inFile))
                return fail();
            for (const QByteArray& serial : inFile)
                if (!serials.contains(serial))
                    serials << serial;
        }
        for (const QByteArray& serial : serials) {
            const bool ok = m_store->nodeRowsWithin(serial, from, to, m_lowId, m_highId,
                                                    [&](const StoredRow& r) {
                                                        part.add(r);
                                                        return true;
                                                    });
            if (!ok)
                return fail();
        }
    } else {
        // The rows of these seconds lie between the ids the summary knows for them, or among
        // the ids found changed.
        if (stale.lastId >= stale.firstId) {
            spanFirst = spanLast >= spanFirst ? qMin(spanFirst, stale.firstId) : stale.firstId;
            spanLast = qMax(spanLast, stale.lastId);
        }
        spanFirst = qMax(spanFirst, m_lowId);
        spanLast = qMin(spanLast, m_highId);
        struct Found
        {
            QByteArray serial;
            StoredRow row;
        };
        std::vector<Found> found;
        if (spanLast >= spanFirst) {
            const bool ok = m_store->idRows(spanFirst, spanLast, false, [&](const StoredRow& r) {
                if (r.time < from || r.time > to)
                    return true;
                const QByteArray serial(r.serial, r.serialLength);
                if (stale.serial.isEmpty() || serial == stale.serial)
                    found.push_back({serial, r});
                return true;
            });
            if (!ok)
                return fail();
        }
        // One row per node and second: the later one.
        std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
            return a.serial != b.serial
                       ? a.serial < b.serial
                       : (a.row.time != b.row.time ? a.row.time < b.row.time : a.row.id < b.row.id);
        });
        for (size_t i = 0; i < found.size(); ++i) {
            if (i + 1 < found.size() && found[i + 1].serial == found[i].serial &&
                found[i + 1].row.time == found[i].row.time)
                continue;
            StoredRow row = found[i].row;
            row.serial = found[i].serial.constData();
            row.serialLength = int(found[i].serial.size());
            part.add(row);
        }
    }
    m_cache->update([&](SampleSummary& s) { s.replaceRange(stale.serial, fromKey, toKey, part); });
    m_dirty = true;
    return Work::Done;
}

SummaryBuilder::Work SummaryBuilder::verifyBlocks()
{
    bool changed = false;
    if (!m_digests.turn(m_store.get(), m_cache.get(), m_lowId, m_highId, &changed))
        return fail();
    m_dirty = m_dirty || changed;
    updateUsable();
    return Work::Done;
}

void SummaryBuilder::updateUsable()
{
    const qint64 usable = qMax(m_loadedFrom, m_digests.checkedFrom());
    m_cache->update([&](SampleSummary& s) { s.setUsableFrom(usable); });
}

bool SummaryBuilder::loadSnapshot()
{
    SummarySnapshot snapshot;
    if (!snapshot.read(m_databasePath))
        return false;
    SampleSummary& loaded = snapshot.summary();
    if (!loaded.sameSettings(m_cache->emptyCopy()) || loaded.isEmpty())
        return false;
    // The rows at both ends must still be the rows that were summarized: a file replaced by
    // another one, or a table made again, is summarized afresh.
    if (snapshot.lowPrint().isEmpty() ||
        snapshot.lowPrint() != FileIdentity::fingerprint(m_store.get(), loaded.lowId()) ||
        snapshot.highPrint() != FileIdentity::fingerprint(m_store.get(), loaded.highId()))
        return false;
    m_lowId = loaded.lowId();
    m_highId = loaded.highId();
    m_marks.clear();
    if (snapshot.hasMarks() && m_marks.hasMarks() && snapshot.schema() == m_marks.schema() &&
        m_marks.maxId() >= m_highId) {
        m_check = Check::Marks;
        m_digests.stop();
        m_marks.compare(snapshot.marks(), &loaded, m_highId);
    } else {
        // Nothing to compare with: each block of ids is counted again, the newest first, and
        // until then nothing before it is taken from here.
        m_check = Check::Digests;
        m_digests.start(m_lowId, m_highId);
        m_marks.countFrom(m_marks.maxId());
    }
    SummaryFile* loader = snapshot.loader();
    m_loadedFrom = loader->hasMore() ? loader->loadedFrom() : Everything;
    loaded.setUsableFrom(qMax(m_loadedFrom, m_digests.checkedFrom()));
    m_cache->replace(std::move(loaded));
    if (loader->hasMore()) {
        m_snapshotFile = snapshot.takeFile();
        m_loader = snapshot.takeLoader();
    }
    return true;
}

bool SummaryBuilder::saveSnapshot()
{
    // Half of an earlier session's summary, or one whose changed buckets are not settled yet,
    // would be taken for the whole next time.
    if (m_loader || m_marks.isOpen() || m_replaced)
        return false;
    BucketMarks marks;
    bool withMarks = false;
    if (m_marks.hasMarks() && m_store->hasSummary()) {
        qint64 maxId = 0;
        QByteArray schema;
        if (marks.read(m_store.get(), &maxId) && m_store->schemaText(&schema) &&
            schema == m_marks.schema()) {
            while (m_highId < maxId && forward(qMin(maxId, m_highId + BatchRows)) == Work::Done) {
            }
            withMarks = m_highId == maxId;
            if (withMarks)
                marks = m_marks.settled(marks);
        }
    }
    if (!SummarySnapshot::save(m_databasePath, *m_cache, m_store.get(), m_marks.schema(),
                               withMarks ? &marks : nullptr))
        return false;
    m_dirty = false;
    return true;
}

void SummaryBuilder::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    if (m_pollTimer)
        m_pollTimer->stop();
    if (m_dirty && m_store && !m_replaced)
        saveSnapshot();
    m_loader.reset();
    m_snapshotFile.reset();
    m_store.reset();
}
