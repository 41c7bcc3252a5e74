// reportscreens: makes a report through the report window for a generated project whose
// recording stopped at 09:20 and restarted at 14:10 the day before its last stop, exports it as
// PNG with the window's own export and prints the table rows the page shows. Then, on a
// generated month of a cold store (Europe/Berlin, with the spring clock change, excursions and
// data gaps), makes a daily, a weekly, a monthly and a HACCP report through the window and
// exports each as PDF; given the report generator, makes the same four from its command line.
// Beside each window's picture, one of the whole screen (screen-*.png): run under
// xvfb-run -a -s "-screen 0 1280x720x24" to see the window on a small screen.
//   usage: tallyforge_screens OUTPUT_DIR [TALLYFORGE]

#include "calibrationtable.h"
#include "configureddevice.h"
#include "messagedialog.h"
#include "report.h"
#include "reportfixture.h"
#include "reportstartup.h"
#include "sqliteconnection.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QDateTimeEdit>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWebElement>
#include <QWebFrame>

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <ctime>

using namespace ReportFixture;

namespace {

// One node at a 1-minute interval on 2026-01-09: channel 1 alternates between 10 and 11 above
// the hour, channel 2 is 50 plus the hour. A stop writes one empty row an interval after the
// last sample, as the recorder does.
QList<Sample> stopAndRestart(const QString& serial)
{
    QList<Sample> samples;
    auto add = [&](qint64 from, qint64 to) {
        for (qint64 t = from; t <= to; t += 60) {
            const QTime time = QDateTime::fromSecsSinceEpoch(t).time();
            samples.append({serial, 10.0 + time.hour() + time.minute() % 2, 50.0 + time.hour(), t});
        }
        samples.append({serial, QVariant(), QVariant(), to + 60});
    };
    add(localSecs(QStringLiteral("2026-01-09 00:00:00")),
        localSecs(QStringLiteral("2026-01-09 09:20:00")));
    add(localSecs(QStringLiteral("2026-01-09 14:10:00")),
        localSecs(QStringLiteral("2026-01-10 00:05:00")));
    return samples;
}

void clickItem(QListWidget* list, int row)
{
    QListWidgetItem* item = list->item(row);
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(item).center());
}

// The program's start-up checks on a generated project.
bool checkProject(const QString& project, QString* path, QList<ConfiguredDevice*>* devices)
{
    QString errorText;
    if (ReportStartup::check({QStringLiteral("Tallyforge"), project}, path, devices, &errorText))
        return true;
    std::fprintf(stderr, "%s\n", qPrintable(errorText));
    return false;
}

// Triggers an entry of the window's visible PRINT menu.
void triggerExport(Report* report, const QString& entry)
{
    report->findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_print"))->click();
    for (QMenu* menu : report->findChildren<QMenu*>()) {
        for (QAction* action : menu->actions()) {
            if (menu->isVisible() && action->text() == entry)
                action->trigger();
        }
    }
    for (QMenu* menu : report->findChildren<QMenu*>())
        menu->hide();
}

// March 2026 of four nodes at a 1-minute interval. Cold store CS_01 (2 to 8 C) runs out of its
// limits on the 10th, on the 27th (with half an hour without values inside), across the night
// of the clock change from the 28th to the 29th and from 23:00 on the 31st to the end; freezer
// CS_02 (-25 to -15 C) defrosts every morning; room RM_03 (15 to 25 C) falls below its limit on
// the 30th. The recording stopped on the 26th at 09:20 and restarted at 14:10.
QList<Sample> coldStoreMonth()
{
    const qint64 first = localSecs(QStringLiteral("2026-03-01 00:00:00"));
    const qint64 end = localSecs(QStringLiteral("2026-04-01 00:00:00"));
    auto at = [](const char* text) { return localSecs(QLatin1String(text)); };
    const qint64 stop = at("2026-03-26 09:20:00");
    const qint64 restart = at("2026-03-26 14:10:00");
    auto within = [](qint64 t, qint64 a, qint64 b) { return t >= a && t < b; };
    QList<Sample> samples;
    for (qint64 t = first; t < end; t += 60) {
        if (t > stop && t < restart) {
            if (t == stop + 60) {
                for (const char* serial : {"CS_01", "CS_02", "RM_03"})
                    samples.append({QLatin1String(serial), QVariant(), QVariant(), t});
            }
            continue;
        }
        const double day = 2 * M_PI * double(t - first) / 86400.0;
        const QTime clock = QDateTime::fromSecsSinceEpoch(t).time();
        double cold = 4.5 + 1.2 * std::sin(day) + 0.3 * std::sin(day * 37);
        if (within(t, at("2026-03-10 14:00:00"), at("2026-03-10 14:40:00")))
            cold = 8.6 + 0.9 * std::sin(M_PI * double(t - at("2026-03-10 14:00:00")) / 2400);
        if (within(t, at("2026-03-27 10:00:00"), at("2026-03-27 11:20:00")))
            cold = 9.0 + 0.02 * double((t - at("2026-03-27 10:00:00")) / 60);
        if (within(t, at("2026-03-28 23:30:00"), at("2026-03-29 01:20:00")))
            cold = 8.8;
        if (t >= at("2026-03-31 23:00:00"))
            cold = 10.2;
        QVariant coldValue = std::round(cold * 100) / 100;
        if (within(t, at("2026-03-27 10:30:00"), at("2026-03-27 11:00:00")))
            coldValue = QVariant(); // the node was out of reach
        const double humidity = std::round((85 + 5 * std::sin(day * 3)) * 100) / 100;
        samples.append({QStringLiteral("CS_01"), coldValue, humidity, t});

        double freezer = -19 + 1.5 * std::sin(day * 2);
        if (clock >= QTime(6, 0) && clock < QTime(6, 20))
            freezer = -12.5 - 0.05 * clock.minute();
        samples.append({QStringLiteral("CS_02"), std::round(freezer * 100) / 100,
                        std::round((70 + 4 * std::sin(day)) * 100) / 100, t + 1});

        double room = 21 + 2 * std::sin(day - 1);
        if (within(t, at("2026-03-30 03:00:00"), at("2026-03-30 04:00:00")))
            room = 13.5;
        samples.append({QStringLiteral("RM_03"), std::round(room * 100) / 100,
                        std::round((45 + 10 * std::sin(day + 2)) * 100) / 100, t + 2});
    }
    return samples;
}

struct KindRun
{
    ReportKind kind;
    QDate start;
    HaccpSpan span;
};

// Makes one report of the given kind through its window and exports it as PDF.
bool windowReport(const QString& project, const KindRun& run, const QStringList& keys,
                  const QString& pdf)
{
    QString path;
    QList<ConfiguredDevice*> devices;
    if (!checkProject(project, &path, &devices))
        return false;
    Report report(path, devices, run.kind);
    // The PDF, and beside it the page as PNG and HTML.
    report.desktop().saveFileName = [pdf](QWidget*, const QString& title, const QString&,
                                          const QString&) {
        QString name = pdf;
        if (title == QLatin1String("Export PNG"))
            name.replace(QStringLiteral(".pdf"), QStringLiteral("-page.png"));
        else if (title == QLatin1String("Export HTML"))
            name.replace(QStringLiteral(".pdf"), QStringLiteral(".htm"));
        return name;
    };
    int written = 0;
    report.desktop().openFile = [&written](const QString&) { return ++written > 0; };
    report.move(0, 0);
    report.fitInto(report.screen()->availableGeometry());
    report.show();
    if (!QTest::qWaitForWindowExposed(&report))
        return false;
    auto* subject = report.findChild<QLineEdit*>(QStringLiteral("lineEdit_subject"));
    subject->clear();
    QTest::keyClicks(subject, QStringLiteral("Cold store, March 2026"));
    auto* author = report.findChild<QLineEdit*>(QStringLiteral("lineEdit_author"));
    author->clear();
    QTest::keyClicks(author, QStringLiteral("Quality assurance"));
    if (auto* span = report.findChild<QComboBox*>(QStringLiteral("comboBox_period")))
        span->setCurrentIndex(int(run.span));
    report.findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_start"))
        ->setDateTime(QDateTime(run.start, QTime(0, 0)));
    auto* list = report.findChild<QListWidget*>(QStringLiteral("listWidget"));
    for (const QString& key : keys) {
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->toolTip().startsWith(key + QLatin1Char('|')))
                clickItem(list, row);
        }
    }
    report.findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_load"))->click();
    auto* exportButton =
        report.findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_print"));
    if (!QTest::qWaitFor([exportButton] { return exportButton->isVisible(); }, 120000)) {
        std::fprintf(stderr, "the %s report was not made\n",
                     qPrintable(ReportPeriod::kindName(run.kind)));
        return false;
    }
    QTest::qWait(300);
    report.grab().save(QFileInfo(pdf).path() + QStringLiteral("/window-") +
                       ReportPeriod::kindName(run.kind) + QStringLiteral(".png"));
    report.screen()->grabWindow(0).save(QFileInfo(pdf).path() + QStringLiteral("/screen-") +
                                        ReportPeriod::kindName(run.kind) + QStringLiteral(".png"));
    for (const char* entry : {"pdf", "Image(png)", "html"})
        triggerExport(&report, QLatin1String(entry));
    std::printf("window: %s report -> %s (and -page.png, .htm)\n",
                qPrintable(ReportPeriod::kindName(run.kind)), qPrintable(pdf));
    return written == 3;
}

bool kindReports(const QString& out, const QString& tallyforge)
{
    QTemporaryDir work;
    const QStringList serials{QStringLiteral("CS_01"), QStringLiteral("CS_02"),
                              QStringLiteral("RM_03")};
    const QString project = writeProject(
        work.path(), QStringLiteral("Cold store.tpc"),
        nestedDeviceList(serials, {{2, 8, 0, 0}, {-25, -15, 0, 0}, {15, 25, 30, 70}}), 60000,
        QStringLiteral("2026-03-01 00:00:00"), QStringLiteral("2026-04-01 00:00:30"));
    // With the index and the summary, as the recorder makes a database now.
    if (!writeDatabase(work.filePath(QStringLiteral("Cold store.dat")), coldStoreMonth(), true,
                       true)) {
        std::fprintf(stderr, "cannot write the database\n");
        return false;
    }
    // The first cold room's certificate ran out on 15 March; the second's holds. The room's
    // mean kinetic temperature has a limit of 21 degC it passes.
    {
        SqliteConnection db;
        QString error;
        bool written =
            db.open(work.filePath(QStringLiteral("Cold store.dat")), SQLITE_OPEN_READWRITE) &&
            CalibrationTable::ensureTable(db.get(), &error);
        const struct
        {
            const char* serial;
            const char* certificate;
            QDate calibrated;
            QDate due;
        } certificates[] = {{"CS_01", "DKD-K-4711/25", QDate(2025, 3, 10), QDate(2026, 3, 15)},
                            {"CS_02", "DKD-K-4712/25", QDate(2025, 9, 1), QDate(2026, 9, 1)}};
        qint64 id = 0;
        for (const auto& c : certificates) {
            CalibrationRecord r;
            r.id = ++id;
            r.serial = QLatin1String(c.serial);
            r.column = QStringLiteral("channel1");
            r.certificate = QLatin1String(c.certificate);
            r.laboratory = QStringLiteral("Kalibrierlabor Nord");
            r.calibrated = c.calibrated;
            r.due = c.due;
            r.reference = QStringLiteral("Pt100 reference 4410");
            r.asFound = 0.18;
            r.asLeft = 0.02;
            r.uncertainty = 0.05;
            r.enteredBy = QStringLiteral("Olga Berg (olga)");
            r.enteredAt = QDateTime(c.calibrated, QTime(10, 0)).toSecsSinceEpoch();
            written = written && CalibrationTable::insert(db.get(), r, &error);
        }
        if (!written) {
            std::fprintf(stderr, "cannot write the calibration register: %s\n", qPrintable(error));
            return false;
        }
        QSettings settings(project, QSettings::IniFormat);
        settings.setValue(QStringLiteral("AlarmRules"),
                          QByteArray(R"({"nodes":[{"DeviceNumber":"RM_03","Ch1MktLimit":21}]})"));
    }
    const QStringList keys{QStringLiteral("CS_01_channel1"), QStringLiteral("CS_02_channel1"),
                           QStringLiteral("RM_03_channel1"), QStringLiteral("RM_03_channel2")};
    const KindRun runs[] = {
        {ReportKind::Daily, QDate(2026, 3, 29), HaccpSpan::Day},
        {ReportKind::Weekly, QDate(2026, 3, 25), HaccpSpan::Day},
        {ReportKind::Monthly, QDate(2026, 3, 1), HaccpSpan::Day},
        {ReportKind::Haccp, QDate(2026, 3, 25), HaccpSpan::Week},
    };
    bool ok = true;
    for (const KindRun& run : runs) {
        const QString name = ReportPeriod::kindName(run.kind);
        ok = windowReport(project, run, keys,
                          out + QStringLiteral("/reports-") + name +
                              QStringLiteral("-window.pdf")) &&
             ok;
        if (tallyforge.isEmpty())
            continue;
        QStringList arguments{QStringLiteral("--report"), name, QStringLiteral("--start"),
                              run.start.toString(Qt::ISODate)};
        if (run.kind == ReportKind::Haccp)
            arguments << QStringLiteral("--period") << ReportPeriod::spanName(run.span);
        arguments << QStringLiteral("--channels") << keys.join(QLatin1Char(','))
                  << QStringLiteral("--subject") << QStringLiteral("Cold store, March 2026")
                  << QStringLiteral("--author") << QStringLiteral("Quality assurance")
                  << QStringLiteral("--pdf")
                  << out + QStringLiteral("/reports-") + name + QStringLiteral("-cli.pdf")
                  << project;
        QProcess cli;
        cli.setProcessChannelMode(QProcess::ForwardedChannels);
        cli.start(tallyforge, arguments);
        cli.waitForFinished(300000);
        std::printf("command line: %s %s -> exit %d\n", qPrintable(tallyforge),
                    qPrintable(arguments.join(QLatin1Char(' '))), cli.exitCode());
        ok = ok && cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0;
    }
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    // The month holds the spring clock change of this zone.
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: tallyforge_screens OUTPUT_DIR [TALLYFORGE]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    MessageDialog::setProgramLook(QStringLiteral("Quillmar Lite"),
                                  QStringLiteral(":/img/QuillmarLogo.png"));

    QTemporaryDir work;
    const QString serial = QStringLiteral("CS_01");
    const QString project = writeProject(
        work.path(), QStringLiteral("Stop and restart.tpc"), nestedDeviceList({serial}), 60000,
        QStringLiteral("2026-01-09 00:00:00"), QStringLiteral("2026-01-10 00:05:00"));
    if (!writeDatabase(work.filePath(QStringLiteral("Stop and restart.dat")),
                       stopAndRestart(serial))) {
        std::fprintf(stderr, "cannot write the database\n");
        return 1;
    }

    QString path;
    QList<ConfiguredDevice*> devices;
    if (!checkProject(project, &path, &devices))
        return 1;
    Report report(path, devices);
    const QString png = out + QStringLiteral("/report-stop-restart.png");
    report.desktop().saveFileName = [png](QWidget*, const QString&, const QString&,
                                          const QString&) { return png; };
    report.desktop().openFile = [](const QString& file) {
        std::printf("exported %s\n", qPrintable(file));
        return true;
    };
    report.move(0, 0);
    report.fitInto(report.screen()->availableGeometry());
    report.show();
    if (!QTest::qWaitForWindowExposed(&report))
        return 1;

    auto* list = report.findChild<QListWidget*>(QStringLiteral("listWidget"));
    clickItem(list, 0);
    clickItem(list, 1);
    report.findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_load"))->click();
    auto* exportButton =
        report.findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_print"));
    if (!QTest::qWaitFor([exportButton] { return exportButton->isVisible(); }, 60000)) {
        std::fprintf(stderr, "the report was not made\n");
        return 1;
    }
    QTest::qWait(500); // the page script draws the chart
    report.grab().save(out + QStringLiteral("/report-window.png"));
    // The whole screen: whether the window fits it.
    report.screen()->grabWindow(0).save(out + QStringLiteral("/screen-report-window.png"));

    exportButton->click();
    for (QMenu* menu : report.findChildren<QMenu*>()) {
        for (QAction* action : menu->actions()) {
            if (menu->isVisible() && action->text() == QLatin1String("Image(png)"))
                action->trigger();
        }
    }

    const QWebElementCollection rows =
        report.reportFrame()->findAllElements(QStringLiteral("div#ReportTable tr"));
    for (const QWebElement& row : rows) {
        QStringList cells;
        for (const QWebElement& cell : row.findAll(QStringLiteral("th, td")))
            cells.append(cell.toPlainText());
        std::printf("%s\n", qPrintable(cells.join(QStringLiteral(" | "))));
    }
    return kindReports(out, argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString()) ? 0 : 1;
}
