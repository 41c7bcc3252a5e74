#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class AcknowledgeDialog;
}

// Asks who acknowledges an alarm and what was done about it. The name is remembered for the
// user (in the recorder's settings) and offered the next time. Shown without blocking; it
// deletes itself when confirmed or cancelled.
class AcknowledgeDialog : public QDialog
{
    Q_OBJECT

public:
    AcknowledgeDialog(const QString& alarmText, QWidget* parent = nullptr);
    ~AcknowledgeDialog() override;

    // The name of the user signed in, shown and not to be changed (nor remembered).
    void setFixedName(const QString& name);

    static QString rememberedName();
    static void rememberName(const QString& name);

signals:
    void acknowledged(const QString& name, const QString& comment);

public slots:
    void confirm();

private:
    std::unique_ptr<Ui::AcknowledgeDialog> ui;
    bool m_fixedName = false;
};
