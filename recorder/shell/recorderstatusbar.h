#pragma once

#include <QObject>
#include <QPixmap>

class QLabel;
class RecordingCycle;

// The recorder's status bar: the open project and its interval, the clock, ready or recording,
// a warning while samples wait for the file, the index build, and the last backup. A note is shown only while it
// has something to say.
class RecorderStatusBar : public QObject
{
    Q_OBJECT

public:
    // The narrowest the project's path and the notes become on a small screen.
    static constexpr int ShrunkWidth = 120;

    struct Labels
    {
        QLabel* projectName;
        QLabel* interval;
        QLabel* dateTime;
        QLabel* recordState;
        QLabel* writeState;
        QLabel* indexState;
        QLabel* backupState;
    };

    explicit RecorderStatusBar(const Labels& labels, QObject* parent = nullptr);

    // The project's folder and name; its interval unless it is still being made (`interval` 0).
    void setProject(const QString& filePath, const QString& name, int interval);
    void clearProject();
    // The clock's second.
    void showTime();

    void attach(RecordingCycle* cycle);
    // The cycle is gone: its notes go with it.
    void detach();
    void setRecording(bool on);
    // "Backup: 5 h ago" in grey, "Backup failed: ..." in red; hidden while empty.
    void setBackupState(const QString& text);

private:
    static void showNote(QLabel* label, const QString& text);

    Labels labels;
    QPixmap readyPixmap;
    QPixmap recordingPixmap;
};
