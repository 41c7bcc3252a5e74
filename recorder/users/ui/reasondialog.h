#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// "Reason for the change": asked for each change under access control, recorded with it in the
// audit trail. A reason is needed (blank is not one), on at most MaximumLength characters.
class ReasonDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int MaximumLength = 500;

    // `what` names the change ("Change the limits of node 1001").
    explicit ReasonDialog(const QString& what, QWidget* parent = nullptr);

    // Shows the dialog modally; true with the reason, false when cancelled.
    static bool ask(const QString& what, QString* reason, QWidget* parent);
    // The reason as recorded: trimmed, control characters as spaces; empty when there is none
    // or it is too long.
    static QString cleaned(const QString& text);

    QString reason() const;
    QPlainTextEdit* textEdit() const { return m_text; }
    QPushButton* okButton() const { return m_ok; }

private:
    void update();

    QPlainTextEdit* m_text = nullptr;
    QLabel* m_count = nullptr;
    QPushButton* m_ok = nullptr;
};
