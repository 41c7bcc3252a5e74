// Mark-up text: tags, spans and measurement.
#include <chartapi.h>
#include <drawarea.h>
#include <textmarkup.h>

#include <QImage>
#include <QPainter>
#include <QtTest>

namespace {

QImage paint(const TextMarkup &m)
{
    QImage img(m.width() + 4, m.height() + 4, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    m.paint(p, 2, 2, Qt::black);
    return img;
}

int countColor(const QImage &img, QRgb color)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += (img.pixel(x, y) & 0xFFFFFF) == (color & 0xFFFFFF) ? 1 : 0;
    return n;
}

} // namespace

class TstTextMarkup : public QObject
{
    Q_OBJECT

private slots:
    void plainText_data();
    void plainText();
    void spansEndWhereTheySay_data();
    void spansEndWhereTheySay();
    void blocksSitSideBySide();
    void fontFilesMapToSansSerif();
};

void TstTextMarkup::plainText_data()
{
    QTest::addColumn<QString>("markup");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << "abc" << "abc";
    QTest::newRow("legend entry") << "<*block*><*swatch=ff0000*> CH1: <*font,bgColor=ff0000*> N/A <*font*><*/*>"
                                  << " CH1:  N/A ";
    QTest::newRow("date line") << "<*block*><*font=arialbd.ttf*>[ 2025-12-06 05:46:40 ]<*/*><*/*>"
                               << "[ 2025-12-06 05:46:40 ]";
    QTest::newRow("unknown tag dropped") << "a<*img=x.png*>b" << "ab";
    QTest::newRow("unterminated tag kept as text") << "a<*font" << "a<*font";
    QTest::newRow("stray closers") << "<*/*><*/font*>x<*/*>" << "x";
}

// Fault caught: tags leaking into the text shown, or text lost around them.
void TstTextMarkup::plainText()
{
    QFETCH(QString, markup);
    QFETCH(QString, text);
    QCOMPARE(TextMarkup(markup, QStringLiteral("arial.ttf"), 8).plainText(), text);
}

void TstTextMarkup::spansEndWhereTheySay_data()
{
    QTest::addColumn<QString>("closer");
    QTest::newRow("<*/font*>") << "<*/font*>";
    QTest::newRow("<*font*>") << "<*font*>";
    QTest::newRow("<*/*>") << "<*/*>";
}

// Fault caught: a background span running on past its closing tag (the whole legend coloured).
void TstTextMarkup::spansEndWhereTheySay()
{
    QFETCH(QString, closer);
    const TextMarkup inside(QStringLiteral("<*font,bgColor=00ff00*>MMMM"), QStringLiteral("arial.ttf"), 8);
    const TextMarkup closed(QStringLiteral("<*font,bgColor=00ff00*>MMMM") + closer + QStringLiteral("MMMM"),
                            QStringLiteral("arial.ttf"), 8);
    QVERIFY(closed.width() > inside.width());
    const int green = countColor(paint(inside), qRgb(0, 255, 0));
    QVERIFY(green > 0);
    // Same green area with the unstyled text after the closer.
    QVERIFY(qAbs(countColor(paint(closed), qRgb(0, 255, 0)) - green) <= inside.height());
}

// Fault caught: blocks overlapping, so the legend entries write over one another.
void TstTextMarkup::blocksSitSideBySide()
{
    const QString font = QStringLiteral("arial.ttf");
    const TextMarkup a(QStringLiteral("<*block*>View Length : 240 samples<*/*>"), font, 8);
    const TextMarkup b(QStringLiteral("<*block*>   Interval : 10 sec <*/*>"), font, 8);
    const TextMarkup both(QStringLiteral("<*block*><*block*>View Length : 240 samples<*/*>"
                                         "<*block*>   Interval : 10 sec <*/*><*/*>"),
                          font, 8);
    QVERIFY(qAbs(both.width() - (a.width() + b.width())) <= 2);
    QCOMPARE(both.height(), a.height());
    // The panel leaves 240 pixels for this line.
    QVERIFY2(both.width() <= 240, qPrintable(QString::number(both.width())));
}

// Fault caught: bold requested by file name not honoured, or sizes not scaling.
void TstTextMarkup::fontFilesMapToSansSerif()
{
    QVERIFY(!TextMarkup::fontFor(QStringLiteral("arial.ttf"), 8).bold());
    QVERIFY(TextMarkup::fontFor(QStringLiteral("arialbd.ttf"), 8).bold());
    QVERIFY(TextMarkup::fontFor(QStringLiteral("ARIALBD.TTF"), 8).bold());
    QVERIFY(TextMarkup::fontFor(QStringLiteral("ariali.ttf"), 8).italic());
    QVERIFY(TextMarkup::fontFor(QStringLiteral("arial.ttf"), 16).pixelSize()
            > TextMarkup::fontFor(QStringLiteral("arial.ttf"), 8).pixelSize());
    const TextMarkup bold(QStringLiteral("<*font=arialbd.ttf*>Interval"), QStringLiteral("arial.ttf"), 8);
    const TextMarkup regular(QStringLiteral("Interval"), QStringLiteral("arial.ttf"), 8);
    QVERIFY(bold.width() > regular.width());
}

QTEST_MAIN(TstTextMarkup)
#include "tst_textmarkup.moc"
