#pragma once

#include "alarmtestrecord.h"

#include <QDialog>
#include <QPair>
#include <QString>
#include <QVector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

// "Test alarms": the node to test (or all nodes), the button that runs the test, each target's
// answer as it comes (accepted, refused with the server's words, no answer within the time-out)
// and the recent tests of the project's alarm-test log. It runs nothing itself: it asks through
// runRequested(), and whoever runs the test tells it the answers.
class AlarmTestDialog : public QDialog
{
    Q_OBJECT

public:
    // Nodes as (serial, name).
    using Node = QPair<QString, QString>;

    explicit AlarmTestDialog(QWidget* parent = nullptr);

    void setNodes(const QVector<Node>& nodes);
    // The log's rows, newest first.
    void setRecent(const QVector<AlarmTestRecord>& rows);

    // The chosen node's serial; empty for all nodes.
    QString chosenSerial() const;

    // The run began with `targets` targets (0: none is switched on), or could not (null
    // answer from the gate: cancelled or refused).
    void testStarted(int targets);
    void testRefused();
    void addAnswer(const QString& target, const QString& answer, const QString& text);
    void testFinished();

    // The colour an answer is shown in.
    static QString answerColor(const QString& answer);

signals:
    void runRequested(const QString& serial);

private:
    QComboBox* m_nodes;
    QPushButton* m_run;
    QLabel* m_status;
    QTableWidget* m_answers;
    QTableWidget* m_recent;
};
