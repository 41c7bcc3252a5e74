// viewerscreens: opens the data viewer on a project and saves what a user sees as PNG files:
// the whole recorded period, the last day, and one minute with the track cursor. Run under
// xvfb-run -a. With --screen the window fills the screen (as a maximized window would, less
// PANELS pixels of desktop panels above and below) and the pictures are of the whole screen,
// so that what lies off it shows as missing, with eight charts: e.g. under
// xvfb-run -a -s "-screen 0 1280x720x24".
//   usage: trendscope_screens OUTPUT_DIR PROJECT.tpc [PREFIX] [--screen [PANELS]]

#include "chartstack.h"
#include "qchartviewer.h"
#include "trendchart.h"
#include "trendscopewindow.h"
#include "viewercommandline.h"
#include "viewersession.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

// Runs the event loop until done() or the time is up, asleep between events.
bool runUntil(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    QTimer tick;
    tick.start(10);
    while (timer.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (done())
            return true;
    }
    return false;
}

void wait(int milliseconds)
{
    runUntil([]() { return false; }, milliseconds);
}

// Until the charts show the answer to the newest request (and the summary is complete).
bool settle(TrendscopeWindow* window, int timeoutMs)
{
    return runUntil(
        [window]() {
            return window->session()->isSummaryComplete() && window->requestedId() > 0 &&
                   window->drawnId() == window->requestedId();
        },
        timeoutMs);
}

bool wholeScreen = false;

void shot(const QString& dir, const QString& name, QWidget* window)
{
    wait(300);
    const QString file = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (wholeScreen)
        QGuiApplication::primaryScreen()->grabWindow(0).save(file);
    else
        window->grab().save(file);
    std::printf("%s\n", qPrintable(file));
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Trendscope"));
    QStringList args = app.arguments().mid(1);
    int panels = -1;
    const int screenAt = int(args.indexOf(QStringLiteral("--screen")));
    if (screenAt >= 0) {
        bool number = false;
        panels = args.value(screenAt + 1).toInt(&number);
        args.erase(args.begin() + screenAt, args.begin() + screenAt + (number ? 2 : 1));
        panels = number ? panels : 0;
        wholeScreen = true;
    }
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: trendscope_screens OUTPUT_DIR PROJECT.tpc [PREFIX] "
                             "[--screen [PANELS]]\n");
        return 2;
    }
    const QString out = args.at(0);
    const QString prefix = args.size() > 2 ? args.at(2) : QStringLiteral("viewer-");
    QDir().mkpath(out);
    ViewerCommandLine::Options options;
    QString error;
    if (!ViewerCommandLine::parse({args.at(1)}, &options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    TrendscopeWindow window(new ViewerSession(options.projectPath, options.devices));
    if (wholeScreen) {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        window.move(0, panels / 2);
        window.resize(screen.width(), screen.height() - panels);
    } else {
        window.resize(1360, 860);
        window.move(0, 0);
    }
    window.show();
    if (!settle(&window, 300000)) {
        std::fprintf(stderr, "the viewer did not settle\n");
        return 1;
    }
    // Four channels of four nodes: two temperatures, a humidity, a temperature; on a screen,
    // as many as the window takes, the most it has to fit.
    QVector<int> chosen;
    const QVector<int> wanted =
        wholeScreen ? QVector<int>{0, 1, 2, 3, 4, 5, 6, 7} : QVector<int>{0, 4, 9, 12};
    for (int index : wanted)
        if (index < window.session()->catalog().channels().size())
            chosen << index;
    window.setChosen(chosen);
    const TimeWindow& time = window.timeWindow();
    window.showRange(time.first(), time.last());
    settle(&window, 30000);
    shot(out, prefix + QStringLiteral("month"), &window);

    // Two hours round the newest stretch without samples of the first chart, looked for a
    // week at a time (a month's pixel columns are wider than most gaps).
    auto* stack = window.findChild<ChartStack*>();
    bool gapShown = false;
    for (double end = time.last(); !gapShown && end > time.first(); end -= 7 * 86400) {
        window.showRange(end - 7 * 86400, end);
        settle(&window, 30000);
        const ViewQuery::Result week = stack->result();
        for (const SampleSummary::Column& column : week.series.value(0).columns) {
            if (column.count == 0 && column.from > time.first() && column.to < time.last()) {
                window.showRange(double(column.from) - 3600, double(column.from) + 3600);
                settle(&window, 30000);
                shot(out, prefix + QStringLiteral("gap"), &window);
                gapShown = true;
                break;
            }
        }
    }

    window.showRange(time.last() - 86400, time.last());
    settle(&window, 30000);
    shot(out, prefix + QStringLiteral("day"), &window);

    // One minute in the middle of the period, the pointer two thirds across the first chart.
    const double middle = (time.first() + time.last()) / 2;
    window.showRange(middle, middle + 60);
    settle(&window, 30000);
    QChartViewer* viewer = stack ? stack->viewer(0) : nullptr;
    if (viewer) {
        const QPoint at(TrendChart::LeftMargin + stack->columns() * 2 / 3, viewer->height() / 2);
        for (int step = 0; step < 3; ++step) {
            QMouseEvent move(QEvent::MouseMove, at + QPoint(step, 0), viewer->mapToGlobal(at),
                             Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(viewer, &move);
            wait(60);
        }
    }
    shot(out, prefix + QStringLiteral("minute"), &window);
    return 0;
}
