// shrinkshot: makes a screenshot small enough for the README: scaled to a width, smoothly, and
// written as a JPEG (OUTPUT.jpg) or at the strongest PNG compression.
//   usage: shrinkshot INPUT.png OUTPUT.jpg|OUTPUT.png WIDTH

#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: shrinkshot INPUT.png OUTPUT.jpg|OUTPUT.png WIDTH\n");
        return 2;
    }
    const QImage input(QString::fromLocal8Bit(argv[1]));
    const int width = std::atoi(argv[3]);
    if (input.isNull() || width <= 0) {
        std::fprintf(stderr, "shrinkshot: cannot read %s\n", argv[1]);
        return 1;
    }
    const QImage scaled = input.width() > width
                              ? input.scaledToWidth(width, Qt::SmoothTransformation)
                              : input;
    // A JPEG at quality 85 keeps small text readable at a third of the PNG's size.
    const QString output = QString::fromLocal8Bit(argv[2]);
    const bool jpeg = output.endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive);
    if (!scaled.convertToFormat(QImage::Format_RGB888).save(output, nullptr, jpeg ? 85 : 0)) {
        std::fprintf(stderr, "shrinkshot: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
