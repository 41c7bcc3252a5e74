#pragma once

#include <QByteArray>
#include <QString>

class ViewerSampleReader;

// Tells when another file lies under a database's path than the one opened: a file moved over
// the path (a backup put back) has another inode, one copied over the old one keeps its inode
// but not its first row. The connections still read the old file either way.
class FileIdentity
{
public:
    // What tells one row from another under the same id: its node, second and values.
    static QByteArray fingerprint(ViewerSampleReader* store, qint64 id);

    void remember(const QString& path);
    // Whether the file under the path is another one; the rows [lowId, highId] are those
    // summarized.
    bool replaced(const QString& path, ViewerSampleReader* store, qint64 lowId, qint64 highId);

private:
    quint64 m_device = 0;
    quint64 m_inode = 0;
    qint64 m_printedId = -1;
    QByteArray m_lowPrint;
};
