#include "reportscheduledialog.h"

#include "mailaddress.h"
#include "notificationsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

const char* const Names[] = {"daily", "weekly", "monthly"};

} // namespace

ReportScheduleDialog::ReportScheduleDialog(const QString& projectPath, const QString& mailNote,
                                           QWidget* parent)
    : QDialog(parent), m_projectPath(projectPath)
{
    setWindowTitle(QStringLiteral("Report schedule"));
    setObjectName(QStringLiteral("ReportScheduleDialog"));
    auto* layout = new QVBoxLayout(this);

    auto* reports = new QGroupBox(QStringLiteral("Reports made and mailed by the recorder"));
    auto* grid = new QGridLayout(reports);
    const QString texts[] = {QStringLiteral("Daily report (the day before)"),
                             QStringLiteral("Weekly report (Monday to Sunday before)"),
                             QStringLiteral("Monthly report (the month before)")};
    for (int k = 0; k < ReportScheduleSettings::KindCount; ++k) {
        m_on[k] = new QCheckBox(texts[k]);
        m_on[k]->setObjectName(QStringLiteral("check_") + QLatin1String(Names[k]));
        m_time[k] = new QTimeEdit;
        m_time[k]->setDisplayFormat(QStringLiteral("HH:mm"));
        m_time[k]->setObjectName(QStringLiteral("time_") + QLatin1String(Names[k]));
        grid->addWidget(m_on[k], k, 0);
        grid->addWidget(new QLabel(QStringLiteral("at")), k, 2);
        grid->addWidget(m_time[k], k, 3);
        connect(m_on[k], &QCheckBox::toggled, this, &ReportScheduleDialog::updateEnabled);
    }
    m_weekday = new QComboBox;
    m_weekday->setObjectName(QStringLiteral("combo_weekday"));
    for (int d = 1; d <= 7; ++d)
        m_weekday->addItem(QStringLiteral("on ") + ReportScheduleSettings::weekdayName(d), d);
    m_monthDay = new QComboBox;
    m_monthDay->setObjectName(QStringLiteral("combo_monthDay"));
    for (int d = 1; d <= 28; ++d)
        m_monthDay->addItem(QStringLiteral("on day %1").arg(d), d);
    m_monthDay->addItem(QStringLiteral("on the last day"), ReportScheduleSettings::LastDay);
    grid->addWidget(new QLabel(QStringLiteral("the next day")), 0, 1);
    grid->addWidget(m_weekday, 1, 1);
    grid->addWidget(m_monthDay, 2, 1);
    layout->addWidget(reports);

    auto* mail = new QFormLayout;
    m_recipients = new QLineEdit;
    m_recipients->setObjectName(QStringLiteral("edit_recipients"));
    m_recipients->setPlaceholderText(QStringLiteral("a@example.com, b@example.com"));
    m_recipients->setMaxLength(4000);
    mail->addRow(QStringLiteral("Mail the PDFs to:"), m_recipients);
    layout->addLayout(mail);
    auto* server = new QLabel(
        QStringLiteral("The mails go through the e-mail server of \"Notifications...\". Reports "
                       "due while the recorder was off are made at its next start, marked late.") +
        (mailNote.isEmpty() ? QString() : QStringLiteral("\n") + mailNote));
    server->setWordWrap(true);
    server->setObjectName(QStringLiteral("label_mailNote"));
    layout->addWidget(server);

    m_problemLabel = new QLabel;
    m_problemLabel->setObjectName(QStringLiteral("label_problem"));
    m_problemLabel->setStyleSheet(QStringLiteral("color: rgb(200, 40, 40);"));
    m_problemLabel->setWordWrap(true);
    layout->addWidget(m_problemLabel);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    m_saveButton = buttons->button(QDialogButtonBox::Save);
    m_saveButton->setObjectName(QStringLiteral("button_save"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ReportScheduleDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(m_recipients, &QLineEdit::textChanged, this, &ReportScheduleDialog::updateEnabled);

    setSettings(ReportScheduleSettings::load(projectPath));
}

ReportScheduleSettings ReportScheduleDialog::settings() const
{
    ReportScheduleSettings s;
    for (int k = 0; k < ReportScheduleSettings::KindCount; ++k) {
        s.entries[k].enabled = m_on[k]->isChecked();
        s.entries[k].time = m_time[k]->time();
    }
    s.entries[ReportScheduleSettings::Weekly].day = m_weekday->currentData().toInt();
    s.entries[ReportScheduleSettings::Monthly].day = m_monthDay->currentData().toInt();
    s.recipients = NotificationSettings::parseAddresses(m_recipients->text());
    return s;
}

void ReportScheduleDialog::setSettings(const ReportScheduleSettings& s)
{
    for (int k = 0; k < ReportScheduleSettings::KindCount; ++k) {
        m_on[k]->setChecked(s.entries[k].enabled);
        m_time[k]->setTime(s.entries[k].time);
    }
    m_weekday->setCurrentIndex(
        qMax(0, m_weekday->findData(s.entries[ReportScheduleSettings::Weekly].day)));
    m_monthDay->setCurrentIndex(
        qMax(0, m_monthDay->findData(s.entries[ReportScheduleSettings::Monthly].day)));
    m_recipients->setText(s.recipients.join(QStringLiteral(", ")));
    updateEnabled();
}

QString ReportScheduleDialog::problem() const
{
    const ReportScheduleSettings s = settings();
    if (s.recipients.size() > ReportScheduleSettings::MaxRecipients)
        return QStringLiteral("At most %1 report recipients")
            .arg(ReportScheduleSettings::MaxRecipients);
    return s.recipientProblem();
}

void ReportScheduleDialog::updateEnabled()
{
    for (int k = 0; k < ReportScheduleSettings::KindCount; ++k)
        m_time[k]->setEnabled(m_on[k]->isChecked());
    m_weekday->setEnabled(m_on[ReportScheduleSettings::Weekly]->isChecked());
    m_monthDay->setEnabled(m_on[ReportScheduleSettings::Monthly]->isChecked());
    const QString why = problem();
    m_problemLabel->setText(why);
    m_saveButton->setEnabled(why.isEmpty());
}

void ReportScheduleDialog::save()
{
    if (!problem().isEmpty())
        return;
    settings().save(m_projectPath);
    accept();
}
