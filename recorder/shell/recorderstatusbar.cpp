#include "recorderstatusbar.h"

#include "datainterval.h"
#include "recordingcycle.h"
#include "windowchrome.h"

#include <QDateTime>
#include <QDir>
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
    labels.backupState->hide();
    // On a small screen the alarms' indicator keeps its room: the path and the notes give way
    // (their whole text in the tool tip).
    labels.projectName->setMinimumWidth(ShrunkWidth);
    // The clock never gives way: the width of its longest digits.
    const int clockWidth =
        labels.dateTime->fontMetrics().horizontalAdvance(QStringLiteral("8888-88-88 88:88:88"));
    labels.dateTime->setMinimumWidth(
        qMax(labels.dateTime->minimumWidth(), clockWidth + 2 * labels.dateTime->margin() + 4));
    labels.writeState->setMinimumWidth(ShrunkWidth);
    labels.indexState->setMinimumWidth(ShrunkWidth);
    labels.backupState->setMinimumWidth(ShrunkWidth);
}

void RecorderStatusBar::setProject(const QString& filePath, const QString& name, int interval)
{
    labels.projectName->setText(WindowChrome::projectLabel(QFileInfo(filePath).path(), name));
    labels.projectName->setToolTip(QDir::toNativeSeparators(filePath));
    if (interval > 0)
        labels.interval->setText(QStringLiteral("Interval : ") + intervalName(interval));
    else
        labels.interval->clear();
}

void RecorderStatusBar::clearProject()
{
    labels.projectName->clear();
    labels.projectName->setToolTip(QString());
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

void RecorderStatusBar::setBackupState(const QString& text)
{
    const bool failed = text.startsWith(QLatin1String("Backup failed"));
    labels.backupState->setStyleSheet(failed ? QStringLiteral("color: rgb(200, 0, 0);")
                                             : QStringLiteral("color: rgb(100, 100, 100);"));
    showNote(labels.backupState, text);
}

void RecorderStatusBar::showNote(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setToolTip(text);
    label->setVisible(!text.isEmpty());
}
