#include "messagedialog.h"
#include "projectpathargument.h"
#include "report.h"
#include "reportfixture.h"
#include "configureddevice.h"
#include "reportstartup.h"
#include "reportwebpage.h"
#include "topcustomframe.h"
#include "windowfit.h"

#include <QAction>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QDateTimeEdit>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QSettings>
#include <QSizeGrip>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QToolButton>
#include <QWebElement>
#include <QWebFrame>
#include <QWebView>
#include <QtMath>
#include <QtTest>

#include <memory>

using namespace ReportFixture;

namespace {

const QString kFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

void grabFor(QWidget* widget, const QString& name)
{
    const QString dir = qEnvironmentVariable("QUILLMAR_GRAB_DIR");
    if (!dir.isEmpty())
        widget->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Texts of the message dialogs the window shows: "title: text".
QStringList visibleMessages(QWidget* window)
{
    QStringList messages;
    for (MessageDialog* dialog : window->findChildren<MessageDialog*>()) {
        if (!dialog->isVisible())
            continue;
        messages.append(
            dialog->findChild<QGroupBox*>(QStringLiteral("groupBox_message"))->title() +
            QStringLiteral(": ") +
            dialog->findChild<QTextBrowser*>(QStringLiteral("textBrowser"))->toPlainText());
    }
    return messages;
}

int countPixels(const QImage& image, const std::function<bool(QRgb)>& match)
{
    int n = 0;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            n += match(line[x]) ? 1 : 0;
    }
    return n;
}

bool reddish(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 90 && qBlue(c) < 90;
}
bool greenish(QRgb c)
{
    return qGreen(c) > 170 && qRed(c) < 90 && qBlue(c) < 90;
}
bool bluish(QRgb c)
{
    return qBlue(c) > 200 && qRed(c) < 90 && qGreen(c) < 90;
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void windowAtStart();
    void defaultPeriod_data();
    void defaultPeriod();
    void startChangeMovesEnd();
    void tickingLimit();
    void noChannelMessage();
    void makeReport();
    void exports();
    void exportCancelledOrUnwritable_data();
    void exportCancelledOrUnwritable();
    void noContextMenu();
    void notEnoughData();
    void workerError();
    void newReport();
    void dragWindow();
    void printPreviewPrints();
    void pageLaidOutAsWithoutWindow();
    void closeWhileRunning();
    void kinds_data();
    void kinds();
    void monthPdfPages();
    void fitsSmallScreen_data();
    void fitsSmallScreen();

private:
    std::unique_ptr<Report> openWindow(const QString& recordStart, const QString& recordStop,
                                       ReportKind kind = ReportKind::Daily);
    QListWidgetItem* item(Report* report, int row);
    void tick(Report* report, int row);
    bool runReport(Report* report);

    std::unique_ptr<QTemporaryDir> dir;
    QString projectPath;
    QString databasePath;
    QStringList opened;
    QStringList started;
    bool startSucceeds = true;
};

void TestReport::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    MessageDialog::setProgramLook(QStringLiteral("Quillmar Lite"),
                                  QStringLiteral(":/img/QuillmarLogo.png"));
}

void TestReport::init()
{
    opened.clear();
    started.clear();
    startSucceeds = true;
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());

    QByteArray devices =
        nestedDeviceList({QStringLiteral("1234"), QStringLiteral("5678"), QStringLiteral("9999")});
    projectPath = writeProject(dir->path(), QStringLiteral("cold store.tpc"), devices, 60000,
                               QString(), QString());
    databasePath = dir->path() + QStringLiteral("/cold store.dat");
    QList<Sample> samples;
    const qint64 day = localSecs(QStringLiteral("2026-01-09 00:00:00"));
    for (int i = 0; i < 24 * 60; ++i) {
        const qint64 t = day + i * 60;
        samples.append(
            {QStringLiteral("1234"), 4.0 + 3.0 * qSin(i / 90.0), 60.0 + 10.0 * qCos(i / 150.0), t});
        // A gap of an hour in the second node's first channel.
        const QVariant v = (i >= 600 && i < 660) ? QVariant() : QVariant(12.0 + i / 400.0);
        samples.append({QStringLiteral("5678"), v, 35.0 + 5.0 * qSin(i / 60.0), t + 7});
    }
    QVERIFY(writeDatabase(databasePath, samples));
}

void TestReport::cleanup()
{
    dir.reset();
}

std::unique_ptr<Report> TestReport::openWindow(const QString& recordStart,
                                               const QString& recordStop, ReportKind kind)
{
    QSettings settings(projectPath, QSettings::IniFormat);
    settings.setValue(QStringLiteral("record_start_time"), recordStart);
    settings.setValue(QStringLiteral("record_stop_time"), recordStop);
    settings.setValue(QStringLiteral("ReportSubject"), QStringLiteral("Last subject"));
    settings.setValue(QStringLiteral("ReportAuthor"), QStringLiteral("Last author"));
    settings.sync();
    QString path;
    QList<ConfiguredDevice*> devices;
    QString errorText;
    if (!ReportStartup::check({QStringLiteral("Tallyforge"), projectPath}, &path, &devices,
                              &errorText)) {
        qWarning() << errorText;
        return nullptr;
    }
    auto report = std::make_unique<Report>(path, devices, kind);
    report->desktop().saveFileName = nullptr;
    report->desktop().openFile = [this](const QString& opening) {
        opened.append(opening);
        return true;
    };
    report->desktop().startDetached = [this](const QString& program, const QStringList& args) {
        started.append(program + QLatin1Char(' ') + args.join(QLatin1Char(' ')));
        return startSucceeds;
    };
    report->show();
    return report;
}

QListWidgetItem* TestReport::item(Report* report, int row)
{
    return report->findChild<QListWidget*>(QStringLiteral("listWidget"))->item(row);
}

void TestReport::tick(Report* report, int row)
{
    auto* list = report->findChild<QListWidget*>(QStringLiteral("listWidget"));
    QListWidgetItem* it = list->item(row);
    list->scrollToItem(it);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(it).center());
}

bool TestReport::runReport(Report* report)
{
    auto* load = report->findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_load"));
    QTest::mouseClick(load, Qt::LeftButton);
    auto* exitButton = report->findChild<QToolButton*>(QStringLiteral("toolButton_exit"));
    // The worker ends with done() or error(); both enable the exit button again.
    QDeadlineTimer deadline(30000);
    while (!exitButton->isEnabled() && !deadline.hasExpired())
        QTest::qWait(20);
    if (!exitButton->isEnabled())
        qWarning() << "the report did not end within 30 s";
    // A made report's page is filled once its template has loaded.
    const QWebElement printed =
        report->reportFrame()->findFirstElement(QStringLiteral("span#printingTime"));
    while (report->isReportMade() && printed.toPlainText().isEmpty() && !deadline.hasExpired())
        QTest::qWait(20);
    return report->isReportMade();
}

// Catches a window that starts with wrong labels, list keys, button states or stored texts.
void TestReport::windowAtStart()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    QVERIFY(QTest::qWaitForWindowExposed(report.get()));
    QCOMPARE(report->windowTitle(), QStringLiteral("Tallyforge"));
    QVERIFY(report->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(report->findChild<QLabel*>(QStringLiteral("label_version"))->text(),
             QStringLiteral("V3.49"));
    const QString folder =
        dir->path().size() > 40 ? dir->path().left(40) + QStringLiteral("...") : dir->path();
    QCOMPARE(report->findChild<QLabel*>(QStringLiteral("label_project"))->text(),
             folder + QStringLiteral("/cold store.tpc"));
    QCOMPARE(report->findChild<QLabel*>(QStringLiteral("label_interval"))->text(),
             QStringLiteral("Interval : 1 min"));
    QCOMPARE(report->findChild<QLabel*>(QStringLiteral("label_range"))->text(),
             QStringLiteral("2026-01-08 12:00:13 ~ 2026-01-10 08:15:42"));
    QCOMPARE(report->findChild<QLineEdit*>(QStringLiteral("lineEdit_subject"))->text(),
             QStringLiteral("Last subject"));
    QCOMPARE(report->findChild<QLineEdit*>(QStringLiteral("lineEdit_author"))->text(),
             QStringLiteral("Last author"));

    auto* list = report->findChild<QListWidget*>(QStringLiteral("listWidget"));
    QCOMPARE(list->count(), 6);
    const QString degree(QChar(0x00B0));
    QCOMPARE(list->item(0)->text(), QStringLiteral("Temperature\t[Room 1234]"));
    QCOMPARE(list->item(0)->toolTip(),
             QStringLiteral("1234_channel1|Temperature(") + degree + QStringLiteral("C)"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("Humidity\t[Room 1234]"));
    QCOMPARE(list->item(1)->toolTip(),
             QStringLiteral("5678_channel2|Humidity(%)").replace("5678", "1234"));
    QCOMPARE(list->item(5)->toolTip(), QStringLiteral("9999_channel2|Humidity(%)"));
    QVERIFY(!list->item(0)->icon().isNull());

    auto* load = report->findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_load"));
    auto* print = report->findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_print"));
    QVERIFY(load->isVisible());
    QVERIFY(!load->isEnabled());
    QVERIFY(!print->isVisible());
    QVERIFY(!report->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_end"))->isEnabled());
    QVERIFY(report->reportFrame()->findFirstElement(QStringLiteral("div#chartdiv")).isNull() ==
            false);
    grabFor(report.get(), QStringLiteral("report-before"));
}

void TestReport::defaultPeriod_data()
{
    QTest::addColumn<QString>("recordStart");
    QTest::addColumn<QString>("recordStop");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("rangeStart");
    QTest::addColumn<QString>("rangeEnd");
    QTest::newRow("days of recording: the day before the stop") << "2026-01-08 12:00:13"
                                                                << "2026-01-10 08:15:42"
                                                                << "2026-01-09 00:00:00"
                                                                << "2026-01-09 23:59:59"
                                                                << "2026-01-08 12:00:00"
                                                                << "2026-01-10 08:15:59";
    QTest::newRow("started at the previous midnight") << "2026-01-09 00:00:00"
                                                      << "2026-01-10 00:10:00"
                                                      << "2026-01-09 00:00:00"
                                                      << "2026-01-09 23:59:59"
                                                      << "2026-01-09 00:00:00"
                                                      << "2026-01-10 00:10:59";
    QTest::newRow("short recording keeps its range") << "2026-01-10 02:10:20"
                                                     << "2026-01-10 08:15:42"
                                                     << "2026-01-10 02:10:00"
                                                     << "2026-01-10 08:15:59"
                                                     << "2026-01-10 02:10:00"
                                                     << "2026-01-10 08:15:59";
}

// Catches a default period or edit range that ignores the recorded times.
void TestReport::defaultPeriod()
{
    QFETCH(QString, recordStart);
    QFETCH(QString, recordStop);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, rangeStart);
    QFETCH(QString, rangeEnd);
    auto report = openWindow(recordStart, recordStop);
    QVERIFY(report);
    auto* startEdit = report->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_start"));
    auto* endEdit = report->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_end"));
    QCOMPARE(startEdit->dateTime().toString(kFormat), start);
    QCOMPARE(endEdit->dateTime().toString(kFormat), end);
    QCOMPARE(startEdit->minimumDateTime().toString(kFormat), rangeStart);
    QCOMPARE(startEdit->maximumDateTime().toString(kFormat), rangeEnd);
    QCOMPARE(startEdit->displayFormat(), kFormat);
    QVERIFY(startEdit->calendarPopup());
}

// Catches an end that does not follow the start by one day, or leaves the recorded range.
void TestReport::startChangeMovesEnd()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    auto* startEdit = report->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_start"));
    auto* endEdit = report->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_end"));
    startEdit->setDateTime(QDateTime::fromString(QStringLiteral("2026-01-08 18:30:00"), kFormat));
    QCOMPARE(endEdit->dateTime().toString(kFormat), QStringLiteral("2026-01-09 18:29:59"));
    startEdit->setDateTime(QDateTime::fromString(QStringLiteral("2026-01-10 01:00:00"), kFormat));
    QCOMPARE(endEdit->dateTime().toString(kFormat), QStringLiteral("2026-01-10 08:15:59"));
}

// Catches a fifth ticked channel, a tick that is not undone, or a make button out of step.
void TestReport::tickingLimit()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    QVERIFY(QTest::qWaitForWindowExposed(report.get()));
    auto* load = report->findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_load"));
    const QImage unticked = item(report.get(), 0)->icon().pixmap(18, 18).toImage();
    tick(report.get(), 0);
    QVERIFY(load->isEnabled());
    QVERIFY(item(report.get(), 0)->icon().pixmap(18, 18).toImage() != unticked);
    for (int row = 1; row < 4; ++row)
        tick(report.get(), row);
    tick(report.get(), 4);
    QCOMPARE(item(report.get(), 4)->icon().pixmap(18, 18).toImage(), unticked);
    tick(report.get(), 2); // untick
    QCOMPARE(item(report.get(), 2)->icon().pixmap(18, 18).toImage(), unticked);
    tick(report.get(), 4);
    QVERIFY(item(report.get(), 4)->icon().pixmap(18, 18).toImage() != unticked);
    for (int row : {0, 1, 3, 4})
        tick(report.get(), row);
    QVERIFY(!load->isEnabled());
}

// Catches a report started without channels, or a message other than the one expected.
void TestReport::noChannelMessage()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    report->slotCommandUpdate();
    QCOMPARE(visibleMessages(report.get()),
             QStringList{QStringLiteral(
                 "Information: Please select at least one or more Device.\nPlease retry.")});
    QVERIFY(!report->isReportMade());
    QVERIFY(report->findChild<QListWidget*>(QStringLiteral("listWidget"))->isEnabled());
}

// Catches a report whose page misses its header texts, table rows or chart, runs markup from
// typed texts, or does not store the subject and author.
void TestReport::makeReport()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    QVERIFY(QTest::qWaitForWindowExposed(report.get()));
    const QString subject = QStringLiteral("<b>Cold</b> & \"dry\" 'store'<script>x=1</script>");
    auto* subjectEdit = report->findChild<QLineEdit*>(QStringLiteral("lineEdit_subject"));
    subjectEdit->clear();
    QTest::keyClicks(subjectEdit, subject);
    auto* authorEdit = report->findChild<QLineEdit*>(QStringLiteral("lineEdit_author"));
    authorEdit->setText(QStringLiteral("Ann O'Hara"));
    tick(report.get(), 0);
    tick(report.get(), 1);
    tick(report.get(), 2);
    QVERIFY(runReport(report.get()));
    QVERIFY(visibleMessages(report.get()).isEmpty());
    QVERIFY(report->findChildren<QProgressDialog*>().isEmpty());

    auto* load = report->findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_load"));
    auto* print = report->findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_print"));
    QVERIFY(!load->isVisible());
    QVERIFY(print->isVisible() && print->isEnabled());
    QVERIFY(!subjectEdit->isEnabled());
    QVERIFY(!report->findChild<QListWidget*>(QStringLiteral("listWidget"))->isEnabled());

    QSettings settings(projectPath, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("ReportSubject")).toString(), subject);
    QCOMPARE(settings.value(QStringLiteral("ReportAuthor")).toString(),
             QStringLiteral("Ann O'Hara"));

    QWebFrame* frame = report->reportFrame();
    auto text = [frame](const char* selector) {
        return frame->findFirstElement(QLatin1String(selector)).toPlainText();
    };
    QCOMPARE(text("div#ReportSubject"), subject);
    QVERIFY(frame->findAllElements(QStringLiteral("div#ReportSubject b")).count() == 0);
    QVERIFY(frame->findAllElements(QStringLiteral("div#ReportSubject script")).count() == 0);
    QCOMPARE(text("div#ReportAuthor"), QStringLiteral("Ann O'Hara"));
    QCOMPARE(text("div#ReportTimeStart"), QStringLiteral("2026-01-09 00:00:00"));
    QCOMPARE(text("div#ReportTimeEnd"), QStringLiteral("2026-01-09 23:59:59"));
    QCOMPARE(text("div#ReportDuration"),
             QStringLiteral("2026-01-09 00:00:00 ~ 2026-01-09 23:59:59"));
    const QString degree(QChar(0x00B0));
    QCOMPARE(text("div#Channel1Info"), QStringLiteral("Temperature [Room 1234], Temperature(") +
                                           degree + QStringLiteral("C)"));
    QCOMPARE(text("div#Channel2Info"), QStringLiteral("Humidity [Room 1234], Humidity(%)"));
    QCOMPARE(text("div#Channel3Info"), QStringLiteral("Temperature [Room 5678], Temperature(") +
                                           degree + QStringLiteral("C)"));
    QCOMPARE(text("div#Channel4Info"), QString());
    QVERIFY(QDateTime::fromString(text("span#printingTime"), kFormat).isValid());

    QCOMPARE(frame->findAllElements(QStringLiteral("div#ReportTable tr")).count(), 25);
    const QWebElement firstRow = frame->findAllElements(QStringLiteral("div#ReportTable tr")).at(1);
    QCOMPARE(firstRow.findAll(QStringLiteral("td")).at(1).toPlainText(),
             QStringLiteral("2026-01-09 00:00-00:59"));
    QVERIFY(firstRow.findAll(QStringLiteral("td")).at(2).toPlainText().count(QLatin1Char('/')) ==
            2);
    QCOMPARE(firstRow.findAll(QStringLiteral("td")).at(5).toPlainText(), QString());

    QCOMPARE(frame->findFirstElement(QStringLiteral("input#minPeriod")).attribute("value"),
             QStringLiteral("1mm"));
    QCOMPARE(frame->evaluateJavaScript(QStringLiteral("reportChart.data.datasets.length")).toInt(),
             3);
    QVERIFY(!frame->findFirstElement(QStringLiteral("div#chartdiv canvas")).isNull());
    grabFor(report.get(), QStringLiteral("report-after"));
}

// Catches exports that are blank, lose the chart, span several PDF pages or miss their suffix.
void TestReport::exports()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    QVERIFY(QTest::qWaitForWindowExposed(report.get()));
    tick(report.get(), 0);
    tick(report.get(), 1);
    tick(report.get(), 2);
    QVERIFY(runReport(report.get()));

    QStringList titles;
    QStringList proposals;
    QString answer;
    report->desktop().saveFileName = [&](QWidget* parent, const QString& title,
                                         const QString& proposed, const QString& filter) {
        Q_UNUSED(filter);
        titles.append(title);
        proposals.append(proposed);
        return parent == report.get() ? answer : QString();
    };

    answer = dir->filePath(QStringLiteral("chart"));
    report->exportPrintPng();
    const QString png = answer + QStringLiteral(".png");
    QCOMPARE(opened, QStringList{png});
    QImage image(png);
    QVERIFY(!image.isNull());
    QVERIFY(image.height() > image.width());
    QVERIFY(countPixels(image, [](QRgb c) { return qGray(c) < 200; }) > 5000);
    QVERIFY(countPixels(image, reddish) > 100);
    QVERIFY(countPixels(image, greenish) > 100);
    QVERIFY(countPixels(image, bluish) > 100);
    const QString base = dir->path() + QStringLiteral("/cold store_");
    QVERIFY(proposals.last().startsWith(base));
    QVERIFY(proposals.last().endsWith(QStringLiteral(".png")));
    QCOMPARE(proposals.last().size(), base.size() + 14 + 4);
    grabFor(report.get(), QStringLiteral("report-exported"));
    if (!qEnvironmentVariableIsEmpty("QUILLMAR_GRAB_DIR"))
        QFile::copy(png, qEnvironmentVariable("QUILLMAR_GRAB_DIR") + QStringLiteral("/export.png"));

    answer = dir->filePath(QStringLiteral("sheet"));
    report->exportPrintPdf();
    const QString pdf = answer + QStringLiteral(".pdf");
    QCOMPARE(opened.last(), pdf);
    QVERIFY(QFileInfo(pdf).size() > 10000);
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    QVERIFY2(!pdftoppm.isEmpty(), "pdftoppm (poppler-utils) is needed");
    QProcess convert;
    convert.start(pdftoppm, {QStringLiteral("-r"), QStringLiteral("40"), QStringLiteral("-png"),
                             pdf, dir->filePath(QStringLiteral("page"))});
    QVERIFY(convert.waitForFinished(60000));
    QCOMPARE(convert.exitCode(), 0);
    const QStringList pages =
        QDir(dir->path()).entryList({QStringLiteral("page*.png")}, QDir::Files);
    QCOMPARE(pages.size(), 1);
    const QImage page(dir->filePath(pages.first()));
    QVERIFY(countPixels(page, [](QRgb c) { return qGray(c) < 200; }) > 500);
    QVERIFY(countPixels(page, reddish) > 5);
    if (!qEnvironmentVariableIsEmpty("QUILLMAR_GRAB_DIR"))
        QFile::copy(dir->filePath(pages.first()),
                    qEnvironmentVariable("QUILLMAR_GRAB_DIR") + QStringLiteral("/export-pdf.png"));

    answer = dir->filePath(QStringLiteral("page"));
    report->exportPrintHtml();
    const QString htm = answer + QStringLiteral(".htm");
    QCOMPARE(opened.last(), htm);
    QFile html(htm);
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(html.readAll());
    QVERIFY(content.contains(QStringLiteral("Daily Report")));
    QVERIFY(content.contains(QStringLiteral("2026-01-09 00:00-00:59")));

    answer = dir->filePath(QStringLiteral("named.html"));
    report->exportPrintHtml();
    QCOMPARE(opened.last(), answer);
    QVERIFY(QFile::exists(answer));
    QCOMPARE(titles, (QStringList{QStringLiteral("Export PNG"), QStringLiteral("Export PDF"),
                                  QStringLiteral("Export HTML"), QStringLiteral("Export HTML")}));

    // The tables, as the command line writes them (tst_reportcsv).
    answer = dir->filePath(QStringLiteral("tables.csv"));
    report->exportPrintCsv();
    QFile csv(opened.last());
    QVERIFY(opened.last() == answer && csv.open(QIODevice::ReadOnly));
    QVERIFY(csv.readLine().startsWith("Daily Report,2026-01-09 00:00:00,"));
}

void TestReport::exportCancelledOrUnwritable_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("html") << "html";
    QTest::newRow("pdf") << "pdf";
    QTest::newRow("png") << "png";
    QTest::newRow("csv") << "csv";
}

// Catches a cancelled dialog that still writes or opens a file, and an export whose file cannot
// be written that fails silently.
void TestReport::exportCancelledOrUnwritable()
{
    QFETCH(QString, format);
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    tick(report.get(), 0);
    QVERIFY(runReport(report.get()));
    QString answer;
    report->desktop().saveFileName = [&](QWidget*, const QString&, const QString&, const QString&) {
        return answer;
    };
    const QMap<QString, void (Report::*)()> exports{{"html", &Report::exportPrintHtml},
                                                    {"pdf", &Report::exportPrintPdf},
                                                    {"png", &Report::exportPrintPng},
                                                    {"csv", &Report::exportPrintCsv}};
    const auto exportAs = exports.value(format);
    (report.get()->*exportAs)();
    QVERIFY(opened.isEmpty());
    QVERIFY(visibleMessages(report.get()).isEmpty());

    answer = dir->filePath(QStringLiteral("no such folder/report.") + format);
    (report.get()->*exportAs)();
    QVERIFY(opened.isEmpty());
    QCOMPARE(visibleMessages(report.get()),
             QStringList{QStringLiteral("ERROR: Unable to open the file.")});
}

// Catches a web view that offers the engine's own menu, whose "Reload" wipes a made report.
void TestReport::noContextMenu()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    QVERIFY(QTest::qWaitForWindowExposed(report.get()));
    auto* view = report->findChild<QWidget*>(QStringLiteral("webView"));
    QVERIFY(view);
    // A menu runs its own event loop; the timer closes whatever pops up so the test goes on.
    QStringList menus;
    QTimer closer;
    connect(&closer, &QTimer::timeout, report.get(), [&menus] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            for (QAction* action : popup->actions())
                menus.append(action->text());
            popup->close();
        }
    });
    closer.start(50);
    const QPoint at = view->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->mapToGlobal(at));
    QCoreApplication::sendEvent(view, &event);
    QTest::qWait(200);
    QCOMPARE(menus, QStringList());
}

// Catches a period without samples that is shown as a report, or leaves the window locked.
void TestReport::notEnoughData()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    tick(report.get(), 4); // node 9999 has no samples
    QVERIFY(!runReport(report.get()));
    QCOMPARE(visibleMessages(report.get()), QStringList{QStringLiteral("ERROR: Not Enough Data.")});
    QVERIFY(report->findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_load"))
                ->isEnabled());
    QVERIFY(report->findChild<QListWidget*>(QStringLiteral("listWidget"))->isEnabled());
    QVERIFY(report->findChild<QLineEdit*>(QStringLiteral("lineEdit_subject"))->isEnabled());
    QVERIFY(report->findChildren<QProgressDialog*>().isEmpty());
    QSettings settings(projectPath, QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("ReportSubject")).toString(),
             QStringLiteral("Last subject"));
}

// Catches a failing worker that leaves the window locked or is reported as success.
void TestReport::workerError()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    QVERIFY(QFile::remove(databasePath));
    tick(report.get(), 0);
    QVERIFY(!runReport(report.get()));
    QCOMPARE(visibleMessages(report.get()),
             QStringList{QStringLiteral("ERROR: makeModels error.")});
    QVERIFY(!QFile::exists(databasePath));
    QVERIFY(report->findChild<QListWidget*>(QStringLiteral("listWidget"))->isEnabled());
    QVERIFY(!report->findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_load"))
                 ->isEnabled());
}

// Catches "New Report" starting something other than this program with the quoted path, or
// starting without a database.
void TestReport::newReport()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    report->slotNewReportProject();
    QCOMPARE(started, QStringList{QCoreApplication::applicationFilePath() + QStringLiteral(" '") +
                                  projectPath + QLatin1Char('\'')});
    QCOMPARE(ProjectPathArgument::unquote(started.first().section(' ', 1).split(' ')), projectPath);
    QVERIFY(visibleMessages(report.get()).isEmpty());

    startSucceeds = false;
    report->slotNewReportProject();
    QCOMPARE(visibleMessages(report.get()),
             QStringList{QStringLiteral("ERROR: Please check the Tallyforge execution file.")});

    QVERIFY(QFile::remove(databasePath));
    started.clear();
    report->slotNewReportProject();
    QVERIFY(started.isEmpty());
    QVERIFY(
        visibleMessages(report.get()).contains(QStringLiteral("ERROR: Database does not exist.")));
}

// Catches a title bar that does not drag the frameless window by the pointer's movement.
void TestReport::dragWindow()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    QVERIFY(QTest::qWaitForWindowExposed(report.get()));
    auto* bar = report->findChild<TopCustomFrame*>(QStringLiteral("menuFrame"));
    QVERIFY(bar);
    const QPoint before = report->pos();
    emit bar->customClick(QPoint(300, 300));
    emit bar->customMove(QPoint(330, 290));
    emit bar->customMove(QPoint(340, 295));
    QCOMPARE(report->pos(), before + QPoint(40, -5));
}

// Catches a preview slot that does not print the page onto the printer it is given.
void TestReport::printPreviewPrints()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    tick(report.get(), 0);
    QVERIFY(runReport(report.get()));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString file = dir->filePath(QStringLiteral("preview.pdf"));
    printer.setOutputFileName(file);
    report->printPreview(&printer);
    QVERIFY(QFileInfo(file).size() > 1000);
}

// Catches a report page made without a window (the command line) laid out at another size than
// the window's view gives it, which would make its PDF differ from the window's.
void TestReport::pageLaidOutAsWithoutWindow()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    QVERIFY(QTest::qWaitForWindowExposed(report.get()));
    auto* view = report->findChild<QWebView*>(QStringLiteral("webView"));
    QVERIFY(view);
    QCOMPARE(view->page()->viewportSize(), ReportWebPage::defaultViewportSize());
    QTRY_COMPARE(float(report->reportFrame()->zoomFactor()), float(ReportWebPage::PageZoom));
}

// Catches a window destroyed under a running worker (the thread object would go while it runs
// and its results would reach a deleted window).
void TestReport::closeWhileRunning()
{
    auto report =
        openWindow(QStringLiteral("2026-01-08 12:00:13"), QStringLiteral("2026-01-10 08:15:42"));
    QVERIFY(report);
    for (int row = 0; row < 4; ++row)
        tick(report.get(), row);
    QTest::mouseClick(
        report->findChild<QCommandLinkButton*>(QStringLiteral("commandLinkButton_load")),
        Qt::LeftButton);
    QVERIFY(!report->findChildren<QThread*>().isEmpty());
    report->close();
    report.reset();
    QCoreApplication::processEvents();
}

void TestReport::kinds_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("start"); // chosen in the start edit
    QTest::addColumn<QString>("periodStart");
    QTest::addColumn<QString>("periodEnd");
    QTest::addColumn<int>("rows"); // of the page's table, its header row included
    QTest::newRow("daily") << int(ReportKind::Daily) << "Daily Report" << kFormat
                           << "2026-01-09 00:00:00"
                           << "2026-01-09 00:00:00"
                           << "2026-01-09 23:59:59" << 25;
    QTest::newRow("weekly") << int(ReportKind::Weekly) << "Weekly Report"
                            << "yyyy-MM-dd"
                            << "2026-01-08 00:00:00"
                            << "2026-01-08 00:00:00"
                            << "2026-01-14 23:59:59" << 8;
    QTest::newRow("monthly, a day inside the month") << int(ReportKind::Monthly) << "Monthly Report"
                                                     << "yyyy-MM"
                                                     << "2026-01-09 00:00:00"
                                                     << "2026-01-01 00:00:00"
                                                     << "2026-01-31 23:59:59" << 32;
    QTest::newRow("HACCP, a day") << int(ReportKind::Haccp) << "HACCP Report"
                                  << "yyyy-MM-dd"
                                  << "2026-01-09 00:00:00"
                                  << "2026-01-09 00:00:00"
                                  << "2026-01-09 23:59:59" << 2;
    QTest::newRow("HACCP, a month before the recording's first day")
        << int(ReportKind::Haccp) << "HACCP Report"
        << "yyyy-MM"
        << "2026-01-09 00:00:00"
        << "2026-01-01 00:00:00"
        << "2026-01-31 23:59:59" << 32;
}

// Catches a report of days whose window offers a period other than its kind's, whose page
// keeps the daily title or rows, or a HACCP page without its limits, lists and signatures.
void TestReport::kinds()
{
    QFETCH(int, kind);
    QFETCH(QString, title);
    QFETCH(QString, format);
    QFETCH(QString, start);
    QFETCH(QString, periodStart);
    QFETCH(QString, periodEnd);
    QFETCH(int, rows);
    auto report = openWindow(QStringLiteral("2026-01-08 12:00:13"),
                             QStringLiteral("2026-01-10 08:15:42"), ReportKind(kind));
    QVERIFY(report);
    QCOMPARE(report->findChild<QLabel*>(QStringLiteral("label_title"))->text(), title.toUpper());
    auto* startEdit = report->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_start"));
    auto* endEdit = report->findChild<QDateTimeEdit*>(QStringLiteral("dateTimeEdit_end"));
    auto* span = report->findChild<QComboBox*>(QStringLiteral("comboBox_period"));
    QCOMPARE(span != nullptr, kind == int(ReportKind::Haccp));
    if (span && format == QLatin1String("yyyy-MM"))
        span->setCurrentText(QStringLiteral("Month"));
    QCOMPARE(startEdit->displayFormat(), format);
    startEdit->setDateTime(QDateTime::fromString(start, kFormat));
    QCOMPARE(startEdit->dateTime().toString(kFormat), periodStart);
    QCOMPARE(endEdit->dateTime().toString(kFormat), periodEnd);
    tick(report.get(), 0);
    tick(report.get(), 2);
    QVERIFY(runReport(report.get()));
    QWebFrame* frame = report->reportFrame();
    QCOMPARE(frame->findFirstElement(QStringLiteral("div.titleline div.title")).toPlainText(),
             title);
    QCOMPARE(frame->findAllElements(QStringLiteral("div#ReportTable tr")).count(), rows);
    QCOMPARE(frame->findFirstElement(QStringLiteral("div#ReportDuration")).toPlainText(),
             periodStart + QStringLiteral(" ~ ") + periodEnd);
    QVERIFY(!frame->findFirstElement(QStringLiteral("div#chartdiv canvas")).isNull());
    // Every kind ends with the period summary; the HACCP sections are the HACCP report's alone.
    const QString summary =
        frame->findFirstElement(QStringLiteral("div#PeriodSummary")).toPlainText();
    QVERIFY2(summary.startsWith(QStringLiteral("Period Summary")), qPrintable(summary));
    QString page = frame->toPlainText();
    page.remove(summary);
    for (const char* part :
         {"Critical Limits", "Excursions", "Data Gaps", "Checked by", "Corrective action"})
        QCOMPARE(page.contains(QLatin1String(part)), kind == int(ReportKind::Haccp));
    // "New Report" opens a window of the same kind.
    report->slotNewReportProject();
    QStringList arguments{QLatin1Char('\'') + projectPath + QLatin1Char('\'')};
    if (kind != int(ReportKind::Daily))
        arguments << QStringLiteral("--report") << ReportPeriod::kindName(ReportKind(kind));
    QCOMPARE(started, QStringList{QCoreApplication::applicationFilePath() + QLatin1Char(' ') +
                                  arguments.join(QLatin1Char(' '))});
    grabFor(report.get(), QStringLiteral("report-kind-%1").arg(kind));
}

// Catches a month squeezed onto one sheet, or a chart that is not on the first page.
void TestReport::monthPdfPages()
{
    auto report = openWindow(QStringLiteral("2026-01-08 12:00:13"),
                             QStringLiteral("2026-01-10 08:15:42"), ReportKind::Monthly);
    QVERIFY(report);
    tick(report.get(), 0);
    tick(report.get(), 2);
    QVERIFY(runReport(report.get()));
    const QString pdf = dir->filePath(QStringLiteral("month.pdf"));
    report->desktop().saveFileName = [&](QWidget*, const QString&, const QString&, const QString&) {
        return pdf;
    };
    report->exportPrintPdf();
    QCOMPARE(opened, QStringList{pdf});
    QProcess convert;
    convert.start(QStandardPaths::findExecutable(QStringLiteral("pdftoppm")),
                  {QStringLiteral("-r"), QStringLiteral("30"), QStringLiteral("-png"), pdf,
                   dir->filePath(QStringLiteral("month"))});
    QVERIFY(convert.waitForFinished(60000));
    const QStringList pages =
        QDir(dir->path()).entryList({QStringLiteral("month*.png")}, QDir::Files, QDir::Name);
    QCOMPARE(pages.size(), 2);
    QVERIFY(countPixels(QImage(dir->filePath(pages.first())), reddish) > 5);
    QVERIFY(countPixels(QImage(dir->filePath(pages.last())),
                        [](QRgb c) { return qGray(c) < 200; }) > 100);
}

void TestReport::fitsSmallScreen_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("made"); // with a report made
    QTest::newRow("daily") << int(ReportKind::Daily) << false;
    QTest::newRow("daily, made") << int(ReportKind::Daily) << true;
    QTest::newRow("HACCP") << int(ReportKind::Haccp) << false;
}

// Catches a report window larger than a 1280x720 screen less a desktop panel, one that cannot be
// made smaller, or one that leaves its inputs, buttons, list or page out of a window of that
// size or of its smallest size.
void TestReport::fitsSmallScreen()
{
    QFETCH(int, kind);
    QFETCH(bool, made);
    auto report = openWindow(QStringLiteral("2026-01-08 12:00:13"),
                             QStringLiteral("2026-01-10 08:15:42"), ReportKind(kind));
    QVERIFY(report);
    QVERIFY(QTest::qWaitForWindowExposed(report.get()));
    if (made) {
        tick(report.get(), 0);
        QVERIFY(runReport(report.get()));
    }
    QVERIFY2(report->width() <= WindowFit::SmallScreen.width() &&
                 report->height() <= WindowFit::SmallScreen.height(),
             qPrintable(QStringLiteral("%1x%2").arg(report->width()).arg(report->height())));
    const QSize smallest = WindowFit::smallest(report.get());
    QVERIFY2(smallest.width() <= 1024 && smallest.height() <= 600,
             qPrintable(QStringLiteral("%1x%2").arg(smallest.width()).arg(smallest.height())));
    for (const QSize& size : {WindowFit::SmallScreen, smallest}) {
        report->resize(size);
        QCOMPARE(report->size(), size);
        WindowFit::saveShot(report.get(), QStringLiteral("report-%1-%2x%3")
                                              .arg(QLatin1String(QTest::currentDataTag()))
                                              .arg(size.width())
                                              .arg(size.height()));
        const QStringList outside = WindowFit::outside(report.get());
        QVERIFY2(outside.isEmpty(), qPrintable(outside.join(QStringLiteral("; "))));
    }
    // Without a frame: a grip in the corner to change its size, and kept on a small screen.
    auto* grip = report->findChild<QSizeGrip*>();
    QVERIFY(grip && grip->isVisible());
    QVERIFY(grip->mapTo(report.get(), QPoint(grip->width(), grip->height())).manhattanLength() >=
            report->width() + report->height() - 8);
    report->resize(1240, 660);
    report->move(300, 200);
    report->fitInto(QRect(100, 50, 1024, 560));
    QCOMPARE(report->frameGeometry(), QRect(100, 50, 1024, 560));
    report->fitInto(QRect(0, 30, 640, 400));
    QCOMPARE(report->geometry(), QRect(QPoint(0, 30), smallest));
}

QTEST_MAIN(TestReport)
#include "tst_report.moc"
