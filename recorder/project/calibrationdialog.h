#pragma once

#include "calibrationaccess.h"
#include "calibrationrecord.h"

#include <QDate>
#include <QDialog>
#include <QString>

class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;

// Enters one calibration certificate of a node's channel: its number and laboratory, the dates
// of calibration and of the next one due, the reference instrument, the errors found and left
// and the uncertainty (in the channel's unit; the errors may be left empty), and the path of the
// certificate's file (kept as a path only: never opened). "Record" checks the fields here (a
// problem shows in red under them) and hands the entry to the register's command, which asks
// for the signature; the dialog closes once the entry was taken.
class CalibrationDialog : public QDialog
{
    Q_OBJECT

public:
    // `title` names the channel ("Freezer 2, channel 1 (Air)"); `unit` the channel's unit;
    // `today` the local date the dates start from.
    CalibrationDialog(const QString& serial, int channel, const QString& title, const QString& unit,
                      const QDate& today, QWidget* parent = nullptr);

    void setEnter(const std::function<void(const CalibrationRecord& row,
                                           const CalibrationAccess::Done& done)>& enter)
    {
        m_enter = enter;
    }

    // The entry as the fields stand; `problem` (may be null) says what is out of bounds.
    CalibrationRecord entry(QString* problem = nullptr) const;
    QString problemText() const;

public slots:
    void record();
    void chooseCertificateFile();

signals:
    void recorded(const CalibrationRecord& row);

private:
    void finished(bool taken, const QString& problem);

    QString m_serial;
    int m_channel = 1;
    std::function<void(const CalibrationRecord&, const CalibrationAccess::Done&)> m_enter;
    QLineEdit* m_certificate = nullptr;
    QLineEdit* m_laboratory = nullptr;
    QDateEdit* m_calibrated = nullptr;
    QDateEdit* m_due = nullptr;
    QLineEdit* m_reference = nullptr;
    QLineEdit* m_asFound = nullptr;
    QLineEdit* m_asLeft = nullptr;
    QLineEdit* m_uncertainty = nullptr;
    QLineEdit* m_file = nullptr;
    QLabel* m_problem = nullptr;
    QPushButton* m_record = nullptr;
};
