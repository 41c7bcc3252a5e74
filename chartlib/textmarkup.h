#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QVector>

class QPainter;

// One line of mark-up text laid out for painting: "<*block*>" groups, "<*font,...*>" style spans
// with color and bgColor, "<*font=arialbd.ttf*>" font changes, "<*/font*>" and "<*/*>" closers,
// and "<*swatch=RRGGBB*>" legend icons. Everything flows left to right on one line.
class TextMarkup
{
public:
    TextMarkup(const QString &markup, const QString &fontFile, double fontSize);

    // Maps a font file name to a system font: "arial.ttf" to sans-serif, "arialbd.ttf" to bold.
    static QFont fontFor(const QString &fontFile, double fontSize);

    int width() const;
    int height() const;
    // Paints with the top-left corner at (x, y); runs without their own colour take textColor.
    void paint(QPainter &painter, int x, int y, const QColor &textColor) const;
    // The plain text of all runs, for diagnostics and tests.
    QString plainText() const;

private:
    struct Run
    {
        QString text;
        QFont font;
        QColor color;
        QColor background;
        QColor swatch;
        qreal x = 0;
        qreal width = 0;
    };
    struct Style
    {
        bool block = false;
        QString fontFile;
        double size = 8;
        QColor color;
        QColor background;
    };

    void applyTag(const QString &tag, QVector<Style> &stack);
    void addText(const QString &text, const Style &style);

    QVector<Run> m_runs;
    qreal m_width = 0;
    qreal m_ascent = 0;
    qreal m_height = 0;
};
