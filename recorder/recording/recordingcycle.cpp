#include "recordingcycle.h"

#include "acquisition/configureddevice.h"
#include "indexbuilder.h"
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
    // The gateways poll at the project's interval: it sets their missed-poll limit and the
    // time of their nodes' gap records.
    for (ConfiguredDevice* gateway : qAsConst(gateways)) {
        if (gateway)
            gateway->setInterval(interval);
    }
    deviceTimer = new QTimer(this);
    connect(deviceTimer, &QTimer::timeout, this, &RecordingCycle::writeDevice);
    dbTimer = new QTimer(this);
    connect(dbTimer, &QTimer::timeout, this, &RecordingCycle::writeDb);
}

// The gateways may be gone already (the window deletes them first when it closes); the nodes
// let go of the writer by themselves.
RecordingCycle::~RecordingCycle()
{
    stopIndexing();
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
    // Without the index the period would cost a scan of the whole table here, on the GUI thread.
    const bool indexed = writer->hasIndex();
    if (indexed) {
        startText = recordTimeText(writer->startDateTime());
        endText = recordTimeText(writer->endDateTime());
    }
    if (!indexed || !writer->hasSummary())
        startIndexing();
    for (ConfiguredDevice* device : qAsConst(gateways)) {
        if (!device)
            continue;
        for (NodeDevice* node : device->nodes())
            node->setSampleWriter(writer);
    }
    return true;
}

void RecordingCycle::startIndexing()
{
    builder = new IndexBuilder(databasePath, this);
    connect(builder, &IndexBuilder::progress, this, &RecordingCycle::showIndexProgress);
    connect(builder, &QThread::finished, this, &RecordingCycle::indexingFinished);
    indexing = true;
    setIndexingText(QStringLiteral("Indexing database..."));
    builder->start(QThread::LowPriority);
}

void RecordingCycle::stopIndexing()
{
    if (!indexing)
        return;
    indexing = false;
    // Its destructor interrupts the build and waits for the thread.
    delete builder;
    builder = nullptr;
    setIndexingText(QString());
}

// Progress and the end arrive queued; after stopIndexing() they find nothing to do.
void RecordingCycle::showIndexProgress(int percent)
{
    if (indexing)
        setIndexingText(QStringLiteral("Indexing database... ") + QString::number(percent) +
                        QLatin1Char('%'));
}

void RecordingCycle::indexingFinished()
{
    if (!indexing)
        return;
    indexing = false;
    setIndexingText(QString());
    if (builder->periodKnown())
        adoptPeriod(builder->periodStart(), builder->periodEnd());
    builder->deleteLater();
    builder = nullptr;
    // What the build kept waiting: one write now, the rest at the database timer's pace.
    if (pendingCount() > 0) {
        write(MaxRowsPerWrite);
        if (pendingCount() > 0 && !dbTimer->isActive())
            dbTimer->start(DatabaseInterval);
    }
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
    if (recording || !writer)
        return;
    setRecordState(true);
    policy.reset();
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
    stopIndexing();
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
    if (!writer || indexing)
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

// Every write goes through here: the policy learns how it went, the warning follows. While the
// index is built, the build holds the write lock: the samples wait, which is no failure, and no
// attempt may wait for the lock on the GUI thread.
bool RecordingCycle::write(int limit)
{
    if (indexing)
        return false;
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
