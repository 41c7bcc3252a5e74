#pragma once

#include <QByteArray>
#include <QImage>

#include <memory>

// Spare chart-sized buffers. A live chart is rebuilt from scratch on every sample, and fresh
// megabyte buffers cost a page fault per 4 KiB on first touch; handing the buffers of the chart
// just deleted to the next one keeps a rebuild within a plain painter pass.
// A pool belongs to whoever makes it (a chart viewer keeps one for the charts it shows) and is
// given to charts with CBaseChart_setBufferPool. Copies share one set of spares, so a chart that
// outlives its owner's pool can still give its buffers back. Used from one thread, like the
// charts themselves.
class ChartBufferPool
{
public:
    ChartBufferPool();

    // An image of this size and format, from the spares when one fits; its pixels are undefined.
    QImage takeImage(const QSize& size, QImage::Format format);
    // Keeps the image for reuse unless someone else still shares it.
    void giveImage(QImage&& image);
    // A byte array with room for size bytes, from the spares when one fits.
    QByteArray takeBytes(int size);
    void giveBytes(QByteArray&& bytes);
    // Images and byte arrays waiting for reuse.
    int spareCount() const;

private:
    struct Spares;
    std::shared_ptr<Spares> m_spares;
};
