#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class ProjectForwarding;
class QBoxLayout;
class QLabel;
class QWidget;

// What the recorder's window shows of the open project's forwarding: the targets' state in the
// status bar (hidden while nothing forwards) and the Forwarding dialog.
class ForwardingStatus : public QObject
{
    Q_OBJECT

public:
    // The label goes into `statusLayout` at `position`.
    ForwardingStatus(QWidget* window, QBoxLayout* statusLayout, int position);

    void attach(ProjectForwarding* forwarding);
    void detach();
    void showDialog(const QString& projectPath);

    QLabel* label() const { return m_label; }

signals:
    // The forwarding keys of the project file that could not be read; empty on detach.
    void keyProblemsChanged(const QStringList& problems);

private:
    void show();

    QWidget* window;
    QLabel* m_label;
    QPointer<ProjectForwarding> forwarding;
};
