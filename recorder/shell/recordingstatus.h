#pragma once

#include <QObject>
#include <QPixmap>

class QLabel;
class RecordingCycle;

// The status bar's view of the recording cycle: ready or recording, a warning while samples wait
// for the file, and the index build. A note is shown only while it has something to say.
class RecordingStatus : public QObject
{
    Q_OBJECT

public:
    RecordingStatus(QLabel* recordState, QLabel* writeState, QLabel* indexState,
                    QObject* parent = nullptr);

    void attach(RecordingCycle* cycle);
    // The cycle is gone: its notes go with it.
    void detach();
    void setRecording(bool on);

private:
    static void showNote(QLabel* label, const QString& text);

    QLabel* recordState;
    QLabel* writeState;
    QLabel* indexState;
    QPixmap readyPixmap;
    QPixmap recordingPixmap;
};
