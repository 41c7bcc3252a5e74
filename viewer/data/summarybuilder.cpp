#include "summarybuilder.h"

#include "sampletable.h"
#include "summarycache.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <sys/stat.h>

#include <algorithm>
#include <limits>

namespace {

constexpr quint32 FileMagic = 0x54534346;
// 2: the recorder's summary marks and the schema they belong to.
constexpr quint32 FileVersion = 2;
constexpr qint64 Everything = std::numeric_limits<qint64>::min();
constexpr qint64 Nothing = std::numeric_limits<qint64>::max();

QString canonical(const QString& path)
{
    const QFileInfo info(path);
    const QString resolved = info.canonicalFilePath();
    return resolved.isEmpty() ? info.absoluteFilePath() : resolved;
}

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// The seconds of a bucket of the recorder's summary.
SampleSummary::Stale staleBucket(const QByteArray& serial, qint64 bucket)
{
    SampleSummary::Stale stale;
    stale.serial = serial;
    stale.from = bucket * SampleTable::BucketSeconds;
    stale.to = stale.from + SampleTable::BucketSeconds - 1;
    return stale;
}

} // namespace

SummaryBuilder::SummaryBuilder(const QString& databasePath, std::shared_ptr<SummaryCache> cache,
                               QObject* parent)
    : QObject(parent), m_databasePath(databasePath), m_cache(std::move(cache)),
      m_loadedFrom(Everything), m_verifiedFrom(Everything)
{
}

SummaryBuilder::~SummaryBuilder() = default;

QString SummaryBuilder::snapshotPath(const QString& databasePath)
{
    const QByteArray key =
        QCryptographicHash::hash(canonical(databasePath).toUtf8(), QCryptographicHash::Sha1)
            .toHex();
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/summaries/") + QString::fromLatin1(key) + QStringLiteral(".summary");
}

void SummaryBuilder::start()
{
    m_store = std::make_unique<ViewerSampleReader>();
    if (!m_store->open(m_databasePath, ViewerSampleReader::ViewerBusyTimeoutMs)) {
        emit failed(m_store->errorText());
        return;
    }
    rememberFile();
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(m_pollInterval);
    connect(m_pollTimer, &QTimer::timeout, this, &SummaryBuilder::poll);
    const bool hasTable = m_store->hasTable();
    m_hasMarks = hasTable && m_store->hasSummary();
    qint64 tableMax = hasTable ? m_store->maxId() : 0;
    if (m_hasMarks) {
        // The marks and the last id of one moment: the rows above it are those read since.
        m_hasMarks = m_marks.read(m_store.get(), &m_marksMaxId) && m_store->schemaText(&m_schema);
        if (m_hasMarks)
            tableMax = m_marksMaxId;
    }
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
    m_verifying = false;
    m_verifiedFrom = Everything;
    m_pending.clear();
    m_pendingOpen = false;
    m_forwardRows.clear();
    m_check = Check::None;
    SampleSummary empty = m_cache->emptyCopy();
    empty.setCompleteFrom(Nothing);
    m_cache->replace(std::move(empty));
    m_highId = qMax<qint64>(0, tableMax);
    m_lowId = m_highId + 1;
    m_marksMaxId = m_highId;
    m_countFrom = m_highId;
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
    const qint64 forwardTo = m_pendingOpen ? qMin(tableMax, m_marksMaxId) : tableMax;
    if (m_highId < forwardTo)
        return forward(qMin(forwardTo, m_highId + BatchRows));
    if (m_pendingOpen)
        return resolvePending();
    bool stale = false;
    m_cache->read([&](const SampleSummary& s) { stale = !s.staleRanges().empty(); });
    if (stale)
        return reread();
    if (m_verifying)
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
    if (fileReplaced()) {
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
    const bool countForward = m_hasMarks && !descending;
    const bool ok = m_store->idRows(first, last, descending, [&](const StoredRow& row) {
        batch->add(row);
        batch->noteId(row);
        ++m_rowsRead;
        *oldest = qMin(*oldest, row.time);
        if (countForward && row.id > m_countFrom)
            ++m_forwardRows[MarkKey(QByteArray(row.serial, row.serialLength),
                                    floorDiv(row.time, SampleTable::BucketSeconds))];
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

SummaryBuilder::Work SummaryBuilder::resolvePending()
{
    m_cache->update([&](SampleSummary& s) {
        for (const Pending& p : m_pending) {
            const auto it = m_forwardRows.find(MarkKey(p.serial, p.bucket));
            if (it != m_forwardRows.end() && it->second == p.rows) {
                const SampleSummary::Stale bucket = staleBucket(p.serial, p.bucket);
                s.unmarkStale(p.serial, bucket.from, bucket.to);
            }
        }
    });
    // From here on the summary matches the marks read at the start.
    m_pending.clear();
    m_pendingOpen = false;
    m_forwardRows.clear();
    m_countFrom = m_highId;
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
    std::vector<SampleSummary::IdBlock> saved;
    m_cache->read(
        [&](const SampleSummary& s) { saved.assign(s.idBlocks().begin(), s.idBlocks().end()); });
    auto savedBlock = [&](qint64 key) {
        const auto it =
            std::lower_bound(saved.begin(), saved.end(), key,
                             [](const SampleSummary::IdBlock& b, qint64 k) { return b.key < k; });
        SampleSummary::IdBlock block;
        block.key = key;
        return it != saved.end() && it->key == key ? *it : block;
    };
    std::vector<SampleSummary::Stale> changed;
    std::vector<SampleSummary::IdBlock> counted;
    // Taken as checked only when the whole turn went through.
    qint64 key = m_verifyKey;
    for (int i = 0; i < BlocksPerTurn && key >= m_verifyEnd; ++i, --key) {
        const qint64 first = qMax(key * SampleSummary::BlockIds, m_lowId);
        const qint64 last = qMin((key + 1) * SampleSummary::BlockIds - 1, m_highId);
        ViewerSampleReader::IdDigest now;
        if (!m_store->idDigest(first, last, &now))
            return fail();
        if (now == savedBlock(key).digest)
            continue;
        // The buckets of the rows that were there (the summary knows their ids) and of those
        // there now are read again.
        std::vector<qint64> keys;
        qint64 bucket = 1;
        m_cache->read([&](const SampleSummary& s) {
            keys = s.bucketsOfIds(first, last);
            bucket = s.bucketSeconds();
        });
        const bool ok = m_store->idRows(first, last, false, [&](const StoredRow& row) {
            keys.push_back(floorDiv(row.time, bucket));
            return true;
        });
        if (!ok)
            return fail();
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        for (size_t k = 0; k < keys.size();) {
            size_t end = k + 1;
            while (end < keys.size() && keys[end] == keys[end - 1] + 1)
                ++end;
            SampleSummary::Stale stale;
            stale.from = keys[k] * bucket;
            stale.to = (keys[end - 1] + 1) * bucket - 1;
            stale.firstId = first;
            stale.lastId = last;
            changed.push_back(stale);
            k = end;
        }
        SampleSummary::IdBlock block;
        block.key = key;
        block.digest = now;
        counted.push_back(block);
    }
    m_verifyKey = key;
    if (m_verifyKey < m_verifyEnd) {
        m_verifying = false;
        m_verifiedFrom = Everything;
    } else {
        // Every row at or after the latest second of a block not counted yet is checked.
        qint64 latest = Everything;
        for (const SampleSummary::IdBlock& b : saved)
            if (b.key <= m_verifyKey && b.digest.count > 0)
                latest = qMax(latest, b.digest.lastTime);
        m_verifiedFrom = latest == Everything ? Everything : latest + 1;
    }
    m_cache->update([&](SampleSummary& s) {
        for (const SampleSummary::Stale& stale : changed)
            s.markStale(stale);
        for (const SampleSummary::IdBlock& block : counted)
            s.setIdBlock(block);
    });
    m_dirty = m_dirty || !changed.empty();
    updateUsable();
    return Work::Done;
}

void SummaryBuilder::updateUsable()
{
    const qint64 usable = qMax(m_loadedFrom, m_verifiedFrom);
    m_cache->update([&](SampleSummary& s) { s.setUsableFrom(usable); });
}

QByteArray SummaryBuilder::fingerprint(qint64 id)
{
    QByteArray print;
    m_store->row(id, [&](const StoredRow& row) {
        print = QByteArray(row.serial, row.serialLength);
        print += QByteArray::number(row.time);
        for (int c = 0; c < 2; ++c) {
            print += row.present[c] ? '+' : '-';
            print += QByteArray(reinterpret_cast<const char*>(&row.value[c]), sizeof(double));
        }
        return true;
    });
    return print;
}

void SummaryBuilder::compareMarks(const BucketMarks& saved, SampleSummary* summary)
{
    m_pending.clear();
    m_marks.compare(saved, [&](const QByteArray& serial, qint64 bucket, qint64 grown) {
        summary->markStale(staleBucket(serial, bucket));
        // Rows added since can account for a bucket that only grew.
        if (grown > 0)
            m_pending.push_back({serial, bucket, grown});
    });
    m_pendingOpen = true;
    m_forwardRows.clear();
    m_countFrom = m_highId;
}

bool SummaryBuilder::loadSnapshot()
{
    auto file = std::make_unique<QFile>(snapshotPath(m_databasePath));
    if (!file->open(QIODevice::ReadOnly))
        return false;
    QDataStream in(file.get());
    quint32 magic = 0;
    quint32 version = 0;
    QString path;
    QByteArray low;
    QByteArray high;
    QByteArray schema;
    bool withMarks = false;
    BucketMarks saved;
    in >> magic >> version;
    if (in.status() != QDataStream::Ok || magic != FileMagic || version != FileVersion)
        return false;
    in >> path >> low >> high >> schema >> withMarks;
    if (in.status() != QDataStream::Ok || path != canonical(m_databasePath) ||
        (withMarks && !saved.read(in)))
        return false;
    auto loader = std::make_unique<SampleSummary::Loader>(file.get());
    SampleSummary loaded;
    if (!loader->first(&loaded) || !loaded.sameSettings(m_cache->emptyCopy()) || loaded.isEmpty())
        return false;
    // The rows at both ends must still be the rows that were summarized: a file replaced by
    // another one, or a table made again, is summarized afresh.
    if (low.isEmpty() || low != fingerprint(loaded.lowId()) || high != fingerprint(loaded.highId()))
        return false;
    m_lowId = loaded.lowId();
    m_highId = loaded.highId();
    m_pending.clear();
    m_pendingOpen = false;
    m_forwardRows.clear();
    if (withMarks && m_hasMarks && schema == m_schema && m_marksMaxId >= m_highId) {
        m_check = Check::Marks;
        m_verifying = false;
        m_verifiedFrom = Everything;
        compareMarks(saved, &loaded);
    } else {
        // Nothing to compare with: each block of ids is counted again, the newest first, and
        // until then nothing before it is taken from here.
        m_check = Check::Digests;
        m_verifying = true;
        m_verifyKey = floorDiv(m_highId, SampleSummary::BlockIds);
        m_verifyEnd = floorDiv(m_lowId, SampleSummary::BlockIds);
        m_verifiedFrom = Nothing;
        m_countFrom = m_marksMaxId;
    }
    m_loadedFrom = loader->hasMore() ? loader->loadedFrom() : Everything;
    loaded.setUsableFrom(qMax(m_loadedFrom, m_verifiedFrom));
    m_cache->replace(std::move(loaded));
    if (loader->hasMore()) {
        m_snapshotFile = std::move(file);
        m_loader = std::move(loader);
    }
    return true;
}

bool SummaryBuilder::saveSnapshot()
{
    // Half of an earlier session's summary, or one whose changed buckets are not settled yet,
    // would be taken for the whole next time.
    if (m_loader || m_pendingOpen || m_replaced)
        return false;
    BucketMarks marks;
    bool withMarks = false;
    if (m_hasMarks && m_store->hasSummary()) {
        qint64 maxId = 0;
        QByteArray schema;
        if (marks.read(m_store.get(), &maxId) && m_store->schemaText(&schema) &&
            schema == m_schema) {
            while (m_highId < maxId && forward(qMin(maxId, m_highId + BatchRows)) == Work::Done) {
            }
            withMarks = m_highId == maxId;
            if (withMarks)
                marks = marks.settled(m_marks, m_forwardRows);
        }
    }
    const QString path = snapshotPath(m_databasePath);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    bool ok = false;
    m_cache->read([&](const SampleSummary& summary) {
        if (summary.isEmpty())
            return;
        QDataStream out(&file);
        out << FileMagic << FileVersion << canonical(m_databasePath) << fingerprint(summary.lowId())
            << fingerprint(summary.highId()) << m_schema << withMarks;
        if (withMarks)
            marks.write(out);
        ok = out.status() == QDataStream::Ok && summary.save(&file);
    });
    if (!ok) {
        file.cancelWriting();
        return false;
    }
    m_dirty = !file.commit();
    return !m_dirty;
}

void SummaryBuilder::rememberFile()
{
    struct stat info = {};
    if (::stat(QFile::encodeName(m_databasePath).constData(), &info) == 0) {
        m_device = quint64(info.st_dev);
        m_inode = quint64(info.st_ino);
    }
}

bool SummaryBuilder::fileReplaced()
{
    // A file moved over the path has another inode; the connections still read the old one.
    struct stat info = {};
    if (::stat(QFile::encodeName(m_databasePath).constData(), &info) == 0 &&
        (quint64(info.st_dev) != m_device || quint64(info.st_ino) != m_inode))
        return true;
    // A file copied over the old one keeps its inode, but not its first row.
    if (m_lowId > m_highId)
        return false;
    const QByteArray print = fingerprint(m_lowId);
    if (m_printedId == m_lowId && print != m_lowPrint)
        return true;
    m_printedId = m_lowId;
    m_lowPrint = print;
    return false;
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
