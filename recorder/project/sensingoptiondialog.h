#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <memory>

class NodeDevice;

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

signals:
    void sensingConfirm();

public slots:
    void confirm();
    void checkCustomUnitPolicy(int index);

private:
    void fillUnits(class QComboBox* box, const QString& customText);
    void showAlarmRules();
    void readAlarmRules();

    std::unique_ptr<Ui::SensingOptionDialog> ui;
    QPointer<NodeDevice> m_node;
    QString m_deviceNumber;
};
