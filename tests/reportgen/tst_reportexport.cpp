#include "haccppage.h"
#include "reportexport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPrinter>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWebFrame>
#include <QWebPage>
#include <QtTest>

namespace {

// The blue of a table's header row (and of a section title's letters, far fewer of them).
bool headerBlue(QRgb c)
{
    return qRed(c) < 70 && qGreen(c) > 100 && qGreen(c) < 170 && qBlue(c) > 160;
}

// Of the lowest `band` pixel rows that hold anything on the page, the share that is header blue.
double blueAtFoot(const QImage& page, int band)
{
    int last = page.height() - 1;
    auto blank = [&page](int y) {
        for (int x = 0; x < page.width(); ++x) {
            if (qGray(page.pixel(x, y)) < 245)
                return false;
        }
        return true;
    };
    while (last > 0 && blank(last))
        --last;
    int blue = 0;
    for (int y = qMax(0, last - band); y < last; ++y) {
        for (int x = 0; x < page.width(); ++x)
            blue += headerBlue(page.pixel(x, y)) ? 1 : 0;
    }
    return double(blue) / double(band * page.width());
}

} // namespace

// The PDF of a report of days: where its pages end.
class TestReportExport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void headerRowNeverAloneAtFoot_data();
    void headerRowNeverAloneAtFoot();
    void correctiveActionsOnPage_data();
    void correctiveActionsOnPage();

private:
    std::unique_ptr<QTemporaryDir> dir;
};

void TestReportExport::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestReportExport::headerRowNeverAloneAtFoot_data()
{
    // Space above the HACCP report's event table, in pixels of the page, every 4 px: the sweep
    // moves its header row across the foot of the first page (where the page ended below it).
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    // Through the window's Print and Print preview (onto the printer they set up) rather than
    // to a PDF file; the engine's own pagination left the header row alone at 776 to 800 px.
    QTest::addColumn<bool>("printed");
    QTest::newRow("event table across the foot of page 1") << 548 << 620 << false;
    QTest::newRow("printed: event table across the foot of page 1") << 548 << 820 << true;
}

// Catches: a page of the PDF (or of the print) that ends right below the HACCP event table's
// header row (or any table's), leaving the header alone at the foot with its rows on the next
// page.
void TestReportExport::headerRowNeverAloneAtFoot()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, printed);
    QFile form(QStringLiteral(":/assets/reportform.html"));
    QVERIFY(form.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(form.readAll());
    ReportTables tables;
    tables.alarmLog = true;
    for (int n = 0; n < 12; ++n) {
        AlarmEventRecord event;
        event.id = n + 1;
        event.serial = QStringLiteral("W%1").arg(n % 3);
        event.channel = 1;
        event.limit = 8;
        event.start = 1774742400 + n * 3600;
        event.raised = event.start + 60;
        event.end = event.start + 900;
        event.ended = AlarmEnd::Cleared;
        event.extremeValue = 10.5;
        event.comment = QStringLiteral("Door closed");
        tables.alarmEvents.append(event);
    }
    const QString events = HaccpPage::alarmEventsSection({}, tables);
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    QVERIFY2(!pdftoppm.isEmpty(), "pdftoppm (poppler-utils) is needed");
    for (int space = from; space <= to; space += 4) {
        const QString filled = QString(page).replace(
            QStringLiteral("<div id=\"ReportTable\" class=\"reportbox\"></div>"),
            QStringLiteral("<div id=\"ReportTable\" class=\"reportbox\"><div style='height:%1px'>"
                           "</div>")
                    .arg(space) +
                events + QStringLiteral("</div>"));
        QVERIFY(filled != page);
        QWebPage web;
        web.setViewportSize(QSize(1000, 800));
        QSignalSpy loaded(web.mainFrame(), &QWebFrame::loadFinished);
        web.mainFrame()->setHtml(filled);
        QVERIFY(loaded.size() > 0 || loaded.wait(20000));
        const QString pdf = dir->filePath(QStringLiteral("haccp-%1.pdf").arg(space));
        if (printed) {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            printer.setPageSize(QPageSize(QPageSize::A4));
            printer.setPageOrientation(QPageLayout::Portrait);
            printer.setFullPage(true);
            QVERIFY(ReportExport(&web, ReportKind::Haccp).print(&printer));
        } else {
            QVERIFY(ReportExport(&web, ReportKind::Haccp).writePdf(pdf));
        }
        const QString prefix = dir->filePath(QStringLiteral("page-%1").arg(space));
        QProcess convert;
        convert.start(pdftoppm, {QStringLiteral("-r"), QStringLiteral("60"), QStringLiteral("-png"),
                                 pdf, prefix});
        QVERIFY(convert.waitForFinished(60000));
        const QStringList pages =
            QDir(dir->path())
                .entryList({QStringLiteral("page-%1-*.png").arg(space)}, QDir::Files, QDir::Name);
        QVERIFY(pages.size() >= 2);
        for (int p = 0; p + 1 < pages.size(); ++p) {
            // A header row at the foot fills its band with blue (0.69 of it); a data row there
            // has grey lines and letters only.
            const double blue = blueAtFoot(QImage(dir->filePath(pages.at(p))), 8);
            QVERIFY2(blue < 0.2, qPrintable(QStringLiteral("%1 px above the table: page %2 ends "
                                                           "with a header row (%3 blue)")
                                                .arg(space)
                                                .arg(p + 1)
                                                .arg(blue)));
        }
    }
}

void TestReportExport::correctiveActionsOnPage_data()
{
    // cause, action taken, product affected, quantity, decided by; empty: none recorded
    QTest::addColumn<QStringList>("action");
    QTest::addColumn<bool>("acknowledged");
    QTest::addColumn<QString>("signature"); // empty: not signed
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("absent");

    const QString signedBy = QStringLiteral("Olga Berg (olga), 29.03.2026 08:15:00 CEST, "
                                            "acknowledged");
    // Catches: a field of the corrective action, the quantity or the signature missing on paper.
    QTest::newRow("signed, product quarantined")
        << QStringList{"door left open", "closed the door", "quarantined", "12 boxes", "Sam"}
        << true << signedBy
        << QStringList{"Cause: door left open", "Action taken: closed the door",
                       "Product affected: quarantined (12 boxes)", "Decided by: Sam",
                       "Signature: " + signedBy}
        << QStringList{"unsigned"};
    // Catches: an acknowledgement without a signature printed as if signed.
    QTest::newRow("unsigned, nothing affected")
        << QStringList{"defrost", "", "none", "", ""} << true << QString()
        << QStringList{"Cause: defrost", "Product affected: none", "Signature: unsigned"}
        << QStringList{"Decided by", "Action taken"};
    // Catches: an older acknowledgement without an action printed with empty fields.
    QTest::newRow("acknowledged before corrective actions")
        << QStringList() << true << QString()
        << QStringList{"no corrective action recorded", "Signature: unsigned"}
        << QStringList{"Cause:", "Product affected"};
    // Catches: a line of action and signature under an alarm nobody acknowledged.
    QTest::newRow("not acknowledged") << QStringList() << false << QString()
                                      << QStringList{"not acknowledged"}
                                      << QStringList{"Signature", "corrective action"};
}

// The HACCP event table as the exported page lays it out.
void TestReportExport::correctiveActionsOnPage()
{
    QFETCH(QStringList, action);
    QFETCH(bool, acknowledged);
    QFETCH(QString, signature);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, absent);
    QFile form(QStringLiteral(":/assets/reportform.html"));
    QVERIFY(form.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(form.readAll());
    ReportTables tables;
    tables.alarmLog = true;
    AlarmEventRecord event;
    event.id = 4;
    event.serial = QStringLiteral("W1");
    event.channel = 1;
    event.limit = 8;
    event.start = 1774742400;
    event.raised = event.start + 60;
    event.end = event.start + 900;
    event.ended = AlarmEnd::Cleared;
    event.extremeValue = 10.5;
    if (acknowledged) {
        event.acknowledgedAt = event.start + 600;
        event.acknowledgedBy = QStringLiteral("Kim");
    }
    if (!action.isEmpty())
        event.action = {action.at(0), action.at(1), action.at(2), action.at(3), action.at(4)};
    tables.alarmEvents.append(event);
    if (!signature.isEmpty())
        tables.alarmSignatures.insert(event.id, signature);
    const QString filled = QString(page).replace(
        QStringLiteral("<div id=\"ReportTable\" class=\"reportbox\"></div>"),
        QStringLiteral("<div id=\"ReportTable\" class=\"reportbox\">") +
            HaccpPage::alarmEventsSection({}, tables) + QStringLiteral("</div>"));
    QVERIFY(filled != page);
    QWebPage web;
    web.setViewportSize(QSize(1000, 800));
    QSignalSpy loaded(web.mainFrame(), &QWebFrame::loadFinished);
    web.mainFrame()->setHtml(filled);
    QVERIFY(loaded.size() > 0 || loaded.wait(20000));
    const QString pdf = dir->filePath(QStringLiteral("events.pdf"));
    QVERIFY(ReportExport(&web, ReportKind::Haccp).writePdf(pdf));
    QVERIFY(QFileInfo(pdf).size() > 0);
    // The PDF holds the page as a picture (pdftotext finds no text in it): what it pictures is
    // the page's text as laid out for it.
    // Lines broken where the page wraps them read as one.
    const QString text = web.mainFrame()->toPlainText().simplified();
    QVERIFY2(text.contains(QLatin1String("Alarm Events")), qPrintable(text));
    for (const QString& part : expected)
        QVERIFY2(text.contains(part), qPrintable(part + QStringLiteral(" not in: ") + text));
    for (const QString& part : absent)
        QVERIFY2(!text.contains(part), qPrintable(part + QStringLiteral(" in: ") + text));
}

QTEST_MAIN(TestReportExport)
#include "tst_reportexport.moc"
