#include "chartbufferpool.h"

#include <vector>

namespace {

// One chart shown at a time, its image and the encoded bytes of two references to it: a
// handful of spares covers a rebuild cycle.
constexpr size_t MaxSpares = 4;

} // namespace

struct ChartBufferPool::Spares
{
    std::vector<QImage> images;
    std::vector<QByteArray> bytes;
};

ChartBufferPool::ChartBufferPool() : m_spares(std::make_shared<Spares>()) {}

QImage ChartBufferPool::takeImage(const QSize& size, QImage::Format format)
{
    std::vector<QImage>& images = m_spares->images;
    for (auto it = images.begin(); it != images.end(); ++it) {
        if (it->size() == size && it->format() == format) {
            QImage image = std::move(*it);
            images.erase(it);
            return image;
        }
    }
    return QImage(size, format);
}

void ChartBufferPool::giveImage(QImage&& image)
{
    if (image.isNull() || !image.isDetached())
        return;
    std::vector<QImage>& images = m_spares->images;
    if (images.size() >= MaxSpares)
        images.erase(images.begin());
    images.push_back(std::move(image));
}

QByteArray ChartBufferPool::takeBytes(int size)
{
    std::vector<QByteArray>& spares = m_spares->bytes;
    for (auto it = spares.begin(); it != spares.end(); ++it) {
        if (it->capacity() >= size) {
            QByteArray bytes = std::move(*it);
            spares.erase(it);
            bytes.resize(size);
            return bytes;
        }
    }
    return QByteArray(size, Qt::Uninitialized);
}

void ChartBufferPool::giveBytes(QByteArray&& bytes)
{
    if (bytes.capacity() < 4096 || !bytes.isDetached())
        return;
    std::vector<QByteArray>& spares = m_spares->bytes;
    if (spares.size() >= MaxSpares)
        spares.erase(spares.begin());
    spares.push_back(std::move(bytes));
}

int ChartBufferPool::spareCount() const
{
    return int(m_spares->images.size() + m_spares->bytes.size());
}
