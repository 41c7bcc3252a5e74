// reportscreens: makes a report through the report window for a generated project whose
// recording stopped at 09:20 and restarted at 14:10 the day before its last stop, exports it as
// PNG with the window's own export and prints the table rows the page shows.
//   usage: tallyforge_screens OUTPUT_DIR

#include "configureddevice.h"
#include "messagedialog.h"
#include "report.h"
#include "reportfixture.h"
#include "reportstartup.h"

#include <QAction>
#include <QApplication>
#include <QCommandLinkButton>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QWebElement>
#include <QWebFrame>

#include <cstdio>

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
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(item).center());
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tallyforge_screens OUTPUT_DIR\n");
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
    QString errorText;
    if (!ReportStartup::check({QStringLiteral("Tallyforge"), project}, &path, &devices,
                              &errorText)) {
        std::fprintf(stderr, "%s\n", qPrintable(errorText));
        return 1;
    }
    Report report(path, devices);
    const QString png = out + QStringLiteral("/report-stop-restart.png");
    report.desktop().saveFileName = [png](QWidget*, const QString&, const QString&,
                                          const QString&) { return png; };
    report.desktop().openFile = [](const QString& file) {
        std::printf("exported %s\n", qPrintable(file));
        return true;
    };
    report.move(0, 0);
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
    return 0;
}
