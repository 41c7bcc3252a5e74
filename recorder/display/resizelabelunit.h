#pragma once

#include <QLabel>

// A label for unit texts: like ResizeLabel, but the text fills the whole label, without margins.
class ResizeLabelUnit : public QLabel
{
    Q_OBJECT

public:
    explicit ResizeLabelUnit(QWidget *parent = nullptr);

    void applyFontRule();

protected:
    void resizeEvent(QResizeEvent *event) override;
};
