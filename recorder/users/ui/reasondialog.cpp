#include "reasondialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

ReasonDialog::ReasonDialog(const QString& what, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Reason for the change"));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(what + QStringLiteral("\nWhy? The reason is recorded with the change."),
                             this);
    label->setWordWrap(true);
    layout->addWidget(label);
    m_text = new QPlainTextEdit(this);
    m_text->setTabChangesFocus(true);
    layout->addWidget(m_text);
    m_count = new QLabel(this);
    layout->addWidget(m_count);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_text, &QPlainTextEdit::textChanged, this, &ReasonDialog::update);
    update();
    m_text->setFocus();
    setMinimumWidth(400);
}

bool ReasonDialog::ask(const QString& what, QString* reason, QWidget* parent)
{
    ReasonDialog dialog(what, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *reason = dialog.reason();
    return !reason->isEmpty();
}

QString ReasonDialog::cleaned(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text)
        result.append(c.category() == QChar::Other_Control ? QChar(' ') : c);
    result = result.simplified();
    return result.size() > MaximumLength ? QString() : result;
}

QString ReasonDialog::reason() const
{
    return cleaned(m_text->toPlainText());
}

void ReasonDialog::update()
{
    const int length = m_text->toPlainText().simplified().size();
    m_count->setText(QStringLiteral("%1 of at most %2 characters").arg(length).arg(MaximumLength));
    m_ok->setEnabled(!reason().isEmpty());
}
