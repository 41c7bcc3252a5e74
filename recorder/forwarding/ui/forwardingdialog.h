#pragma once

#include "forwardingsettings.h"

#include <QDialog>
#include <QMap>

class ProjectForwarding;
class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

// The project's "Forwarding" settings: an MQTT broker (with the topic each node will use) and an
// InfluxDB 1.x server, each with its status (connected or failing, the backlog, records refused,
// the last error), and history sent on request from a start time. The settings go to the project
// file on Save; the passwords go to the user's secret store, whose whereabouts the dialog names,
// and never into the project file. Nothing here waits on a server: the status comes from the
// forwarder's own thread.
class ForwardingDialog : public QDialog
{
    Q_OBJECT

public:
    ForwardingDialog(const QString& projectPath, ProjectForwarding* forwarding,
                     QWidget* parent = nullptr);
    ~ForwardingDialog() override;

    // The form as settings, and the other way round.
    ForwardingSettings settings() const;
    void setSettings(const ForwardingSettings& settings);
    // Why the form cannot be saved, or empty text.
    QString problem() const;
    // The nodes whose topics are shown (serial number -> node name); the project's nodes at
    // first.
    void setNodes(const QMap<QString, QString>& nodes);

public slots:
    // Writes the settings and the passwords typed, then starts forwarding anew with them.
    void save();
    void sendHistory();
    void showStates();

private:
    void showSecretLocation();
    void secretWritten(const QString& name, bool ok, const QString& error);
    void updateEnabled();
    void showTopics();

    QString m_projectPath;
    ProjectForwarding* m_forwarding;
    int m_pendingWrites = 0;
    QString m_writeError;

    QCheckBox* m_mqttOn;
    QLineEdit* m_mqttHost;
    QSpinBox* m_mqttPort;
    QCheckBox* m_mqttTls;
    QLineEdit* m_mqttCaFile;
    QLineEdit* m_mqttUser;
    QLineEdit* m_mqttPassword;
    // "send the password unencrypted", partly checked for a project from before the choice.
    QCheckBox* m_mqttCleartext;
    QLineEdit* m_mqttPrefix;
    QPlainTextEdit* m_mqttTopics;
    QLabel* m_mqttStatus;
    QMap<QString, QString> m_nodes;

    QCheckBox* m_influxOn;
    QLineEdit* m_influxUrl;
    QLineEdit* m_influxDatabase;
    QLineEdit* m_influxUser;
    QLineEdit* m_influxPassword;
    QCheckBox* m_influxCleartext;
    QLineEdit* m_influxCaFile;
    QLabel* m_influxStatus;

    QDateTimeEdit* m_historyStart;
    QPushButton* m_historyButton;
    QProgressBar* m_historyProgress;
    QLabel* m_secretsLabel;
    QLabel* m_problemLabel;
    QPushButton* m_saveButton;
};
