#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;

// "Settings edited outside the recorder": what differs between the settings last accepted and
// those edited by hand in the project file, for a Supervisor to accept or reject. The dialog
// only asks; the window checks the role, asks the reason and has the decision recorded.
class EditedSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    enum class Decision
    {
        None,
        Accept,
        Reject
    };

    static QString title() { return QStringLiteral("Settings edited outside the recorder"); }

    // `lines`: one per difference (SettingsDifference::lines()). `asideName`: the edited file
    // set aside, or empty when the recorder runs on it as found, for `problem`.
    EditedSettingsDialog(const QStringList& lines, const QString& asideName, const QString& problem,
                         QWidget* parent = nullptr);

    Decision decision() const { return m_decision; }

    QLabel* stateLabel() const { return m_state; }
    QListWidget* list() const { return m_list; }
    QPushButton* acceptButton() const { return m_accept; }
    QPushButton* rejectButton() const { return m_reject; }

private:
    void decide(Decision decision);

    QLabel* m_state = nullptr;
    QListWidget* m_list = nullptr;
    QPushButton* m_accept = nullptr;
    QPushButton* m_reject = nullptr;
    Decision m_decision = Decision::None;
};
