#pragma once

#include <QPushButton>
#include <QVector>

class QMenu;

// The status bar's alarm state of the open project: "No alarms", or the alarms active and those
// nobody acknowledged yet, red while any waits for an acknowledgement, and the alarm log's writes
// while they wait for the file. A click opens the Alarms screen; its context menu silences the
// sound for a chosen time.
class AlarmIndicator : public QPushButton
{
    Q_OBJECT

public:
    explicit AlarmIndicator(QWidget* parent = nullptr);

    void setCounts(int active, int unacknowledged);
    // Writes of the alarm log waiting for the database: said beside the counts while any wait.
    void setPendingWrites(int count);
    // "Alarms: 2 active, 1 unacknowledged", "No alarms".
    static QString countsText(int active, int unacknowledged);
    // The minutes the context menu offers.
    static QVector<int> silenceChoices() { return {5, 10, 15, 30}; }
    // The context menu ("Silence the sound for N minutes").
    QMenu* silenceMenu() const { return m_menu; }

signals:
    void silenceRequested(int minutes);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void updateText();

    int m_active = 0;
    int m_unacknowledged = 0;
    int m_pending = 0;
    QMenu* m_menu = nullptr;
};
