#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class MessageDialog;
}

// The message box through which screens report recoverable problems and notices. Each program
// sets its own window title and logo on its application object once at start (setProgramLook),
// before any dialog is built; without it a dialog has the recorder's look.
class MessageDialog : public QDialog
{
    Q_OBJECT

public:
    MessageDialog(const QString& caption, const QString& text, QWidget* parent = nullptr);
    ~MessageDialog() override;

    static void setProgramLook(const QString& windowTitle, const QString& logoPath);
    static QString programTitle();
    static QString programLogo();

private:
    std::unique_ptr<Ui::MessageDialog> ui;
};

// Shows a MessageDialog without blocking and closes it after 5000 ms. The dialog lives until
// its parent goes; one without a parent deletes itself when closed.
MessageDialog* showMessage(QWidget* parent, const QString& title, const QString& text);
