#include "fileidentity.h"

#include "viewersamplereader.h"

#include <QFile>

#include <sys/stat.h>

QByteArray FileIdentity::fingerprint(ViewerSampleReader* store, qint64 id)
{
    QByteArray print;
    store->row(id, [&](const StoredRow& row) {
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

void FileIdentity::remember(const QString& path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        m_device = quint64(info.st_dev);
        m_inode = quint64(info.st_ino);
    }
}

bool FileIdentity::replaced(const QString& path, ViewerSampleReader* store, qint64 lowId, qint64 highId)
{
    // A file moved over the path has another inode; the connections still read the old one.
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0 &&
        (quint64(info.st_dev) != m_device || quint64(info.st_ino) != m_inode))
        return true;
    // A file copied over the old one keeps its inode, but not its first row.
    if (lowId > highId)
        return false;
    const QByteArray print = fingerprint(store, lowId);
    if (m_printedId == lowId && print != m_lowPrint)
        return true;
    m_printedId = lowId;
    m_lowPrint = print;
    return false;
}
