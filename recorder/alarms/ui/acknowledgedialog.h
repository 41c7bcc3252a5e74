#pragma once

#include "correctiveaction.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>

namespace Ui {
class AcknowledgeDialog;
}

// Asks who acknowledges an alarm and the corrective action: the cause (from the project's list,
// "other" described in the action taken), the action taken, what became of the product affected
// and how much of it, who decided, and a free comment. The name is remembered for the user (in
// the recorder's settings) and offered the next time. Shown without blocking; it deletes itself
// when confirmed or cancelled. It only answers: whoever opened it writes (or first has it
// signed).
class AcknowledgeDialog : public QDialog
{
    Q_OBJECT

public:
    // `causes` as CorrectiveCauses gives them; none: its defaults.
    AcknowledgeDialog(const QString& alarmText, const QStringList& causes = QStringList(),
                      QWidget* parent = nullptr);
    AcknowledgeDialog(const QString& alarmText, QWidget* parent);
    ~AcknowledgeDialog() override;

    // The name of the user signed in, shown and not to be changed (nor remembered).
    void setFixedName(const QString& name);

    // The corrective action as the form holds it now.
    CorrectiveAction action() const;
    // Empty when the form may be confirmed, else what to correct first.
    QString problem() const;

    static QString rememberedName();
    static void rememberName(const QString& name);

signals:
    void acknowledged(const QString& name, const QString& comment,
                      const CorrectiveAction& action);

public slots:
    void confirm();

private:
    void updateQuantity();

    std::unique_ptr<Ui::AcknowledgeDialog> ui;
    bool m_fixedName = false;
};
