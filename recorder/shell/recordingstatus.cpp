#include "recordingstatus.h"

#include "recordingcycle.h"

#include <QLabel>

RecordingStatus::RecordingStatus(QLabel* recordState_, QLabel* writeState_, QLabel* indexState_,
                                 QObject* parent)
    : QObject(parent), recordState(recordState_), writeState(writeState_), indexState(indexState_),
      readyPixmap(QStringLiteral(":/img/StateReady.png")),
      recordingPixmap(QStringLiteral(":/img/StateRecording.png"))
{
    writeState->hide();
    indexState->hide();
}

void RecordingStatus::attach(RecordingCycle* cycle)
{
    connect(cycle, &RecordingCycle::writeWarningChanged, writeState,
            [this](const QString& text) { showNote(writeState, text); });
    connect(cycle, &RecordingCycle::indexingStateChanged, indexState,
            [this](const QString& text) { showNote(indexState, text); });
    showNote(indexState, cycle->indexingState());
}

void RecordingStatus::detach()
{
    showNote(writeState, QString());
    showNote(indexState, QString());
}

void RecordingStatus::setRecording(bool on)
{
    recordState->setPixmap(on ? recordingPixmap : readyPixmap);
}

void RecordingStatus::showNote(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}
