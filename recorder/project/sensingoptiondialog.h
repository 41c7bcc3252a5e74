#pragma once

#include "calibrationaccess.h"
#include "calibrationdialog.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <memory>

class NodeDevice;
class QLabel;
class QPushButton;

namespace Ui {
class SensingOptionDialog;
}

// Edits one node's names, channel units and alarm ranges, and beside them its alarm rules (a
// delay and a deadband per channel, "no data" and "battery low" for the node). The ranges can be
// changed only while the node's gateway answers; "battery low" only where the gateway's model
// reports the battery. Confirming writes into the node and tells the project centre, which
// re-evaluates the alarms and saves the project.
class SensingOptionDialog : public QDialog
{
    Q_OBJECT

public:
    // Longest custom unit text a channel accepts.
    static constexpr int MaxCustomUnitLength = 11;

    SensingOptionDialog(NodeDevice* node, QWidget* parent = nullptr);
    ~SensingOptionDialog() override;

    // The open project's calibration register: each channel shows its entry in force, and
    // "Calibration..." enters a new one. Without it the button stays off.
    void setCalibrationAccess(const CalibrationAccess& access);
    // The text a channel (1, 2) shows of its entry in force.
    QString calibrationText(int channel) const;
    CalibrationDialog* calibrationDialog() const { return m_calibrationDialog; }

signals:
    void sensingConfirm();

public slots:
    void confirm();
    void showCalibrations();
    void enterCalibration(int channel);
    void checkCustomUnitPolicy(int index);

private:
    void fillUnits(class QComboBox* box, const QString& customText);
    void showAlarmRules();
    void readAlarmRules();

    std::unique_ptr<Ui::SensingOptionDialog> ui;
    QPointer<NodeDevice> m_node;
    QString m_deviceNumber;
    CalibrationAccess m_calibrations;
    QLabel* m_calibrationLabel[2] = {nullptr, nullptr};
    QPushButton* m_calibrationButton[2] = {nullptr, nullptr};
    QPointer<CalibrationDialog> m_calibrationDialog;
};
