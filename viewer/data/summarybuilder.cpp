#include "summarybuilder.h"

#include "samplereader.h"
#include "summarycache.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <limits>

namespace {

constexpr quint32 FileMagic = 0x54534346;
constexpr quint32 FileVersion = 1;
constexpr qint64 Everything = std::numeric_limits<qint64>::min();
constexpr qint64 Nothing = std::numeric_limits<qint64>::max();
// Batches read per poll before the thread looks at its events again.
constexpr int BatchesPerTurn = 4;

QString canonical(const QString& path)
{
    const QFileInfo info(path);
    const QString resolved = info.canonicalFilePath();
    return resolved.isEmpty() ? info.absoluteFilePath() : resolved;
}

} // namespace

SummaryBuilder::SummaryBuilder(const QString& databasePath, std::shared_ptr<SummaryCache> cache,
                               QObject* parent)
    : QObject(parent), m_databasePath(databasePath), m_cache(std::move(cache))
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
    m_store = std::make_unique<SampleReader>();
    if (!m_store->open(m_databasePath, SampleReader::ViewerBusyTimeoutMs)) {
        emit failed(m_store->errorText());
        return;
    }
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(m_pollInterval);
    connect(m_pollTimer, &QTimer::timeout, this, &SummaryBuilder::poll);
    const bool taken = loadSnapshot();
    if (taken) {
        emit updated();
    } else {
        SampleSummary empty = m_cache->emptyCopy();
        empty.setCompleteFrom(Nothing);
        m_cache->replace(std::move(empty));
        const qint64 tableMax = m_store->hasTable() ? m_store->maxId() : 0;
        m_highId = qMax<qint64>(0, tableMax);
        m_lowId = m_highId + 1;
    }
    emit snapshotChecked(taken);
    m_building = true;
    step();
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
    if (m_stopped || m_held)
        return;
    const bool hasTable = m_store->hasTable();
    const qint64 tableMax = hasTable ? m_store->maxId() : 0;
    const qint64 tableMin = hasTable ? m_store->minId() : 0;
    if (tableMax < 0 || tableMin < 0) {
        emit failed(m_store->errorText());
        return;
    }
    if (tableMax < m_highId) {
        // Fewer rows than summarized: another file under the same name. Start again.
        SampleSummary empty = m_cache->emptyCopy();
        empty.setCompleteFrom(Nothing);
        m_cache->replace(std::move(empty));
        m_highId = tableMax;
        m_lowId = tableMax + 1;
        m_building = true;
    }
    bool worked = false;
    for (int i = 0; i < BatchesPerTurn && !worked; ++i) {
        if (m_highId < tableMax)
            worked = forward(tableMax);
        else if (tableMin > 0 && m_lowId > tableMin)
            worked = backward(tableMin);
        else
            break;
    }
    if (worked) {
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

void SummaryBuilder::poll()
{
    if (m_stopped || m_building)
        return;
    step();
}

bool SummaryBuilder::readBatch(qint64 first, qint64 last, bool descending, SampleSummary* batch,
                               qint64* oldest)
{
    *oldest = Nothing;
    const bool ok = m_store->idRows(first, last, descending, [&](const StoredRow& row) {
        batch->add(row);
        ++m_rowsRead;
        *oldest = qMin(*oldest, row.time);
        return true;
    });
    if (!ok) {
        emit failed(m_store->errorText());
        return false;
    }
    batch->markIds(first, last);
    m_dirty = true;
    return true;
}

bool SummaryBuilder::forward(qint64 tableMax)
{
    const qint64 first = m_highId + 1;
    const qint64 last = qMin(tableMax, m_highId + BatchRows);
    SampleSummary batch = m_cache->emptyCopy();
    qint64 oldest = Nothing;
    if (!readBatch(first, last, false, &batch, &oldest))
        return false;
    qint64 completeFrom = Everything;
    m_cache->read([&](const SampleSummary& s) { completeFrom = s.completeFrom(); });
    m_cache->merge(batch, completeFrom);
    m_highId = last;
    return true;
}

bool SummaryBuilder::backward(qint64 tableMin)
{
    const qint64 last = m_lowId - 1;
    const qint64 first = qMax(tableMin, last - BatchRows + 1);
    SampleSummary batch = m_cache->emptyCopy();
    qint64 oldest = Nothing;
    if (!readBatch(first, last, true, &batch, &oldest))
        return false;
    qint64 completeFrom = Nothing;
    m_cache->read([&](const SampleSummary& s) { completeFrom = s.completeFrom(); });
    if (first <= tableMin)
        completeFrom = Everything;
    else if (oldest != Nothing)
        completeFrom = qMin(completeFrom, oldest + DisorderSeconds);
    m_cache->merge(batch, completeFrom);
    m_lowId = first;
    return true;
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

bool SummaryBuilder::saveSnapshot()
{
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
            << fingerprint(summary.highId());
        ok = out.status() == QDataStream::Ok && summary.save(&file);
    });
    if (!ok) {
        file.cancelWriting();
        return false;
    }
    m_dirty = !file.commit();
    return !m_dirty;
}

bool SummaryBuilder::loadSnapshot()
{
    QFile file(snapshotPath(m_databasePath));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QDataStream in(&file);
    quint32 magic = 0;
    quint32 version = 0;
    QString path;
    QByteArray low;
    QByteArray high;
    in >> magic >> version >> path >> low >> high;
    if (in.status() != QDataStream::Ok || magic != FileMagic || version != FileVersion ||
        path != canonical(m_databasePath))
        return false;
    SampleSummary loaded = m_cache->emptyCopy();
    if (!loaded.load(&file) || !loaded.sameSettings(m_cache->emptyCopy()) || loaded.isEmpty())
        return false;
    // The rows at both ends must still be the rows that were summarized: a file replaced by
    // another one, or a table made again, is summarized afresh.
    if (low.isEmpty() || low != fingerprint(loaded.lowId()) || high != fingerprint(loaded.highId()))
        return false;
    m_lowId = loaded.lowId();
    m_highId = loaded.highId();
    m_cache->replace(std::move(loaded));
    return true;
}

void SummaryBuilder::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    if (m_pollTimer)
        m_pollTimer->stop();
    if (m_dirty && m_store)
        saveSnapshot();
    m_store.reset();
}
