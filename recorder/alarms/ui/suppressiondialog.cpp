#include "suppressiondialog.h"
#include "ui_suppressiondialog.h"

#include "alarmshelves.h"

#include <QPushButton>

namespace {

QString durationText(int seconds)
{
    return seconds < 3600    ? QStringLiteral("%1 minutes").arg(seconds / 60)
           : seconds == 3600 ? QStringLiteral("1 hour")
                             : QStringLiteral("%1 hours").arg(seconds / 3600);
}

} // namespace

SuppressionDialog::SuppressionDialog(Mode mode, const QString& what, const QDateTime& now,
                                     QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::SuppressionDialog>()), m_mode(mode), m_now(now)
{
    ui->setupUi(this);
    setWindowModality(Qt::WindowModal);
    const bool shelve = mode == Mode::Shelve;
    setWindowTitle(shelve ? QStringLiteral("Shelve alarms") : QStringLiteral("Out of service"));
    ui->label_what->setText(what);
    ui->label_duration->setVisible(shelve);
    ui->comboBox_duration->setVisible(shelve);
    ui->label_until->setVisible(!shelve);
    ui->dateTimeEdit_until->setVisible(!shelve);
    for (const int seconds : offeredSeconds())
        ui->comboBox_duration->addItem(durationText(seconds), seconds);
    ui->comboBox_duration->setCurrentIndex(ui->comboBox_duration->findData(3600));
    const QDateTime local = now.toLocalTime();
    ui->dateTimeEdit_until->setMinimumDateTime(local.addSecs(60));
    ui->dateTimeEdit_until->setMaximumDateTime(local.addDays(AlarmShelves::MaxOutOfServiceDays));
    ui->dateTimeEdit_until->setDateTime(local.addSecs(2 * 3600));
    ui->lineEdit_reason->setMaxLength(AlarmShelves::MaxReasonLength);
    connect(ui->lineEdit_reason, &QLineEdit::textChanged, this, &SuppressionDialog::updateButtons);
    connect(ui->pushButton_confirm, &QPushButton::clicked, this, [this] {
        emit confirmed(seconds(), until(), reason());
        accept();
        deleteLater();
    });
    connect(ui->pushButton_cancel, &QPushButton::clicked, this, [this] {
        reject();
        deleteLater();
    });
    ui->lineEdit_reason->setFocus();
    updateButtons();
}

SuppressionDialog::~SuppressionDialog() = default;

QList<int> SuppressionDialog::offeredSeconds()
{
    return {15 * 60,  30 * 60,  3600,      2 * 3600,
            4 * 3600, 8 * 3600, 12 * 3600, AlarmShelves::MaxShelveSeconds};
}

int SuppressionDialog::seconds() const
{
    return m_mode == Mode::Shelve ? ui->comboBox_duration->currentData().toInt() : 0;
}

QDateTime SuppressionDialog::until() const
{
    return m_mode == Mode::Shelve ? m_now.addSecs(seconds()) : ui->dateTimeEdit_until->dateTime();
}

QString SuppressionDialog::reason() const
{
    return ui->lineEdit_reason->text().trimmed();
}

void SuppressionDialog::updateButtons()
{
    ui->pushButton_confirm->setEnabled(!reason().isEmpty());
}
