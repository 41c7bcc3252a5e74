#pragma once

#include "flushpolicy.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class ConfiguredDevice;
class DatabaseWriter;
class QTimer;

// The recording run time of one open project, without any window: it polls the project's
// gateways at the sampling interval, switches recording on and off, ticks the project's
// database writer, queues the gap records when a recording stops, keeps the recorded period,
// shows what the writer reports (a failing file, the background index build) and watches the
// database size. The main window makes one for each project it opens, forwards the user's
// commands to it and shows what it signals. The samples waiting for the database belong to its
// writer, which works on a thread of its own and goes with the cycle: nothing of one project
// reaches another project's file. A database made without the range index or the summary gets
// them built in the background while the project runs; the writes wait for the build, which
// holds the file's write lock, in the writer's spill journal after the flush policy's time,
// and catch up when it ends.
class RecordingCycle : public QObject
{
    Q_OBJECT

public:
    static constexpr int DatabaseInterval = FlushPolicy::TickMs;

    // The local time now; tests replace it.
    using Clock = std::function<QDateTime()>;

    // `gateways` stay the caller's; `interval` is the sampling interval in milliseconds.
    RecordingCycle(const QString& projectFilePath, const QString& connectionName,
                   const QList<ConfiguredDevice*>& gateways, int interval,
                   QObject* parent = nullptr);
    ~RecordingCycle() override;

    // Opens the project's database and reads the recorded period from it through the range
    // index; a file without the index gets it built in the background, and the period follows
    // when the build ends (recordTimesChanged). So does a file without the summary. False when the
    // file cannot be used; nothing is polled or recorded then.
    bool open();
    void setClock(const Clock& clock);

    // Polls once at once, then at every interval.
    void startPolling();
    // Reads every gateway now, waiting retry or not; what it reads is shown, never stored.
    void refresh();

    bool isRecording() const { return recording; }
    void startRecording();
    // Gap records, then everything waiting is written, and the stop time goes into the project
    // file. Samples a failing file leaves waiting are tried again, a few seconds apart.
    void stopRecording();
    // The end of the program on a signal or a logout: the recording ends as by stopRecording()
    // and what still waits is written, without asking anybody, for up to
    // DatabaseWriter::ShutdownGraceMs from the writer's thread; what cannot be stays in the
    // writer's journal for the next start, said in the log. shutdownFinished() follows.
    void shutdown();

    int pendingCount() const;
    // Writes everything waiting now, whatever the back-off, with the event loop running (no
    // user input) until the writer answers. True when nothing waits any more.
    bool flushAll();
    // Forgets the waiting samples: the user chose not to keep them.
    void discardPending();
    // The project's writer, which holds the samples waiting for the database; null until open.
    DatabaseWriter* sampleWriter() const { return writer; }
    // "Database write failing: N samples waiting" while writes fail; empty otherwise.
    QString writeWarning() const { return warning; }

    // True while the index is built in the background; no write is attempted meanwhile.
    bool isIndexing() const { return indexing; }
    // "Indexing database..." with the estimated percent done while the index is built; empty
    // otherwise.
    QString indexingState() const { return indexingText; }
    // Interrupts a running index build; the file stays without the index until the project is
    // opened again. The writes can go on at once.
    void stopIndexing();

    // The recorded period as shown, "yyyy-MM-dd hh:mm:ss" or empty.
    QString recordStartTime() const { return startText; }
    QString recordEndTime() const { return endText; }
    // The database file with its write-ahead log, in bytes.
    qint64 databaseSize() const;
    // Every second: the recording's end moves on and the database size is reported.
    void clockTick();

public slots:
    // The device timer's tick: one poll of every gateway that is not waiting for its retry.
    void writeDevice();
    // The database timer's tick: writes the waiting samples when the policy says so.
    void writeDb();

signals:
    void recordingChanged(bool on);
    void recordTimesChanged(const QString& start, const QString& end);
    void databaseSizeChanged(qint64 bytes);
    void writeWarningChanged(const QString& text);
    void indexingStateChanged(const QString& text);
    // The end of shutdown(): the program may quit now.
    void shutdownFinished();

private:
    void showIndexProgress(int percent);
    void indexingFinished(bool periodKnown, quint32 first, quint32 last);
    void setIndexingText(const QString& text);
    void adoptPeriod(quint32 first, quint32 last);
    void setRecordState(bool on);
    void writerShutDown(qint64 kept, qint64 lost);
    void updateWarning();
    // Submits the seals of the quarters from the next one to seal through `through`.
    void sealQuarters(qint64 through);
    qint64 nowMs() const;
    QString timeNow() const;

    QString projectFilePath;
    QString databasePath;
    QString connectionName;
    QList<ConfiguredDevice*> gateways;
    int interval;
    Clock clock;

    DatabaseWriter* writer = nullptr;
    bool indexing = false;
    QString indexingText;
    bool recording = false;
    bool shuttingDown = false;
    // The start of the recorded period has gone into the project file.
    bool startSaved = false;
    // The next quarter hour to seal while recording (seconds / 900); -1 when not recording.
    qint64 sealQuarter = -1;
    QString warning;
    QString startText;
    QString endText;

    QTimer* deviceTimer = nullptr;
    QTimer* dbTimer = nullptr;
};
