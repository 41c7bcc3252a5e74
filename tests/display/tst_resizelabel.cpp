// Self-sizing labels.
#include <resizelabel.h>
#include <resizelabelunit.h>

#include <QtTest>

#include <cmath>
#include <memory>

class TstResizeLabel : public QObject
{
    Q_OBJECT

private slots:
    void textFillsLabel_data();
    void textFillsLabel();
    void fontScaleArithmetic_data();
    void fontScaleArithmetic();
    void emptyLabelKeepsFont();
    void degenerateSizesKeepAUsableFont_data();
    void degenerateSizesKeepAUsableFont();
    void pixelSizedFontScales();
};

void TstResizeLabel::textFillsLabel_data()
{
    QTest::addColumn<bool>("unit");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("size");
    QTest::newRow("value, wide label") << false << "23.45" << QSize(300, 60);
    QTest::newRow("value, tall label") << false << "23.45" << QSize(120, 200);
    QTest::newRow("value, long text") << false << "-1234.56" << QSize(200, 80);
    QTest::newRow("unit, wide label") << true << "%RH" << QSize(160, 30);
    QTest::newRow("unit, tall label") << true
                                      << QString::fromUtf8("\xC2\xB0"
                                                           "C")
                                      << QSize(40, 90);
    QTest::newRow("unit with mark-up, written as it is")
        << true << "m<sup>3</sup>/h" << QSize(160, 30);
    QTest::newRow("value with mark-up, written as it is") << false << "<b>7</b>" << QSize(200, 60);
}

// Fault caught: the font rule's arithmetic (margins, smaller of the two scales) getting the fit
// wrong, or a text from the project file drawn as rich text, its mark-up gone and the rest tiny.
void TstResizeLabel::textFillsLabel()
{
    QFETCH(bool, unit);
    QFETCH(QString, text);
    QFETCH(QSize, size);
    QWidget parent;
    parent.resize(400, 300);
    parent.show();
    std::unique_ptr<QLabel> label;
    if (unit)
        label = std::make_unique<ResizeLabelUnit>(&parent);
    else
        label = std::make_unique<ResizeLabel>(&parent);
    QFont f = label->font();
    f.setPointSizeF(9);
    label->setFont(f);
    label->setText(text);
    label->show();
    label->resize(size);
    const int mx = unit ? 0 : 10;
    const int my = unit ? 0 : 8;
    const QSize box = QFontMetrics(label->font()).size(0, text);
    const double fillW = double(box.width()) / (size.width() - mx);
    const double fillH = double(box.height()) / (size.height() - my);
    // One side fills the space (within font hinting), the other stays within it.
    QVERIFY2(
        qMax(fillW, fillH) > 0.85 && qMax(fillW, fillH) < 1.12,
        qPrintable(
            QStringLiteral("%1 %2 at %3pt").arg(fillW).arg(fillH).arg(label->font().pointSizeF())));
    // Applying the rule again (a resize and back) still fits: the rule scales whatever font it
    // finds.
    label->resize(size + QSize(1, 1));
    label->resize(size);
    const QSize again = QFontMetrics(label->font()).size(0, text);
    const double refit = qMax(double(again.width()) / (size.width() - mx),
                              double(again.height()) / (size.height() - my));
    QVERIFY2(refit > 0.85 && refit < 1.12, qPrintable(QString::number(refit)));
    // What is drawn is the text measured: its ink spans about the measured width.
    QImage ink(size, QImage::Format_ARGB32_Premultiplied);
    ink.fill(Qt::transparent);
    label->render(&ink, QPoint(), QRegion(), QWidget::DrawChildren);
    int left = size.width(), right = -1;
    for (int y = 0; y < ink.height(); ++y)
        for (int x = 0; x < ink.width(); ++x)
            if (qAlpha(ink.pixel(x, y)) > 64) {
                left = qMin(left, x);
                right = qMax(right, x);
            }
    QVERIFY2(right - left + 1 > 0.75 * again.width(),
             qPrintable(QStringLiteral("%1 of %2").arg(right - left + 1).arg(again.width())));
}

void TstResizeLabel::fontScaleArithmetic_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("margins"); // 1: 10 and 8 (values), 0: none (units)
    QTest::addColumn<float>("expected");
    // Text box 50 x 20 throughout.
    QTest::newRow("both sides agree") << 110 << 48 << 1 << 2.0f;
    QTest::newRow("height limits") << 210 << 48 << 1 << 2.0f;
    QTest::newRow("width limits") << 60 << 108 << 1 << 1.0f;
    QTest::newRow("unit label, no margins") << 100 << 60 << 0 << 2.0f;
    QTest::newRow("narrower than the margin counts as its size") << 5 << 48 << 1 << 0.1f;
}

// Fault caught: margins applied to the wrong side, or the larger scale taken, so text overflows.
void TstResizeLabel::fontScaleArithmetic()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, margins);
    QFETCH(float, expected);
    QCOMPARE(ResizeLabel::fontScale(width, height, margins * 10, margins * 8, 50, 20), expected);
}

// Fault caught: an empty label shrinking or blowing up its font (a division by a zero-width text).
void TstResizeLabel::emptyLabelKeepsFont()
{
    QWidget parent;
    parent.show();
    ResizeLabel label(&parent);
    ResizeLabelUnit unit(&parent);
    label.show();
    unit.show();
    const QFont before = label.font();
    label.resize(300, 100);
    unit.resize(300, 100);
    QCOMPARE(label.font(), before);
    QCOMPARE(unit.font(), before);
}

void TstResizeLabel::degenerateSizesKeepAUsableFont_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("width equal to the margin") << QSize(10, 50);
    QTest::newRow("height equal to the margin") << QSize(100, 8);
    QTest::newRow("zero size") << QSize(0, 0);
}

// Fault caught: a zero scale setting a zero point size, after which the label never recovers.
void TstResizeLabel::degenerateSizesKeepAUsableFont()
{
    QFETCH(QSize, size);
    QWidget parent;
    parent.show();
    ResizeLabel label(&parent);
    label.show();
    label.setText(QStringLiteral("42.00"));
    label.resize(200, 60);
    const double fitted = label.font().pointSizeF();
    label.resize(size);
    QVERIFY(label.font().pointSizeF() >= 1.0);
    label.resize(200, 60);
    QVERIFY(qAbs(label.font().pointSizeF() - fitted) / fitted < 0.15);
    // A text box without extent gives no usable scale; the font is left alone.
    QFont f = label.font();
    QVERIFY(!std::isfinite(ResizeLabel::fontScale(100, 50, 10, 8, 0, 0)));
    QVERIFY(!ResizeLabel::scaleFont(f, ResizeLabel::fontScale(100, 50, 10, 8, 0, 0)));
    QVERIFY(!ResizeLabel::scaleFont(f, 0.0f));
    QCOMPARE(f, label.font());
}

// Fault caught: a font set in pixels (no point size) turned into a negative point size.
void TstResizeLabel::pixelSizedFontScales()
{
    QWidget parent;
    parent.show();
    ResizeLabel label(&parent);
    label.show();
    QFont f = label.font();
    f.setPixelSize(12);
    label.setFont(f);
    label.setText(QStringLiteral("88.88"));
    label.resize(400, 120);
    QVERIFY(label.font().pixelSize() > 40);
}

QTEST_MAIN(TstResizeLabel)
#include "tst_resizelabel.moc"
