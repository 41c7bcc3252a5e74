#pragma once

#include "backupsettings.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimeEdit;

// The project's backups: the folder the daily copy goes to (another disk or a network share;
// empty: no backups), the time of day, and how many daily, monthly and yearly copies are kept.
// "Save" checks the values here (a problem shows in red under them) and, when they hold,
// answers accepted() with settings(); saving them is the caller's (with the audit entry).
class BackupDialog : public QDialog
{
    Q_OBJECT

public:
    explicit BackupDialog(const BackupSettings& settings, QWidget* parent = nullptr);

    // The values as the fields stand.
    BackupSettings settings() const;
    QString problemText() const;

    QLineEdit* folderField() const { return m_folder; }
    QTimeEdit* timeField() const { return m_time; }
    QSpinBox* dailyField() const { return m_daily; }
    QSpinBox* monthlyField() const { return m_monthly; }
    QSpinBox* yearlyField() const { return m_yearly; }
    QPushButton* saveButton() const { return m_save; }

public slots:
    void save();
    void chooseFolder();

private:
    QLineEdit* m_folder;
    QTimeEdit* m_time;
    QSpinBox* m_daily;
    QSpinBox* m_monthly;
    QSpinBox* m_yearly;
    QLabel* m_problem;
    QPushButton* m_save;
};
