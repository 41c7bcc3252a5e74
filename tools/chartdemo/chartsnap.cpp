// Renders the panel-style chart offscreen into PNG files, to look at the chart without a display.
#include "demochart.h"

#include <chartapi.h>

#include <QDateTime>
#include <QGuiApplication>
#include <QImage>
#include <QTextStream>

#include <algorithm>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("chart.png");
    const int interval = argc > 2 ? atoi(argv[2]) : 10000;
    double times[DemoChart::HistoryLength];
    double values[DemoChart::HistoryLength];
    DemoChart::fillWave(times, values, 1765000000, interval, 22.5, 2.0, 150, 165);
    // "empty" shows the chart before the first sample.
    if (argc > 3 && qstrcmp(argv[3], "empty") == 0)
        std::fill(times, times + DemoChart::HistoryLength, Chart::NoValue);
    XYChart* c = DemoChart::build(790, 200, times, values, 0xFF0000, "CH1", interval);
    DemoChart::drawTrackCursor(c, 600, interval);
    const char* data = nullptr;
    int length = 0;
    CBaseChart_makeChart2(c, Chart::RawImage, &data, &length);
    QImage img;
    img.loadFromData(reinterpret_cast<const uchar*>(data), length);
    img.save(out);
    QTextStream(stdout) << "bytes " << length << " image " << img.width() << "x" << img.height()
                        << "\n";
    CBaseChart_destroy(c);
    return 0;
}
