#include "chartbufferpool.h"

#include <QMutex>
#include <QMutexLocker>

#include <vector>

namespace {

// Two charts per panel, a few panels: a handful of spares covers a rebuild cycle.
constexpr size_t MaxSpares = 6;

struct Pool
{
    QMutex mutex;
    std::vector<QImage> images;
    std::vector<QByteArray> bytes;
};

Pool &pool()
{
    static Pool p;
    return p;
}

} // namespace

QImage ChartBufferPool::takeImage(const QSize &size, QImage::Format format)
{
    Pool &p = pool();
    QMutexLocker lock(&p.mutex);
    for (auto it = p.images.begin(); it != p.images.end(); ++it) {
        if (it->size() == size && it->format() == format) {
            QImage image = std::move(*it);
            p.images.erase(it);
            return image;
        }
    }
    lock.unlock();
    return QImage(size, format);
}

void ChartBufferPool::giveImage(QImage &&image)
{
    if (image.isNull() || !image.isDetached())
        return;
    Pool &p = pool();
    QMutexLocker lock(&p.mutex);
    if (p.images.size() >= MaxSpares)
        p.images.erase(p.images.begin());
    p.images.push_back(std::move(image));
}

QByteArray ChartBufferPool::takeBytes(int size)
{
    Pool &p = pool();
    QMutexLocker lock(&p.mutex);
    for (auto it = p.bytes.begin(); it != p.bytes.end(); ++it) {
        if (it->capacity() >= size) {
            QByteArray bytes = std::move(*it);
            p.bytes.erase(it);
            lock.unlock();
            bytes.resize(size);
            return bytes;
        }
    }
    lock.unlock();
    return QByteArray(size, Qt::Uninitialized);
}

void ChartBufferPool::giveBytes(QByteArray &&bytes)
{
    if (bytes.capacity() < 4096 || !bytes.isDetached())
        return;
    Pool &p = pool();
    QMutexLocker lock(&p.mutex);
    if (p.bytes.size() >= MaxSpares)
        p.bytes.erase(p.bytes.begin());
    p.bytes.push_back(std::move(bytes));
}
