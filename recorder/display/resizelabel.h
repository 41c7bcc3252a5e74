#pragma once

#include <QLabel>

// A label for large value texts: on every resize its font is scaled so the text fills the label
// less a margin of 10 pixels across and 8 down.
class ResizeLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ResizeLabel(QWidget *parent = nullptr);

    // Applies the font rule now, as a resize would; owners call it after changing the text.
    void applyFontRule();

    // The scale factor of the font rule for a text box tw x th in a label of width x height,
    // less the margins; not finite when the text box is empty.
    static float fontScale(int width, int height, int marginX, int marginY, int tw, int th);
    // Applies a scale to a font, whether it was sized in points or in pixels. False, and the font
    // untouched, when the scale cannot give a usable size.
    static bool scaleFont(QFont &font, float k);

protected:
    void resizeEvent(QResizeEvent *event) override;
};
