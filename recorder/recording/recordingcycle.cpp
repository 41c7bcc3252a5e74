#include "recordingcycle.h"

#include "configureddevice.h"
#include "databasewriter.h"
#include "nodedevice.h"
#include "projectfile.h"
#include "sampleseal.h"
#include "writejob.h"

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
    // The gateways poll at the project's interval: it sets their missed-poll limit and the
    // time of their nodes' gap records.
    for (ConfiguredDevice* gateway : qAsConst(gateways)) {
        if (gateway)
            gateway->setInterval(interval);
    }
    deviceTimer = new QTimer(this);
    // Never early (a coarse timer may be, by 5 %): at 1 s two polls must not fall in one
    // second, as each is its samples' time.
    deviceTimer->setTimerType(Qt::PreciseTimer);
    connect(deviceTimer, &QTimer::timeout, this, &RecordingCycle::writeDevice);
    dbTimer = new QTimer(this);
    connect(dbTimer, &QTimer::timeout, this, &RecordingCycle::writeDb);
}

// The gateways may be gone already (the window deletes them first when it closes); the nodes
// let go of the writer by themselves. The writer's thread keeps in its journal what still waits.
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
    // One clock for the project's run time: the polls and their samples are dated by it too.
    for (ConfiguredDevice* gateway : qAsConst(gateways)) {
        if (gateway)
            gateway->setClock(now);
    }
}

QString RecordingCycle::timeNow() const
{
    return clock().toString(QLatin1String(TimeFormat));
}

qint64 RecordingCycle::nowMs() const
{
    return clock().toMSecsSinceEpoch();
}

bool RecordingCycle::open()
{
    writer = new DatabaseWriter(databasePath, connectionName, this);
    if (!writer->open()) {
        delete writer;
        writer = nullptr;
        return false;
    }
    qDebug().noquote() << "QuillmarMain::createInsertSerialData : " << databasePath;
    writer->setGatewayCount(gateways.size());
    connect(writer, &DatabaseWriter::statusChanged, this, &RecordingCycle::updateWarning);
    connect(writer, &DatabaseWriter::indexProgress, this, &RecordingCycle::showIndexProgress);
    connect(writer, &DatabaseWriter::indexFinished, this, &RecordingCycle::indexingFinished);
    connect(writer, &DatabaseWriter::shutDown, this, &RecordingCycle::writerShutDown);
    // Without the index the period comes from the build, which reads it through the new index.
    if (writer->isIndexed()) {
        startText = recordTimeText(writer->periodStart());
        endText = recordTimeText(writer->periodEnd());
    }
    if (writer->isBuilding()) {
        indexing = true;
        setIndexingText(QStringLiteral("Indexing database..."));
    }
    for (ConfiguredDevice* device : qAsConst(gateways)) {
        if (!device)
            continue;
        for (NodeDevice* node : device->nodes())
            node->setSampleWriter(writer);
    }
    // What an earlier run left in the journal is retried at the database timer's pace.
    if (pendingCount() > 0)
        dbTimer->start(DatabaseInterval);
    return true;
}

void RecordingCycle::stopIndexing()
{
    if (!indexing)
        return;
    indexing = false;
    writer->stopIndexing();
    setIndexingText(QString());
}

// Progress and the end arrive queued; after stopIndexing() they find nothing to do.
void RecordingCycle::showIndexProgress(int percent)
{
    if (indexing)
        setIndexingText(QStringLiteral("Indexing database... ") + QString::number(percent) +
                        QLatin1Char('%'));
}

void RecordingCycle::indexingFinished(bool periodKnown, quint32 first, quint32 last)
{
    if (!indexing)
        return;
    indexing = false;
    setIndexingText(QString());
    if (periodKnown)
        adoptPeriod(first, last);
    // The writer writes what the build kept waiting; the rest at the database timer's pace.
    if (pendingCount() > 0 && !dbTimer->isActive())
        dbTimer->start(DatabaseInterval);
}

void RecordingCycle::setIndexingText(const QString& text)
{
    if (text == indexingText)
        return;
    indexingText = text;
    emit indexingStateChanged(indexingText);
}

// The period of the file as it was before this session wrote to it (no write happens during
// the build); a recording begun meanwhile keeps the earlier start and its own end.
void RecordingCycle::adoptPeriod(quint32 first, quint32 last)
{
    if (first != 0) {
        startText = recordTimeText(first);
        if (startSaved)
            ProjectFile(projectFilePath).saveRecordStartTime(startText);
    }
    if (endText.isEmpty())
        endText = recordTimeText(last);
    emit recordTimesChanged(startText, endText);
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
    if (recording || !writer || shuttingDown)
        return;
    setRecordState(true);
    // What a run that ended without stopping left unsealed is sealed first; from now on every
    // quarter, empty or not, is sealed once it has ended. The digests run on the writer's thread.
    const qint64 now = nowMs();
    sealQuarter = SampleSeal::quarterOfSeconds(now / 1000);
    writer->submit(WriteJob::sampleSealCatchUp(sealQuarter - 1, now));
    dbTimer->start(DatabaseInterval);
    // A restarted recording keeps the start of the recorded period.
    if (startText.isEmpty())
        startText = timeNow();
    ProjectFile(projectFilePath).saveRecordStartTime(startText);
    startSaved = true;
    emit recordTimesChanged(startText, endText);
    emit recordingChanged(true);
}

void RecordingCycle::stopRecording()
{
    if (!recording)
        return;
    setRecordState(false);
    // The quarter so far is sealed too, the gap records above with it. Rows of it that a
    // recording started again within it writes are sealed at its end or at the next stop;
    // rows written once it has ended are sealed again as they are written.
    sealQuarters(SampleSeal::quarterOfSeconds(nowMs() / 1000));
    sealQuarter = -1;
    writer->flush(nowMs());
    // Samples a failing file keeps are tried again at the database timer's pace; the timer
    // stops once nothing waits.
    if (!dbTimer->isActive())
        dbTimer->start(DatabaseInterval);
    endText = timeNow();
    ProjectFile(projectFilePath).saveRecordStopTime(endText);
    emit recordTimesChanged(startText, endText);
    emit recordingChanged(false);
}

void RecordingCycle::shutdown()
{
    if (shuttingDown)
        return;
    shuttingDown = true;
    stopIndexing();
    deviceTimer->stop();
    stopRecording();
    dbTimer->stop();
    if (!writer) {
        emit shutdownFinished();
        return;
    }
    writer->shutdown();
}

void RecordingCycle::writerShutDown(qint64 kept, qint64 lost)
{
    Q_UNUSED(kept)
    if (lost > 0)
        qWarning().noquote() << QStringLiteral("RecordingCycle::shutdown : samples not stored : ") +
                                    QString::number(lost);
    emit shutdownFinished();
}

int RecordingCycle::pendingCount() const
{
    return writer ? writer->pendingCount() : 0;
}

void RecordingCycle::writeDb()
{
    if (!writer)
        return;
    if (recording)
        sealQuarters(SampleSeal::quarterOfSeconds(nowMs() / 1000 - SampleSeal::MarginSeconds) - 1);
    writer->tick(nowMs());
    if (!recording && pendingCount() == 0)
        dbTimer->stop();
}

void RecordingCycle::sealQuarters(qint64 through)
{
    if (sealQuarter < 0)
        return;
    for (; sealQuarter <= through; ++sealQuarter)
        writer->submit(WriteJob::sampleSeal(sealQuarter, nowMs()));
}

bool RecordingCycle::flushAll()
{
    return !writer || writer->flushAndWait(nowMs());
}

void RecordingCycle::discardPending()
{
    if (writer)
        writer->discardPending();
}

// The writer's thread reports whether writes fail; what waits is counted here, with the samples
// still on their way to it.
void RecordingCycle::updateWarning()
{
    QString text;
    if (writer && writer->status().failing && pendingCount() > 0) {
        text = QStringLiteral("Database write failing: ") + QString::number(pendingCount()) +
               QStringLiteral(" samples waiting");
        if (writer->status().droppedSamples > 0)
            text += QStringLiteral(", ") + QString::number(writer->status().droppedSamples) +
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
