#include "acknowledgedialog.h"
#include "ui_acknowledgedialog.h"

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
    : QDialog(parent), ui(std::make_unique<Ui::AcknowledgeDialog>())
{
    ui->setupUi(this);
    setWindowModality(Qt::WindowModal);
    ui->label_alarm->setText(alarmText);
    ui->lineEdit_name->setText(rememberedName());
    connect(ui->pushButton_confirm, &QPushButton::clicked, this, &AcknowledgeDialog::confirm);
    connect(ui->pushButton_cancel, &QPushButton::clicked, this, [this] {
        reject();
        deleteLater();
    });
    if (ui->lineEdit_name->text().isEmpty())
        ui->lineEdit_name->setFocus();
    else
        ui->plainTextEdit_comment->setFocus();
}

AcknowledgeDialog::~AcknowledgeDialog() = default;

void AcknowledgeDialog::setFixedName(const QString& name)
{
    m_fixedName = true;
    ui->lineEdit_name->setText(name);
    ui->lineEdit_name->setReadOnly(true);
    ui->plainTextEdit_comment->setFocus();
}

QString AcknowledgeDialog::rememberedName()
{
    return recorderSettings().value(NameKey).toString();
}

void AcknowledgeDialog::rememberName(const QString& name)
{
    recorderSettings().setValue(NameKey, name);
}

void AcknowledgeDialog::confirm()
{
    const QString name = ui->lineEdit_name->text().trimmed();
    if (name.isEmpty()) {
        showMessage(this, QStringLiteral("INFORMATION"), QStringLiteral("Enter your name."));
        return;
    }
    if (!m_fixedName)
        rememberName(name);
    emit acknowledged(name, ui->plainTextEdit_comment->toPlainText().trimmed());
    accept();
    deleteLater();
}
