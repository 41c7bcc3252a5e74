#include "acknowledgedialog.h"
#include "ui_acknowledgedialog.h"

#include "correctivecauses.h"
#include "messagedialog.h"

#include <QSettings>

namespace {

QSettings recorderSettings()
{
    return QSettings(QStringLiteral("QuillmarLite"), QStringLiteral("Quillmar Lite Modbus"));
}

const QString NameKey = QStringLiteral("Alarms/AcknowledgedBy");

} // namespace

AcknowledgeDialog::AcknowledgeDialog(const QString& alarmText, QWidget* parent)
    : AcknowledgeDialog(alarmText, QStringList(), parent)
{
}

AcknowledgeDialog::AcknowledgeDialog(const QString& alarmText, const QStringList& causes,
                                     QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::AcknowledgeDialog>())
{
    ui->setupUi(this);
    setWindowModality(Qt::WindowModal);
    ui->label_alarm->setText(alarmText);
    ui->lineEdit_name->setText(rememberedName());
    ui->comboBox_cause->addItems(causes.isEmpty() ? CorrectiveCauses::defaults() : causes);
    ui->comboBox_cause->setCurrentIndex(-1);
    ui->comboBox_product->addItems(CorrectiveAction::productChoices());
    ui->comboBox_product->setCurrentIndex(-1);
    connect(ui->comboBox_product, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &AcknowledgeDialog::updateQuantity);
    updateQuantity();
    connect(ui->pushButton_confirm, &QPushButton::clicked, this, &AcknowledgeDialog::confirm);
    connect(ui->pushButton_cancel, &QPushButton::clicked, this, [this] {
        reject();
        deleteLater();
    });
    if (ui->lineEdit_name->text().isEmpty())
        ui->lineEdit_name->setFocus();
    else
        ui->comboBox_cause->setFocus();
}

AcknowledgeDialog::~AcknowledgeDialog() = default;

void AcknowledgeDialog::setFixedName(const QString& name)
{
    m_fixedName = true;
    ui->lineEdit_name->setText(name);
    ui->lineEdit_name->setReadOnly(true);
    ui->comboBox_cause->setFocus();
}

QString AcknowledgeDialog::rememberedName()
{
    return recorderSettings().value(NameKey).toString();
}

void AcknowledgeDialog::rememberName(const QString& name)
{
    recorderSettings().setValue(NameKey, name);
}

// The quantity is asked only where it means something; one typed before a change of mind is
// not kept for product released or unaffected.
void AcknowledgeDialog::updateQuantity()
{
    const bool needed = CorrectiveAction::needsQuantity(ui->comboBox_product->currentText());
    ui->lineEdit_quantity->setEnabled(needed);
    ui->label_quantity->setEnabled(needed);
}

CorrectiveAction AcknowledgeDialog::action() const
{
    CorrectiveAction a;
    a.cause = ui->comboBox_cause->currentText();
    a.actionTaken = ui->plainTextEdit_action->toPlainText().trimmed();
    a.productAffected = ui->comboBox_product->currentText();
    if (CorrectiveAction::needsQuantity(a.productAffected))
        a.quantity = ui->lineEdit_quantity->text().trimmed();
    a.decidedBy = ui->lineEdit_decidedBy->text().trimmed();
    return a;
}

QString AcknowledgeDialog::problem() const
{
    if (ui->lineEdit_name->text().trimmed().isEmpty())
        return QStringLiteral("Enter your name.");
    const CorrectiveAction a = action();
    if (a.cause == CorrectiveCauses::other() && a.actionTaken.isEmpty())
        return QStringLiteral("Describe the cause in the action taken.");
    return a.problem();
}

void AcknowledgeDialog::confirm()
{
    const QString why = problem();
    if (!why.isEmpty()) {
        showMessage(this, QStringLiteral("INFORMATION"), why);
        return;
    }
    const QString name = ui->lineEdit_name->text().trimmed();
    if (!m_fixedName)
        rememberName(name);
    emit acknowledged(name, ui->plainTextEdit_comment->toPlainText().trimmed(), action());
    accept();
    deleteLater();
}
