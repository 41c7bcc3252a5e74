#include "recorderstatusbar.h"

#include "datainterval.h"
#include "recordingcycle.h"
#include "windowchrome.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLabel>

RecorderStatusBar::RecorderStatusBar(const Labels& labels_, QObject* parent)
    : QObject(parent), labels(labels_), readyPixmap(QStringLiteral(":/img/StateReady.png")),
      recordingPixmap(QStringLiteral(":/img/StateRecording.png"))
{
    labels.dateTime->setText(
        QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")));
    labels.writeState->hide();
    labels.indexState->hide();
}

void RecorderStatusBar::setProject(const QString& filePath, const QString& name, int interval)
{
    labels.projectName->setText(WindowChrome::projectLabel(QFileInfo(filePath).path(), name));
    if (interval > 0)
        labels.interval->setText(QStringLiteral("Interval : ") + intervalName(interval));
    else
        labels.interval->clear();
}

void RecorderStatusBar::clearProject()
{
    labels.projectName->clear();
    labels.interval->clear();
}

void RecorderStatusBar::showTime()
{
    labels.dateTime->setText(
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

void RecorderStatusBar::attach(RecordingCycle* cycle)
{
    connect(cycle, &RecordingCycle::writeWarningChanged, labels.writeState,
            [this](const QString& text) { showNote(labels.writeState, text); });
    connect(cycle, &RecordingCycle::indexingStateChanged, labels.indexState,
            [this](const QString& text) { showNote(labels.indexState, text); });
    showNote(labels.indexState, cycle->indexingState());
}

void RecorderStatusBar::detach()
{
    showNote(labels.writeState, QString());
    showNote(labels.indexState, QString());
}

void RecorderStatusBar::setRecording(bool on)
{
    labels.recordState->setPixmap(on ? recordingPixmap : readyPixmap);
}

void RecorderStatusBar::showNote(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}
