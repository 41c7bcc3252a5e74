#include "backupdialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

QSpinBox* countField(int least, int value, QWidget* parent)
{
    auto* field = new QSpinBox(parent);
    field->setRange(least, BackupSettings::MaxKeep);
    field->setValue(value);
    return field;
}

} // namespace

BackupDialog::BackupDialog(const BackupSettings& settings, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("BackupDialog"));
    setWindowTitle(QStringLiteral("Backups"));
    m_folder = new QLineEdit(settings.folder, this);
    m_folder->setObjectName(QStringLiteral("lineEdit_folder"));
    m_folder->setPlaceholderText(QStringLiteral("another disk or a network share; empty: off"));
    // A share's path is long: room for most of it.
    m_folder->setMinimumWidth(m_folder->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    connect(browse, &QPushButton::clicked, this, &BackupDialog::chooseFolder);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(browse);
    m_time = new QTimeEdit(settings.timeOfDay, this);
    m_time->setDisplayFormat(QStringLiteral("HH:mm"));
    m_daily = countField(1, settings.keepDaily, this);
    m_monthly = countField(0, settings.keepMonthly, this);
    m_yearly = countField(0, settings.keepYearly, this);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Folder:"), folderRow);
    form->addRow(QStringLiteral("Daily at:"), m_time);
    form->addRow(QStringLiteral("Daily copies kept:"), m_daily);
    form->addRow(QStringLiteral("Monthly copies kept:"), m_monthly);
    form->addRow(QStringLiteral("Yearly copies kept:"), m_yearly);
    auto* note = new QLabel(QStringLiteral("Each copy is checked (integrity and --verify); a "
                                           "copy that fails is kept aside as .bad."),
                            this);
    note->setWordWrap(true);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("label_problem"));
    m_problem->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0);"));
    m_problem->setWordWrap(true);
    m_problem->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    m_save = buttons->button(QDialogButtonBox::Save);
    connect(buttons, &QDialogButtonBox::accepted, this, &BackupDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
}

BackupSettings BackupDialog::settings() const
{
    BackupSettings s;
    s.folder = m_folder->text().trimmed();
    s.timeOfDay = m_time->time();
    s.keepDaily = m_daily->value();
    s.keepMonthly = m_monthly->value();
    s.keepYearly = m_yearly->value();
    return s;
}

QString BackupDialog::problemText() const
{
    return m_problem->isVisible() ? m_problem->text() : QString();
}

void BackupDialog::save()
{
    const QString problem = settings().problem();
    m_problem->setText(problem);
    m_problem->setVisible(!problem.isEmpty());
    if (problem.isEmpty())
        accept();
}

void BackupDialog::chooseFolder()
{
    // Not native: the desktop's dialog could wait on a share that does not answer.
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Backup folder"), m_folder->text(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (!folder.isEmpty())
        m_folder->setText(folder);
}
