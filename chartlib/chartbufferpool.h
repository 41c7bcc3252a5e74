#pragma once

#include <QByteArray>
#include <QImage>

// Spare chart-sized buffers. A live chart is rebuilt from scratch on every sample, and fresh
// megabyte buffers cost a page fault per 4 KiB on first touch; handing the buffers of the chart
// just deleted to the next one keeps a rebuild within a plain painter pass.
class ChartBufferPool
{
public:
    // An image of this size and format, from the spares when one fits; its pixels are undefined.
    static QImage takeImage(const QSize &size, QImage::Format format);
    // Keeps the image for reuse unless someone else still shares it.
    static void giveImage(QImage &&image);
    // A byte array with room for size bytes, from the spares when one fits.
    static QByteArray takeBytes(int size);
    static void giveBytes(QByteArray &&bytes);
};
