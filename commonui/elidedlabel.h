#pragma once

#include <QLabel>

// A one-line label that, given less room than its text needs, shows the text elided in the
// middle, so that both ends stay readable (a status-bar note and its "(+N)"); text() is always
// the whole text. For plain text only.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // What the label shows at its present width.
    QString shownText() const;
    // Where the text gives way; the middle unless set.
    void setElideMode(Qt::TextElideMode mode);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode elideMode = Qt::ElideMiddle;
};
