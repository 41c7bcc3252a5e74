#pragma once

#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>

// The chart image format ("qcimg"): a 32-byte header and the image's own pixel rows, so that
// encoding and decoding a chart are each a single copy. It is what format code 4 gives, and this
// plugin, built into the library, lets QPixmap::loadFromData read it.
class ChartImageHandler : public QImageIOHandler
{
public:
    static constexpr int HeaderSize = 32;

    bool canRead() const override;
    bool read(QImage *image) override;

    static bool canRead(QIODevice *device);
    // Writes the image into out, reusing its storage when it is large enough.
    static void encode(const QImage &image, QByteArray &out);
};

class ChartImagePlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "chartimage.json")

public:
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override;
    QImageIOHandler *create(QIODevice *device, const QByteArray &format = QByteArray()) const override;
};
