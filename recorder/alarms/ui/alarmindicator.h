#pragma once

#include <QPushButton>

// The status bar's alarm state of the open project: "No alarms", or the alarms active and those
// nobody acknowledged yet, red while any waits for an acknowledgement. A click opens the Alarms
// screen.
class AlarmIndicator : public QPushButton
{
    Q_OBJECT

public:
    explicit AlarmIndicator(QWidget* parent = nullptr);

    void setCounts(int active, int unacknowledged);
    // "Alarms: 2 active, 1 unacknowledged", "No alarms".
    static QString countsText(int active, int unacknowledged);
};
