#include "chartstack.h"
#include "exportdialog.h"
#include "navigatorstrip.h"
#include "projectfile.h"
#include "qchartviewer.h"
#include "reportfixture.h"
#include "sampledatabasegenerator.h"
#include "trendchart.h"
#include "trendscopewindow.h"
#include "viewerfixture.h"
#include "viewersession.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include <cmath>
#include <cstdio>
#include <memory>

using namespace ViewerFixture;

namespace {

constexpr qint64 End = 1780000000;

std::unique_ptr<TrendscopeWindow> openWindow(const QString& project)
{
    QList<ReportDeviceRecord> devices;
    ProjectFile(project).loadReportDevices(&devices);
    auto window = std::make_unique<TrendscopeWindow>(new ViewerSession(project, devices));
    window->resize(1300, 800);
    window->show();
    return window;
}

bool settled(TrendscopeWindow* window)
{
    return window->requestedId() > 0 && window->drawnId() == window->requestedId();
}

void sendMouse(QWidget* widget, QEvent::Type type, const QPoint& at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, widget->mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

// Three days of six nodes at a 1 min interval, with gaps and spikes, with and without the index.
class TestTrendscopeWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void opensOnTheLastDay_data();
    void opensOnTheLastDay();
    void atMostEightChannels();
    void filterHidesOthers();
    void keys_data();
    void keys();
    void navigatorDragsAndResizes();
    void mouseOnTheCharts();
    void serialsOutsideTheProjectListed();
    void trackCursorShowsTheSamples();
    void followsNewSamplesOnlyAtTheEnd();
    void databaseReplacedWhileOpen_data();
    void databaseReplacedWhileOpen();
    void exportsTheVisibleRange();
    void statisticsOfExtremeValues();
    void fitsASmallScreen_data();
    void fitsASmallScreen();
    void alarmEventsShadedAndListed_data();
    void alarmEventsShadedAndListed();

private:
    QTemporaryDir m_dir;
    QString m_project[2]; // without and with the index
    SampleDatabaseGenerator::Result m_made;
};

void TestTrendscopeWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
    for (int indexed = 0; indexed < 2; ++indexed) {
        SampleDatabaseGenerator::Options options;
        m_project[indexed] = m_dir.filePath(indexed ? QStringLiteral("ix/Hall.tpc")
                                                    : QStringLiteral("plain/Hall.tpc"));
        options.projectPath = m_project[indexed];
        options.seconds = 3 * 86400;
        options.end = End;
        options.nodes = 6;
        options.interval = 60;
        options.seed = 21;
        options.gaps = 2;
        options.spikes = 2;
        options.nullRows = 2;
        options.index = indexed == 1;
        m_made = SampleDatabaseGenerator::generate(options);
        QVERIFY(m_made.ok);
        // Temperatures' MKT: the first node's limited, the second's of its own energy.
        ProjectData data;
        QVERIFY(ProjectFile(m_project[indexed]).load(&data));
        data.gateways[0].nodes[0].alarmRules.channel[0].mktLimit = 10;
        data.gateways[0].nodes[1].alarmRules.channel[0].activationEnergy = 150;
        ProjectFile(m_project[indexed]).saveDeviceList(data.gateways);
    }
}

void TestTrendscopeWindow::init()
{
    // Each window starts with the default channels, not the ones an earlier test chose.
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmar"),
              QStringLiteral("Trendscope"))
        .clear();
}

void TestTrendscopeWindow::opensOnTheLastDay_data()
{
    QTest::addColumn<int>("indexed");
    QTest::newRow("range index") << 1;
    QTest::newRow("no index") << 0;
}

// Catches a window that opens on another range than the last day, draws before its data is
// complete, or shows statistics that are not the rows' (an MKT of another energy, one for a
// humidity, one above its limit unmarked or one below marked).
void TestTrendscopeWindow::opensOnTheLastDay()
{
    QFETCH(int, indexed);
    const auto window = openWindow(m_project[indexed]);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()) && window->session()->isSummaryComplete(),
                             60000);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 10000);
    QCOMPARE(window->timeWindow().to(), double(End));
    QCOMPARE(window->timeWindow().span(), 86400.0);
    auto* stack = window->findChild<ChartStack*>();
    QCOMPARE(stack->channelCount(), 4);
    for (const ViewQuery::Series& s : stack->result().series)
        QVERIFY(s.complete);
    auto* table = window->findChild<QTableWidget*>(QStringLiteral("statsTable"));
    QCOMPARE(table->rowCount(), 4);
    const QVector<Row> rows = nodeRows(ProjectFile::databasePath(m_project[indexed]), "GEN-0002");
    const Brute b = brute(rows, 2, End - 86400, End + 1);
    QCOMPARE(table->item(3, 6)->text(), QString::number(b.count));
    QCOMPARE(table->item(3, 1)->text(), QString::number(b.min, 'f', 2));
    QCOMPARE(table->item(3, 3)->text(), QString::number(b.max, 'f', 2));
    QCOMPARE(table->item(2, 8)->text(),
             QString::number(kineticBrute(rows, 1, End - 86400, End + 1, 60, false, 150), 'f', 2));
    QCOMPARE(table->item(3, 8)->text(), QString());
    const QVector<Row> first = nodeRows(ProjectFile::databasePath(m_project[indexed]), "GEN-0001");
    QCOMPARE(table->item(0, 8)->text(),
             QString::number(kineticBrute(first, 1, End - 86400, End + 1, 60), 'f', 2));
    QCOMPARE(table->item(0, 8)->toolTip(), QStringLiteral("above the limit of 10.00"));
    QVERIFY(table->item(0, 8)->background().style() != Qt::NoBrush);
    QCOMPARE(table->item(2, 8)->toolTip(), QString());
    QCOMPARE(table->item(2, 8)->background().style(), Qt::NoBrush);
    if (const QString dir = qEnvironmentVariable("QUILLMAR_GRAB_DIR"); !dir.isEmpty() && indexed)
        QVERIFY(window->grab().save(dir + QStringLiteral("/trendscope-statistics-mkt.png")));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("label_interval"))->text(),
             QStringLiteral("Interval : 1 min"));
    QVERIFY(!window->findChild<QLabel*>(QStringLiteral("label_range"))->text().isEmpty());
    QVERIFY(!stack->viewer(0)->pixmap(Qt::ReturnByValue).isNull());
}

// Catches a ninth chart squeezed into the stack.
void TestTrendscopeWindow::atMostEightChannels()
{
    const auto window = openWindow(m_project[1]);
    auto* list = window->findChild<QListWidget*>(QStringLiteral("listWidget_channels"));
    QCOMPARE(list->count(), 12);
    for (int row = 0; row < 9; ++row)
        list->item(row)->setCheckState(Qt::Checked);
    QCOMPARE(window->chosen().size(), TrendscopeWindow::MaxChannels);
    QCOMPARE(list->item(8)->checkState(), Qt::Unchecked);
    QCOMPARE(window->findChild<ChartStack*>()->channelCount(), TrendscopeWindow::MaxChannels);
    QVERIFY(window->findChild<QLabel*>(QStringLiteral("label_chosen"))
                ->text()
                .startsWith(QStringLiteral("At most 8")));
    list->item(0)->setCheckState(Qt::Unchecked);
    list->item(8)->setCheckState(Qt::Checked);
    QCOMPARE(window->chosen().last(), 8);
}

// Catches a filter that hides the channels it should find or keeps the others.
void TestTrendscopeWindow::filterHidesOthers()
{
    const auto window = openWindow(m_project[1]);
    auto* list = window->findChild<QListWidget*>(QStringLiteral("listWidget_channels"));
    QTest::keyClicks(window->findChild<QLineEdit*>(QStringLiteral("lineEdit_filter")),
                     QStringLiteral("room 3 - hum"));
    QStringList shown;
    for (int row = 0; row < list->count(); ++row)
        if (!list->item(row)->isHidden())
            shown << list->item(row)->text();
    QCOMPARE(shown, QStringList{QStringLiteral("Room 3 - Humidity [%RH]")});
}

void TestTrendscopeWindow::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<double>("from"); // seconds before End, after the key
    QTest::addColumn<double>("to");
    QTest::newRow("+ zooms in about the middle") << int(Qt::Key_Plus) << 72000.0 << 14400.0;
    QTest::newRow("- zooms out, not past the newest") << int(Qt::Key_Minus) << 129600.0 << 0.0;
    QTest::newRow("left scrolls back a fifth") << int(Qt::Key_Left) << 103680.0 << 17280.0;
    QTest::newRow("right stays at the newest") << int(Qt::Key_Right) << 86400.0 << 0.0;
    QTest::newRow("home goes to the first sample")
        << int(Qt::Key_Home) << 3 * 86400.0 - 60 << 2 * 86400.0 - 60;
}

// Catches keys that move the window the wrong way or by the wrong amount.
void TestTrendscopeWindow::keys()
{
    QFETCH(int, key);
    QFETCH(double, from);
    QFETCH(double, to);
    const auto window = openWindow(m_project[1]);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
    QTest::keyClick(window->findChild<ChartStack*>(), Qt::Key(key));
    QCOMPARE(window->timeWindow().from(), double(End) - from);
    QCOMPARE(window->timeWindow().to(), double(End) - to);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
}

// Catches a navigator whose window does not follow a drag, or resizes from the wrong edge.
void TestTrendscopeWindow::navigatorDragsAndResizes()
{
    const auto window = openWindow(m_project[1]);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
    auto* navigator = window->findChild<NavigatorStrip*>();
    const double perPixel =
        (window->timeWindow().last() - window->timeWindow().first()) / navigator->width();
    const QRect before = navigator->windowRect();
    const double span = window->timeWindow().span();
    QPoint at = before.center();
    sendMouse(navigator, QEvent::MouseButtonPress, at, Qt::LeftButton);
    sendMouse(navigator, QEvent::MouseMove, at - QPoint(60, 0), Qt::LeftButton);
    sendMouse(navigator, QEvent::MouseButtonRelease, at - QPoint(60, 0), Qt::NoButton);
    QVERIFY(std::fabs(window->timeWindow().to() - (double(End) - 60 * perPixel)) < 1);
    QCOMPARE(window->timeWindow().span(), span);
    at = QPoint(navigator->windowRect().left(), navigator->height() / 2);
    sendMouse(navigator, QEvent::MouseButtonPress, at, Qt::LeftButton);
    sendMouse(navigator, QEvent::MouseMove, at - QPoint(40, 0), Qt::LeftButton);
    sendMouse(navigator, QEvent::MouseButtonRelease, at - QPoint(40, 0), Qt::NoButton);
    QVERIFY(std::fabs(window->timeWindow().span() - (span + 40 * perPixel)) < 1);
    QVERIFY(std::fabs(window->timeWindow().to() - (double(End) - 60 * perPixel)) < 1);
}

// Catches a drag that scrolls the wrong way or by another distance than the pointer moved, a
// frame that zooms to another range than it covers, and a wheel zoom that moves the time under
// the pointer.
void TestTrendscopeWindow::mouseOnTheCharts()
{
    const auto window = openWindow(m_project[1]);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
    auto* stack = window->findChild<ChartStack*>();
    QChartViewer* viewer = stack->viewer(1);
    const TimeWindow& time = window->timeWindow();
    auto timeAt = [&](int x) {
        return time.from() + double(x - TrendChart::LeftMargin) / stack->columns() * time.span();
    };
    const double perPixel = time.span() / stack->columns();
    const int y = viewer->height() / 2;
    const int left = TrendChart::LeftMargin + stack->columns() / 4;

    // Dragging to the right brings earlier samples in.
    const double to = time.to();
    sendMouse(viewer, QEvent::MouseButtonPress, QPoint(left, y), Qt::LeftButton);
    for (int dx = 20; dx <= 100; dx += 20) {
        QTest::qWait(25); // the viewer takes at most one move per 10 ms
        sendMouse(viewer, QEvent::MouseMove, QPoint(left + dx, y), Qt::LeftButton);
    }
    sendMouse(viewer, QEvent::MouseButtonRelease, QPoint(left + 100, y), Qt::NoButton);
    QTRY_VERIFY(std::fabs(time.to() - (to - 100 * perPixel)) < perPixel);

    // Shift and a drag: the frame's range fills the plot.
    const double frameFrom = timeAt(left);
    const double frameTo = timeAt(left + 200);
    QMouseEvent press(QEvent::MouseButtonPress, QPoint(left, y),
                      viewer->mapToGlobal(QPoint(left, y)), Qt::LeftButton, Qt::LeftButton,
                      Qt::ShiftModifier);
    QApplication::sendEvent(viewer, &press);
    QTest::qWait(25);
    sendMouse(viewer, QEvent::MouseMove, QPoint(left + 200, y), Qt::LeftButton);
    sendMouse(viewer, QEvent::MouseButtonRelease, QPoint(left + 200, y), Qt::NoButton);
    QTRY_VERIFY(std::fabs(time.from() - frameFrom) < 2 * perPixel);
    QVERIFY(std::fabs(time.to() - frameTo) < 2 * perPixel);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);

    // The wheel zooms about the time under the pointer.
    const int x = TrendChart::LeftMargin + stack->columns() * 3 / 4;
    const double under = timeAt(x);
    const double span = time.span();
    QWheelEvent wheel(QPointF(x, y), viewer->mapToGlobal(QPoint(x, y)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewer, &wheel);
    QVERIFY(std::fabs(time.span() - span / 1.25) < 1e-6 * span);
    QVERIFY(std::fabs(timeAt(x) - under) < 1e-6 * span);
}

// Catches a node that left the project but whose samples are still in the database going
// missing from the channel list.
void TestTrendscopeWindow::serialsOutsideTheProjectListed()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(m_project[1], dir.filePath(QStringLiteral("Hall.tpc"))));
    QVERIFY(QFile::copy(ProjectFile::databasePath(m_project[1]),
                        dir.filePath(QStringLiteral("Hall.dat"))));
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        db.setDatabaseName(dir.filePath(QStringLiteral("Hall.dat")));
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(
            QStringLiteral("insert into quorbinal (serialno, channel1, channel2, pointDate) "
                           "values ('OLD-0042', 1.5, 2.5, %1)")
                .arg(End - 100)));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));
    const auto window = openWindow(dir.filePath(QStringLiteral("Hall.tpc")));
    auto* list = window->findChild<QListWidget*>(QStringLiteral("listWidget_channels"));
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), 14, 30000);
    QCOMPARE(list->item(12)->text(), QStringLiteral("OLD-0042 - Channel 1"));
    QCOMPARE(list->item(13)->text(), QStringLiteral("OLD-0042 - Channel 2"));
    QVERIFY(list->item(12)->font().italic());
}

// Catches a track cursor that reads a value from another time than the one under the pointer or
// than the time it shows, or shows a number where there is no sample.
void TestTrendscopeWindow::trackCursorShowsTheSamples()
{
    const auto window = openWindow(m_project[1]);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
    const QVector<Row> rows = nodeRows(ProjectFile::databasePath(m_project[1]), "GEN-0001");
    const double from = double(End - 20 * 3600);
    window->showRange(from, from + 1800);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
    auto* stack = window->findChild<ChartStack*>();
    QChartViewer* viewer = stack->viewer(0);
    auto pointAt = [&](double time) {
        const double left = window->timeWindow().from();
        const int x =
            TrendChart::LeftMargin +
            int(std::lround((time - left) / window->timeWindow().span() * stack->columns()));
        sendMouse(viewer, QEvent::MouseMove, QPoint(x, viewer->height() / 2), Qt::NoButton);
    };
    const Row& sample = *std::lower_bound(rows.begin(), rows.end(), qint64(from) + 600,
                                          [](const Row& r, qint64 t) { return r.time < t; });
    pointAt(double(sample.time));
    QTRY_COMPARE(stack->cursorValues().size(), 4);
    QCOMPARE(stack->cursorValues().first(),
             sample.present[0] ? QString::number(sample.value[0], 'f', 2) : QStringLiteral("N/A"));
    // The cursor sits on the sample whose values it shows, and says its time.
    QCOMPARE(stack->cursorTime(), double(sample.time));

    // A quarter into a stretch without samples of some node (more than two intervals from
    // either side): nothing to show there.
    const auto gap = std::find_if(
        m_made.events.begin(), m_made.events.end(), [](const SampleDatabaseGenerator::Event& e) {
            return e.kind == QLatin1String("gap") && e.from > End - 2 * 86400;
        });
    QVERIFY(gap != m_made.events.end());
    window->setChosen(
        {window->session()->catalog().find(gap->serial + QStringLiteral("_channel1"))});
    window->showRange(double(gap->from) - 600, double(gap->to) + 600);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
    viewer = stack->viewer(0);
    pointAt(double(gap->from) + double(gap->to - gap->from) / 4);
    QTRY_COMPARE(stack->cursorValues(), QStringList{QStringLiteral("N/A")});
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(viewer, &leave);
    QVERIFY(stack->cursorValues().isEmpty());
}

// Catches new samples that do not scroll into a window at the newest data, or that pull a
// window looking at the past.
void TestTrendscopeWindow::followsNewSamplesOnlyAtTheEnd()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(m_project[1], dir.filePath(QStringLiteral("Hall.tpc"))));
    QVERIFY(QFile::copy(ProjectFile::databasePath(m_project[1]),
                        dir.filePath(QStringLiteral("Hall.dat"))));
    const auto window = openWindow(dir.filePath(QStringLiteral("Hall.tpc")));
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()) && window->session()->isSummaryComplete(),
                             60000);
    auto append = [&](qint64 first) {
        QProcess appender;
        appender.start(QStringLiteral(APPENDER_PATH),
                       {dir.filePath(QStringLiteral("Hall.dat")), QString::number(first),
                        QStringLiteral("1"), QStringLiteral("0")});
        QVERIFY(appender.waitForReadyRead(30000));
        appender.write("close\n");
        QVERIFY(appender.waitForFinished(30000));
    };
    append(End + 60);
    QTRY_COMPARE_WITH_TIMEOUT(window->timeWindow().to(), double(End + 89), 20000);
    QCOMPARE(window->timeWindow().span(), 86400.0);
    window->showRange(double(End - 50000), double(End - 40000));
    append(End + 120);
    QTRY_COMPARE_WITH_TIMEOUT(window->timeWindow().last(), double(End + 149), 20000);
    QCOMPARE(window->timeWindow().to(), double(End - 40000));
}

void TestTrendscopeWindow::databaseReplacedWhileOpen_data()
{
    QTest::addColumn<bool>("movedOver");
    QTest::newRow("a backup moved over it") << true;
    QTest::newRow("its table emptied and filled again") << false;
}

// Catches a window that goes on showing the old file, or silently stops following new samples,
// when another file is put under the database's path while it is open.
void TestTrendscopeWindow::databaseReplacedWhileOpen()
{
    QFETCH(bool, movedOver);
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("Hall.dat"));
    QVERIFY(QFile::copy(m_project[1], dir.filePath(QStringLiteral("Hall.tpc"))));
    QVERIFY(QFile::copy(ProjectFile::databasePath(m_project[1]), database));
    const auto window = openWindow(dir.filePath(QStringLiteral("Hall.tpc")));
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()) && window->session()->isSummaryComplete(),
                             60000);
    const qint64 newLast = End + 7200;
    if (movedOver) {
        SampleDatabaseGenerator::Options options;
        options.projectPath = dir.filePath(QStringLiteral("backup/Hall.tpc"));
        options.seconds = 86400;
        options.end = newLast;
        options.nodes = 6;
        options.interval = 60;
        options.seed = 5;
        options.index = true;
        const SampleDatabaseGenerator::Result backup = SampleDatabaseGenerator::generate(options);
        QVERIFY(backup.ok);
        QCOMPARE(std::rename(QFile::encodeName(backup.databasePath).constData(),
                             QFile::encodeName(database).constData()),
                 0);
    } else {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("again"));
        db.setDatabaseName(database);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("delete from quorbinal")));
        QVERIFY(query.exec(QStringLiteral("delete from sqlite_sequence")));
        for (qint64 t = newLast - 7200; t <= newLast; t += 60)
            QVERIFY(query.exec(QStringLiteral("insert into quorbinal (serialno, channel1, "
                                              "channel2, pointDate) values ('GEN-0001', 21.5, "
                                              "40.25, %1)")
                                   .arg(t)));
        query.clear();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("again"));
    auto* state = window->findChild<QLabel*>(QStringLiteral("label_state"));
    QTRY_VERIFY_WITH_TIMEOUT(state->text().contains(QStringLiteral("was replaced")), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(window->timeWindow().last(), double(newLast), 20000);
    QVERIFY(window->timeWindow().isAtEnd());
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
    // New samples in the file now there still scroll in.
    QProcess appender;
    appender.start(QStringLiteral(APPENDER_PATH), {database, QString::number(newLast + 60),
                                                   QStringLiteral("1"), QStringLiteral("0")});
    QVERIFY(appender.waitForReadyRead(30000));
    appender.write("close\n");
    QVERIFY(appender.waitForFinished(30000));
    QTRY_COMPARE_WITH_TIMEOUT(window->timeWindow().to(), double(newLast + 89), 20000);
    QVERIFY(state->text().contains(QStringLiteral("was replaced")));
}

// Catches an export of another range than the visible one, or one that leaves no file.
void TestTrendscopeWindow::exportsTheVisibleRange()
{
    const auto window = openWindow(m_project[1]);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
    window->showRange(double(End - 7200), double(End - 3600));
    const QVector<int> chosen = window->chosen();
    QVector<CsvExporter::Column> columns;
    for (int index : chosen.mid(0, 2)) {
        const ChannelCatalog::Channel& c = window->session()->catalog().channels()[index];
        columns << CsvExporter::Column{c.serial, c.channel, ChannelCatalog::label(c)};
    }
    QTemporaryDir dir;
    ExportDialog dialog(window->session(), columns, window->timeWindow().from(),
                        window->timeWindow().to(), window.get());
    dialog.setFile(dir.filePath(QStringLiteral("visible.csv")));
    QSignalSpy finished(&dialog, &ExportDialog::exportFinished);
    dialog.startExport();
    QVERIFY(finished.wait(30000));
    QVERIFY2(finished.first().first().toBool(), qPrintable(dialog.resultText()));
    QFile file(dir.filePath(QStringLiteral("visible.csv")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    const QVector<Row> rows = nodeRows(ProjectFile::databasePath(m_project[1]), "GEN-0001");
    int inRange = 0;
    for (const Row& r : rows)
        inRange += r.time >= End - 7200 && r.time <= End - 3600 ? 1 : 0;
    QCOMPARE(lines.size() - 2, inRange);
    QVERIFY(dialog.resultText().startsWith(QString::number(inRange) + QStringLiteral(" rows")));
}

// Catches a statistics table that prints a corrupted row's 1e308 with all its 309 digits (or a
// glitch near the largest float): such values fit their cells in exponent notation.
void TestTrendscopeWindow::statisticsOfExtremeValues()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(m_project[1], dir.filePath(QStringLiteral("Hall.tpc"))));
    const QString database = dir.filePath(QStringLiteral("Hall.dat"));
    QVERIFY(QFile::copy(ProjectFile::databasePath(m_project[1]), database));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("x"));
        db.setDatabaseName(database);
        QVERIFY(db.open());
        QSqlQuery query(db);
        // The node's last sample before an hour ago, and before two hours ago.
        const QString row = QStringLiteral("where id = (select id from quorbinal where serialno = "
                                           "'GEN-0001' and pointDate <= %1 order by pointDate "
                                           "desc limit 1)");
        for (const QString& change : QStringList{
                 QStringLiteral("update quorbinal set channel1 = 1e308 ") + row.arg(End - 3600),
                 QStringLiteral("update quorbinal set channel1 = -3.4e38 ") + row.arg(End - 7200)})
            QVERIFY2(query.exec(change) && query.numRowsAffected() == 1, qPrintable(change));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("x"));
    const auto window = openWindow(dir.filePath(QStringLiteral("Hall.tpc")));
    window->setChosen({window->session()->catalog().find(QStringLiteral("GEN-0001_channel1"))});
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()) && window->session()->isSummaryComplete(),
                             60000);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 10000);
    auto* table = window->findChild<QTableWidget*>(QStringLiteral("statsTable"));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("-3.40e+38"));
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("1.00e+308"));
    QVERIFY2(table->item(0, 5)->text().contains(QStringLiteral("e+30")),
             qPrintable(table->item(0, 5)->text()));
}

void TestTrendscopeWindow::fitsASmallScreen_data()
{
    QTest::addColumn<QSize>("size");
    // A 1280x720 screen less a top bar and a task bar (80) and the window's title bar and
    // borders (40 and 10).
    QTest::newRow("1280x720 less desktop panels") << QSize(1270, 600);
    QTest::newRow("narrower still, the typed period on a row of its own") << QSize(900, 640);
}

// Catches a window whose smallest size is larger than a laptop's or panel PC's screen, so that
// the statistics, the "+" and "LIVE" buttons or the right end of the charts lie off it.
void TestTrendscopeWindow::fitsASmallScreen()
{
    QFETCH(QSize, size);
    const auto window = openWindow(m_project[1]);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
    QVector<int> all;
    for (int i = 0; i < TrendscopeWindow::MaxChannels; ++i)
        all << i;
    window->setChosen(all);
    // The longest state line the window shows.
    window->findChild<QLabel*>(QStringLiteral("label_state"))
        ->setText(QStringLiteral("The database file was replaced at 12:00:00 and opened again.  "
                                 "No range index in this file: zoomed-in views read more slowly."));
    window->resize(size);
    QTRY_COMPARE(window->size(), size);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
    const QSize smallest = window->minimumSize();
    QVERIFY2(
        smallest.width() <= size.width() && smallest.height() <= size.height(),
        qPrintable(QStringLiteral("smallest %1x%2").arg(smallest.width()).arg(smallest.height())));
    const QRect inside = window->rect();
    for (const char* name : {"btn_zoom_in", "btn_live", "btn_show", "statsTable", "chartStack",
                             "eventsTable", "navigator", "label_range", "command_help"}) {
        auto* part = window->findChild<QWidget*>(QString::fromLatin1(name));
        QVERIFY(part);
        QVERIFY2(part->isVisible(), name);
        const QRect at(part->mapTo(window.get(), QPoint(0, 0)), part->size());
        QVERIFY2(inside.contains(at) && !at.isEmpty(),
                 qPrintable(QStringLiteral("%1 at %2,%3 %4x%5")
                                .arg(QString::fromLatin1(name))
                                .arg(at.x())
                                .arg(at.y())
                                .arg(at.width())
                                .arg(at.height())));
    }
    // Every chart keeps a plot, the last one its time axis, inside the stack.
    auto* stack = window->findChild<ChartStack*>();
    QCOMPARE(stack->channelCount(), TrendscopeWindow::MaxChannels);
    QVERIFY(stack->columns() >= 200);
    const QChartViewer* last = stack->viewer(TrendscopeWindow::MaxChannels - 1);
    QVERIFY(last->geometry().bottom() <= stack->height());
    for (int i = 0; i < TrendscopeWindow::MaxChannels; ++i)
        QVERIFY(stack->viewer(i)->height() >= 40);
    // The statistics show at least one channel, the rest a scroll away.
    auto* table = window->findChild<QTableWidget*>(QStringLiteral("statsTable"));
    QVERIFY(table->viewport()->height() >= table->verticalHeader()->defaultSectionSize());
}

void TestTrendscopeWindow::alarmEventsShadedAndListed_data()
{
    QTest::addColumn<bool>("alarmLog");
    QTest::newRow("events in the file") << true;
    QTest::newRow("a file without the alarm table") << false;
}

// Catches alarm spans drawn on the wrong chart or not at all, events of hidden channels, of other
// nodes or outside the range listed, a node's own alarm left off its channels' charts, an event
// row that does not lead to its span, and a file of an older project that fails to open.
void TestTrendscopeWindow::alarmEventsShadedAndListed()
{
    QFETCH(bool, alarmLog);
    SampleDatabaseGenerator::Options options;
    const QString project = m_dir.filePath(alarmLog ? QStringLiteral("events/Hall.tpc")
                                                    : QStringLiteral("noevents/Hall.tpc"));
    options.projectPath = project;
    options.seconds = 2 * 86400;
    options.end = End;
    options.nodes = 2;
    options.interval = 60;
    options.index = true;
    const SampleDatabaseGenerator::Result made = SampleDatabaseGenerator::generate(options);
    QVERIFY(made.ok);
    const QString first = SampleDatabaseGenerator::serialOf(0);
    const QString second = SampleDatabaseGenerator::serialOf(1);
    if (alarmLog) {
        using ReportFixture::alarmEvent;
        QVERIFY(ReportFixture::writeAlarmEvents(
            made.databasePath,
            {alarmEvent(1, first, 1, AlarmKind::High, End - 7200, End - 3600),
             alarmEvent(2, second, 0, AlarmKind::NoData, End - 1800, std::nullopt),
             alarmEvent(3, first, 2, AlarmKind::Low, End - 3 * 86400, End - 2 * 86400 - 60),
             alarmEvent(4, QStringLiteral("GEN-OTHER"), 1, AlarmKind::High, End - 600,
                        End - 300)}));
    }

    const auto window = openWindow(project);
    QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
    auto* stack = window->findChild<ChartStack*>();
    QCOMPARE(stack->channelCount(), 4); // both channels of both nodes
    auto* table = window->findChild<QTableWidget*>(QStringLiteral("eventsTable"));
    QVERIFY(table->isVisible());
    if (!alarmLog) {
        QTRY_VERIFY(window->requestedId() > 1);
        QCOMPARE(table->rowCount(), 0);
        for (int i = 0; i < stack->channelCount(); ++i)
            QVERIFY(stack->alarmSpans(i).isEmpty());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 2, 10000);
    QCOMPARE(window->listedEvents().at(0).id, 1);
    QCOMPARE(window->listedEvents().at(1).id, 2);
    QCOMPARE(table->item(0, 2)->text(), QStringLiteral("high"));
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("no data"));
    const QVector<TrendChart::Span> own{TrendChart::Span(End - 7200, End - 3600)};
    QCOMPARE(stack->alarmSpans(0), own);
    QVERIFY(stack->alarmSpans(1).isEmpty());
    // The node's own alarm lasts until now on both of its charts.
    for (int i : {2, 3}) {
        QCOMPARE(stack->alarmSpans(i).size(), 1);
        QCOMPARE(stack->alarmSpans(i).at(0).first, double(End - 1800));
        QVERIFY(stack->alarmSpans(i).at(0).second >= double(End));
    }
    // The shading is on the first chart's image inside the span, and not outside it.
    QTRY_VERIFY(settled(window.get()));
    const QImage image = stack->viewer(0)->pixmap(Qt::ReturnByValue).toImage();
    const TimeWindow& range = window->timeWindow();
    auto x = [&](double t) {
        return TrendChart::LeftMargin + int((t - range.from()) / range.span() * stack->columns());
    };
    auto reddish = [&](int column) {
        int n = 0;
        for (int y = TrendChart::TopMargin + 2; y < image.height() - TrendChart::BottomMargin;
             ++y) {
            const QColor c = image.pixelColor(column, y);
            n += c.red() > c.green() + 30 && c.red() > c.blue() + 10 ? 1 : 0;
        }
        return n;
    };
    QVERIFY2(reddish(x(End - 5400)) > image.height() / 3,
             qPrintable(QString::number(reddish(x(End - 5400)))));
    QCOMPARE(reddish(x(End - 9000)), 0);
    // As a 1280x720 screen shows it, for whoever looks at the window.
    if (const QString dir = qEnvironmentVariable("QUILLMAR_GRAB_DIR"); !dir.isEmpty()) {
        window->resize(1280, 720);
        QTRY_COMPARE(window->size(), QSize(1280, 720));
        QTRY_VERIFY_WITH_TIMEOUT(settled(window.get()), 30000);
        QTRY_COMPARE(table->rowCount(), 2);
        QVERIFY(window->grab().save(dir + QStringLiteral("/trendscope-alarm-spans.png")));
    }
    // A click on the event's row shows its span.
    emit table->cellClicked(0, 0);
    QTRY_VERIFY(range.from() <= double(End - 7200) && range.to() >= double(End - 3600));
    QVERIFY(range.span() < 86400);
}

QTEST_MAIN(TestTrendscopeWindow)
#include "tst_trendscopewindow.moc"
