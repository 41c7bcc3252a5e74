#pragma once

#include "reportschedulesettings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimeEdit;

// "Project" -> "Report schedule...": which reports the recorder makes by itself (daily,
// weekly, monthly, each on or off, at a local time and, weekly and monthly, on a day) and whom
// it mails them to. Save writes the keys to the project file and accepts; the caller records
// the change and tells the running schedule.
class ReportScheduleDialog : public QDialog
{
    Q_OBJECT

public:
    // `mailNote`: what the notification settings mean for the mails (e.g. e-mail off), shown
    // under the list; empty for none.
    ReportScheduleDialog(const QString& projectPath, const QString& mailNote,
                         QWidget* parent = nullptr);

    ReportScheduleSettings settings() const;
    void setSettings(const ReportScheduleSettings& settings);
    // Why the form cannot be saved, or empty text.
    QString problem() const;

public slots:
    void save();

private:
    void updateEnabled();

    QString m_projectPath;
    QCheckBox* m_on[ReportScheduleSettings::KindCount];
    QTimeEdit* m_time[ReportScheduleSettings::KindCount];
    QComboBox* m_weekday;
    QComboBox* m_monthDay;
    QLineEdit* m_recipients;
    QLabel* m_problemLabel;
    QPushButton* m_saveButton;
};
