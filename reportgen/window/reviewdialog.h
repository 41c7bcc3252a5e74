#pragma once

#include <QDate>
#include <QDialog>
#include <QString>

class QDateEdit;
class QLabel;
class QPlainTextEdit;

// "Review...": the whole local days of the audit trail a Supervisor reviewed and a comment. The
// signature is asked for afterwards.
class ReviewDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ReviewDialog(QWidget* parent = nullptr);

    // Shows the dialog modally; true with the period and comment when confirmed.
    static bool ask(QWidget* parent, QDate* from, QDate* to, QString* comment);

    QDateEdit* fromEdit() const { return m_from; }
    QDateEdit* toEdit() const { return m_to; }
    QPlainTextEdit* commentEdit() const { return m_comment; }
    QLabel* messageLabel() const { return m_message; }

public slots:
    void accept() override;

private:
    QDateEdit* m_from;
    QDateEdit* m_to;
    QPlainTextEdit* m_comment;
    QLabel* m_message;
};
