// Two chart viewers drawing 240-sample charts the way the device panel does, with the track
// cursor following the mouse and a new sample every second. "--screenshot FILE" moves the
// pointer over the first chart, grabs the window into FILE and quits.
#include "demochart.h"

#include <chartapi.h>
#include <qchartviewer.h>
#include <qchartviewerlabel.h>
#include <resizelabel.h>
#include <resizelabelunit.h>

#include <QApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>

namespace {

constexpr int Interval = 1000;

struct Channel
{
    QChartViewerLabel* host = nullptr;
    QChartViewer* viewer = nullptr;
    ResizeLabel* value = nullptr;
    ResizeLabelUnit* unit = nullptr;
    int color = 0;
    const char* name = "";
    double base = 0;
    double amplitude = 1;
};

void draw(Channel& ch, const double* times, const double* values)
{
    XYChart* c = DemoChart::build(ch.host->width(), ch.host->height(), times, values, ch.color,
                                  ch.name, Interval);
    const int x = ch.viewer->isPointerOnPlotArea() ? ch.viewer->plotPointerX()
                                                   : CPlotArea_getRightX(CXYChart_getPlotArea(c));
    DemoChart::drawTrackCursor(c, x, Interval);
    delete ch.viewer->assignedChart();
    ch.viewer->assignChart(c);
}

QWidget* valueTile(Channel& ch, const QString& unitText)
{
    auto* tile = new QWidget;
    tile->setFixedWidth(150);
    tile->setAutoFillBackground(true);
    tile->setStyleSheet(QStringLiteral(
        "background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, y2:1, "
        "stop:0 rgba(24, 68, 76, 255), stop:1 rgba(43, 132, 130, 255)); color: white;"));
    auto* layout = new QVBoxLayout(tile);
    ch.value = new ResizeLabel(tile);
    ch.value->setAlignment(Qt::AlignCenter);
    ch.value->setStyleSheet(QStringLiteral("background: transparent;"));
    ch.unit = new ResizeLabelUnit(tile);
    ch.unit->setAlignment(Qt::AlignCenter);
    ch.unit->setStyleSheet(QStringLiteral("background: transparent;"));
    ch.unit->setText(unitText);
    layout->addWidget(ch.value, 3);
    layout->addWidget(ch.unit, 1);
    return tile;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int shotAt = args.indexOf(QStringLiteral("--screenshot"));
    const QString shotFile = shotAt >= 0 ? args.value(shotAt + 1) : QString();

    double times[DemoChart::HistoryLength];
    double ch1[DemoChart::HistoryLength];
    double ch2[DemoChart::HistoryLength];
    const int now = int(QDateTime::currentSecsSinceEpoch());
    DemoChart::fillWave(times, ch1, now, Interval, 22.5, 1.6, 150, 162);
    DemoChart::fillWave(times, ch2, now, Interval, 48.0, 6.0, 150, 162);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Chart viewer demo"));
    window.setStyleSheet(QStringLiteral("QWidget#demo { background-color: rgb(48, 48, 48); }"));
    window.setObjectName(QStringLiteral("demo"));
    auto* column = new QVBoxLayout(&window);

    Channel channels[2];
    channels[0].color = 0xFF0000;
    channels[0].name = "CH1";
    channels[1].color = 0x00CC00;
    channels[1].name = "CH2";
    const QString units[2] = {QStringLiteral("\u00B0C"), QStringLiteral("%RH")};
    for (int i = 0; i < 2; ++i) {
        Channel& ch = channels[i];
        auto* row = new QHBoxLayout;
        row->addWidget(valueTile(ch, units[i]));
        ch.host = new QChartViewerLabel;
        ch.host->setMinimumSize(600, 180);
        ch.host->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        ch.viewer = new QChartViewer(ch.host);
        row->addWidget(ch.host, 1);
        column->addLayout(row);
    }
    for (int i = 0; i < 2; ++i) {
        Channel& ch = channels[i];
        const double* values = i == 0 ? ch1 : ch2;
        QObject::connect(ch.viewer, &QChartViewer::viewPortChanged, ch.viewer,
                         [&ch, &times, values]() { draw(ch, times, values); });
        QObject::connect(ch.host, &QChartViewerLabel::refreshChart, ch.viewer,
                         [&ch, &times, values]() { draw(ch, times, values); });
        QObject::connect(ch.viewer, &QChartViewer::mouseMovePlotArea, ch.viewer, [&ch]() {
            auto* c = static_cast<XYChart*>(ch.viewer->assignedChart());
            if (!c)
                return;
            DemoChart::drawTrackCursor(c, ch.viewer->plotPointerX(), Interval);
            ch.viewer->refreshImage();
        });
    }

    const auto showValues = [&]() {
        channels[0].value->setText(QString::number(ch1[DemoChart::HistoryLength - 1], 'f', 2));
        channels[1].value->setText(QString::number(ch2[DemoChart::HistoryLength - 1], 'f', 2));
        for (Channel& ch : channels) {
            ch.value->applyFontRule();
            ch.unit->applyFontRule();
        }
    };

    QTimer sampler;
    int tick = 0;
    QObject::connect(&sampler, &QTimer::timeout, &window, [&]() {
        ++tick;
        std::copy(times + 1, times + DemoChart::HistoryLength, times);
        std::copy(ch1 + 1, ch1 + DemoChart::HistoryLength, ch1);
        std::copy(ch2 + 1, ch2 + DemoChart::HistoryLength, ch2);
        times[DemoChart::HistoryLength - 1] =
            times[DemoChart::HistoryLength - 2] + Interval / 1000.0;
        ch1[DemoChart::HistoryLength - 1] = 22.5 + 1.6 * std::sin((240 + tick) / 18.0);
        ch2[DemoChart::HistoryLength - 1] = 48.0 + 6.0 * std::sin((240 + tick) / 18.0);
        showValues();
        for (Channel& ch : channels)
            ch.viewer->refreshViewPort(true, true);
    });
    sampler.start(Interval);

    window.resize(1000, 470);
    window.show();
    showValues();
    for (Channel& ch : channels)
        ch.viewer->refreshViewPort(true, true);

    if (!shotFile.isEmpty()) {
        QTimer::singleShot(800, &window, [&]() {
            // Put the pointer over the first chart's left half so its cursor and labels show.
            QChartViewer* v = channels[0].viewer;
            const QPoint at(v->width() / 3, v->height() / 2);
            QMouseEvent move(QEvent::MouseMove, at, v->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                             Qt::NoModifier);
            QApplication::sendEvent(v, &move);
            QTimer::singleShot(300, &window, [&]() {
                window.grab().save(shotFile);
                app.quit();
            });
        });
    }
    const int rc = app.exec();
    for (Channel& ch : channels) {
        BaseChart* c = ch.viewer->assignedChart();
        ch.viewer->assignChart(nullptr);
        delete c;
    }
    return rc;
}
