#include "summarysnapshot.h"

#include "fileidentity.h"
#include "summarycache.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

constexpr quint32 FileMagic = 0x54534346;
// 2: the recorder's summary marks and the schema they belong to.
constexpr quint32 FileVersion = 2;

QString canonical(const QString& path)
{
    const QFileInfo info(path);
    const QString resolved = info.canonicalFilePath();
    return resolved.isEmpty() ? info.absoluteFilePath() : resolved;
}

} // namespace

SummarySnapshot::SummarySnapshot() = default;

SummarySnapshot::~SummarySnapshot() = default;

QString SummarySnapshot::path(const QString& databasePath)
{
    const QByteArray key =
        QCryptographicHash::hash(canonical(databasePath).toUtf8(), QCryptographicHash::Sha1)
            .toHex();
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/summaries/") + QString::fromLatin1(key) + QStringLiteral(".summary");
}

bool SummarySnapshot::read(const QString& databasePath)
{
    auto file = std::make_unique<QFile>(path(databasePath));
    if (!file->open(QIODevice::ReadOnly))
        return false;
    QDataStream in(file.get());
    quint32 magic = 0;
    quint32 version = 0;
    QString savedPath;
    in >> magic >> version;
    if (in.status() != QDataStream::Ok || magic != FileMagic || version != FileVersion)
        return false;
    in >> savedPath >> m_lowPrint >> m_highPrint >> m_schema >> m_withMarks;
    if (in.status() != QDataStream::Ok || savedPath != canonical(databasePath) ||
        (m_withMarks && !m_marks.read(in)))
        return false;
    auto loader = std::make_unique<SummaryFile>(file.get());
    if (!loader->first(&m_summary))
        return false;
    m_file = std::move(file);
    m_loader = std::move(loader);
    return true;
}

std::unique_ptr<SummaryFile> SummarySnapshot::takeLoader()
{
    return std::move(m_loader);
}

std::unique_ptr<QFile> SummarySnapshot::takeFile()
{
    return std::move(m_file);
}

bool SummarySnapshot::save(const QString& databasePath, const SummaryCache& cache,
                           ViewerSampleReader* store, const QByteArray& schema, const BucketMarks* marks)
{
    const QString file = path(databasePath);
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return false;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    bool ok = false;
    cache.read([&](const SampleSummary& summary) {
        if (summary.isEmpty())
            return;
        QDataStream header(&out);
        header << FileMagic << FileVersion << canonical(databasePath)
               << FileIdentity::fingerprint(store, summary.lowId())
               << FileIdentity::fingerprint(store, summary.highId()) << schema << bool(marks);
        if (marks)
            marks->write(header);
        ok = header.status() == QDataStream::Ok && summary.save(&out);
    });
    if (!ok) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}
