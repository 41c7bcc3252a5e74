#pragma once

#include <QMessageBox>

// The recorder's about box: name, version, what the program does and where to get it. It is not
// modal, so that the recording cycle keeps running while it is open, and goes when closed.
class AboutBox : public QMessageBox
{
    Q_OBJECT

public:
    AboutBox(const QString& version, QWidget* parent);
};
