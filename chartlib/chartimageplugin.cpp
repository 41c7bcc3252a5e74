#include "chartimageplugin.h"

#include <QIODevice>

#include <cstring>

namespace {

constexpr char Magic[8] = {'\x89', 'Q', 'C', 'I', 'M', 'G', '\r', '\n'};
// Larger images than any screen are refused, so a corrupt header cannot ask for gigabytes.
constexpr quint32 MaxSide = 16384;

enum PixelFormat : quint32 { Opaque = 1, Premultiplied = 2 };

void put32(uchar *at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uchar(v >> (8 * i));
}

quint32 get32(const uchar *at)
{
    return quint32(at[0]) | quint32(at[1]) << 8 | quint32(at[2]) << 16 | quint32(at[3]) << 24;
}

} // namespace

bool ChartImageHandler::canRead(QIODevice *device)
{
    if (!device)
        return false;
    const QByteArray head = device->peek(int(sizeof Magic));
    return head.size() == int(sizeof Magic) && std::memcmp(head.constData(), Magic, sizeof Magic) == 0;
}

bool ChartImageHandler::canRead() const
{
    if (!canRead(device()))
        return false;
    setFormat("qcimg");
    return true;
}

bool ChartImageHandler::read(QImage *image)
{
    QIODevice *dev = device();
    uchar header[HeaderSize];
    if (!dev || dev->read(reinterpret_cast<char *>(header), HeaderSize) != HeaderSize
        || std::memcmp(header, Magic, sizeof Magic) != 0)
        return false;
    const quint32 width = get32(header + 8);
    const quint32 height = get32(header + 12);
    const quint32 pixelFormat = get32(header + 16);
    const quint32 rowBytes = get32(header + 20);
    if (width == 0 || height == 0 || width > MaxSide || height > MaxSide || rowBytes != width * 4
        || (pixelFormat != Opaque && pixelFormat != Premultiplied))
        return false;
    QImage result(int(width), int(height),
                  pixelFormat == Opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    if (result.isNull())
        return false;
    const qint64 total = qint64(rowBytes) * height;
    if (quint32(result.bytesPerLine()) == rowBytes) {
        if (dev->read(reinterpret_cast<char *>(result.bits()), total) != total)
            return false;
    } else {
        for (quint32 y = 0; y < height; ++y)
            if (dev->read(reinterpret_cast<char *>(result.scanLine(int(y))), rowBytes) != rowBytes)
                return false;
    }
    *image = result;
    return true;
}

void ChartImageHandler::encode(const QImage &source, QByteArray &out)
{
    const bool opaque = !source.hasAlphaChannel();
    const QImage img = source.format() == (opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied)
        ? source
        : source.convertToFormat(opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    const quint32 rowBytes = quint32(img.width()) * 4;
    const quint32 dataSize = rowBytes * quint32(img.height());
    uchar header[HeaderSize] = {};
    std::memcpy(header, Magic, sizeof Magic);
    put32(header + 8, quint32(img.width()));
    put32(header + 12, quint32(img.height()));
    put32(header + 16, opaque ? Opaque : Premultiplied);
    put32(header + 20, rowBytes);
    out.resize(int(HeaderSize + dataSize));
    std::memcpy(out.data(), header, HeaderSize);
    uchar *pixels = reinterpret_cast<uchar *>(out.data()) + HeaderSize;
    if (quint32(img.bytesPerLine()) == rowBytes) {
        std::memcpy(pixels, img.constBits(), dataSize);
    } else {
        for (int y = 0; y < img.height(); ++y)
            std::memcpy(pixels + quint32(y) * rowBytes, img.constScanLine(y), rowBytes);
    }
}

QImageIOPlugin::Capabilities ChartImagePlugin::capabilities(QIODevice *device, const QByteArray &format) const
{
    if (format == "qcimg")
        return CanRead;
    if (!format.isEmpty())
        return {};
    return ChartImageHandler::canRead(device) ? CanRead : Capabilities();
}

QImageIOHandler *ChartImagePlugin::create(QIODevice *device, const QByteArray &format) const
{
    auto *handler = new ChartImageHandler;
    handler->setDevice(device);
    handler->setFormat(format.isEmpty() ? QByteArray("qcimg") : format);
    return handler;
}
