#include "recordingcycle.h"

#include "configureddevice.h"
#include "insertserialdata.h"
#include "nodedevice.h"
#include "projectfile.h"

#include <QDebug>
#include <QFileInfo>
#include <QTimer>

namespace {

const char* const TimeFormat = "yyyy-MM-dd hh:mm:ss";

QString recordTimeText(quint32 seconds)
{
    if (seconds == 0)
        return QString();
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QLatin1String(TimeFormat));
}

} // namespace

RecordingCycle::RecordingCycle(const QString& projectFile, const QString& connection,
                               const QList<ConfiguredDevice*>& projectGateways, int milliseconds,
                               QObject* parent)
    : QObject(parent), projectFilePath(projectFile),
      databasePath(ProjectFile::databasePath(projectFile)), connectionName(connection),
      gateways(projectGateways), interval(milliseconds),
      clock([] { return QDateTime::currentDateTime(); })
{
    deviceTimer = new QTimer(this);
    connect(deviceTimer, &QTimer::timeout, this, &RecordingCycle::writeDevice);
    dbTimer = new QTimer(this);
    connect(dbTimer, &QTimer::timeout, this, &RecordingCycle::writeDb);
}

// The gateways may be gone already (the window deletes them first when it closes); the nodes
// let go of the writer by themselves.
RecordingCycle::~RecordingCycle()
{
    deviceTimer->stop();
    dbTimer->stop();
    if (writer) {
        delete writer;
        qDebug() << "QuillmarMain::deleteInsertSerialData()";
    }
}

void RecordingCycle::setClock(const Clock& now)
{
    clock = now;
}

QString RecordingCycle::timeNow() const
{
    return clock().toString(QLatin1String(TimeFormat));
}

bool RecordingCycle::open()
{
    writer = new InsertSerialData(databasePath, connectionName, this);
    if (!writer->createConnection()) {
        delete writer;
        writer = nullptr;
        return false;
    }
    qDebug().noquote() << "QuillmarMain::createInsertSerialData : " << databasePath;
    startText = recordTimeText(writer->startDateTime());
    endText = recordTimeText(writer->endDateTime());
    for (ConfiguredDevice* device : qAsConst(gateways)) {
        if (!device)
            continue;
        for (NodeDevice* node : device->nodes())
            node->setSampleWriter(writer);
    }
    return true;
}

void RecordingCycle::startPolling()
{
    writeDevice();
    deviceTimer->start(interval);
}

void RecordingCycle::writeDevice()
{
    for (ConfiguredDevice* device : qAsConst(gateways)) {
        if (device && !device->retryPending)
            device->poll();
    }
}

void RecordingCycle::refresh()
{
    for (ConfiguredDevice* device : qAsConst(gateways)) {
        if (device)
            device->refresh();
    }
}

void RecordingCycle::setRecordState(bool on)
{
    recording = on;
    for (ConfiguredDevice* device : qAsConst(gateways)) {
        if (!device)
            continue;
        for (NodeDevice* node : device->nodes()) {
            if (!on)
                node->insertNoValue();
            node->setRecordEnabled(on);
        }
    }
    qDebug().noquote() << "QuillmarMain::toggleRecordState : m_bIsRecordStart : " << on;
}

void RecordingCycle::startRecording()
{
    if (recording || !writer)
        return;
    setRecordState(true);
    policy.reset();
    dbTimer->start(DatabaseInterval);
    // A restarted recording keeps the start of the recorded period.
    if (startText.isEmpty())
        startText = timeNow();
    ProjectFile(projectFilePath).saveRecordStartTime(startText);
    emit recordTimesChanged(startText, endText);
    emit recordingChanged(true);
}

void RecordingCycle::stopRecording()
{
    if (!recording)
        return;
    setRecordState(false);
    flushAll();
    // Samples a failing file keeps are tried again at the database timer's pace.
    if (pendingCount() == 0)
        dbTimer->stop();
    endText = timeNow();
    ProjectFile(projectFilePath).saveRecordStopTime(endText);
    emit recordTimesChanged(startText, endText);
    emit recordingChanged(false);
}

void RecordingCycle::shutdown()
{
    deviceTimer->stop();
    stopRecording();
    for (int attempt = 1; attempt < ShutdownAttempts && pendingCount() > 0; ++attempt)
        flushAll();
    dbTimer->stop();
    if (pendingCount() > 0)
        qWarning().noquote() << QStringLiteral("RecordingCycle::shutdown : samples not stored : ") +
                                    QString::number(pendingCount());
}

int RecordingCycle::pendingCount() const
{
    return writer ? writer->pendingCount() : 0;
}

void RecordingCycle::writeDb()
{
    if (!writer)
        return;
    const qint64 nowMs = clock().toMSecsSinceEpoch();
    if (policy.due(writer->pendingCount(), gateways.size(), nowMs))
        write(MaxRowsPerWrite);
    else
        updateWarning();
    if (!recording && pendingCount() == 0)
        dbTimer->stop();
}

bool RecordingCycle::flushAll()
{
    while (pendingCount() > 0) {
        if (!write(MaxRowsPerWrite))
            return false;
    }
    return true;
}

// Every write goes through here: the policy learns how it went, the warning follows.
bool RecordingCycle::write(int limit)
{
    const bool stored = writer && writer->insertNow(limit);
    if (stored)
        policy.flushed(writer->pendingCount());
    else
        policy.failed(clock().toMSecsSinceEpoch());
    updateWarning();
    return stored;
}

void RecordingCycle::discardPending()
{
    if (writer)
        writer->discardPending();
    // Nothing waits any more: no retry is due and there is nothing to warn about.
    policy.flushed(0);
    updateWarning();
}

void RecordingCycle::updateWarning()
{
    QString text;
    if (policy.failing() && pendingCount() > 0) {
        text = QStringLiteral("Database write failing: ") + QString::number(pendingCount()) +
               QStringLiteral(" samples waiting");
        if (writer->droppedCount() > 0)
            text += QStringLiteral(", ") + QString::number(writer->droppedCount()) +
                    QStringLiteral(" oldest dropped");
    }
    if (text == warning)
        return;
    warning = text;
    emit writeWarningChanged(warning);
}

qint64 RecordingCycle::databaseSize() const
{
    // The newest pages sit in the write-ahead log until a checkpoint; they belong to the
    // database the user sees growing.
    const QFileInfo log(databasePath + QStringLiteral("-wal"));
    return QFileInfo(databasePath).size() + (log.exists() ? log.size() : 0);
}

void RecordingCycle::clockTick()
{
    if (!startText.isEmpty() && !endText.isEmpty() && QFileInfo::exists(databasePath))
        emit databaseSizeChanged(databaseSize());
    if (recording) {
        endText = timeNow();
        emit recordTimesChanged(startText, endText);
    }
}
