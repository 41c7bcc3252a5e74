#include "reviewdialog.h"

#include "auditreviewtable.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

ReviewDialog::ReviewDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Review of the audit trail"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    const QDate today = QDate::currentDate();
    m_from = new QDateEdit(today.addDays(-7), this);
    m_to = new QDateEdit(today, this);
    for (QDateEdit* edit : {m_from, m_to}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
    }
    m_comment = new QPlainTextEdit(this);
    form->addRow(QStringLiteral("From (first day):"), m_from);
    form->addRow(QStringLiteral("To (last day):"), m_to);
    form->addRow(QStringLiteral("Comment:"), m_comment);
    layout->addLayout(form);
    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #b00020;"));
    layout->addWidget(m_message);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ReviewDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void ReviewDialog::accept()
{
    if (m_to->date() < m_from->date()) {
        m_message->setText(QStringLiteral("The last day is before the first."));
        return;
    }
    if (m_comment->toPlainText().size() > AuditReviewTable::MaxComment) {
        m_message->setText(QStringLiteral("The comment is longer than %1 characters.")
                               .arg(AuditReviewTable::MaxComment));
        return;
    }
    QDialog::accept();
}

bool ReviewDialog::ask(QWidget* parent, QDate* from, QDate* to, QString* comment)
{
    ReviewDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *from = dialog.m_from->date();
    *to = dialog.m_to->date();
    *comment = dialog.m_comment->toPlainText();
    return true;
}
