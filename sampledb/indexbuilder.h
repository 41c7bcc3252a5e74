#pragma once

#include "sqlitehandle.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <mutex>

// Builds the sample table's range index and its summary over the rows a database already holds
// (a file made before they existed, or copied in), on a thread and a connection of its own, and
// then reads the recorded period through the index. Building holds the file's write lock for
// its whole run, seconds on a week of samples: the recorder's writer keeps its samples
// meanwhile and writes them once finished() has come. cancel() ends a build within
// milliseconds; an interrupted build leaves the file as it was (an index finished before
// stays), and the rest is built the next time.
class IndexBuilder : public QThread
{
    Q_OBJECT

public:
    // How long the builder waits for another program's write lock before it gives up.
    static constexpr int LockWaitMs = 30000;
    // A test hook: microseconds the build pauses at each progress call (a few hundred rows), to
    // make a build of a small file last long enough to be interrupted or killed on purpose.
    static constexpr const char* PauseVariable = "QUILLMAR_TEST_INDEX_PAUSE_US";

    explicit IndexBuilder(const QString& databasePath, QObject* parent = nullptr);
    // Cancels a running build and waits for its thread.
    ~IndexBuilder() override;

    // From any thread: interrupts the build, or keeps it from starting.
    void cancel();

    // Read once finished() has come. True when the index exists now; when the summary and its
    // triggers exist now, as this version makes them.
    bool indexReady() const { return ready; }
    bool summaryReady() const { return summaryMade; }
    // True when the period was read; 0 for both times on an empty table.
    bool periodKnown() const { return periodRead; }
    quint32 periodStart() const { return firstTime; }
    quint32 periodEnd() const { return lastTime; }

signals:
    // Percent of the estimated work done, 0 to 99, each value once; from the builder's thread.
    void progress(int percent);

protected:
    void run() override;

private:
    static int onProgress(void* builder);
    static int onBusy(void* builder, int attempts);
    bool build(SqliteHandle db);
    bool summarize(SqliteHandle db);
    void readPeriod(SqliteHandle db, bool indexed);

    QString databasePath;
    std::atomic<bool> cancelled{false};
    // Guards `connection` against cancel() interrupting a connection being closed.
    std::mutex connectionMutex;
    SqliteHandle connection = nullptr;

    // The build's own thread only, until finished.
    qint64 estimatedSteps = 0;
    int pauseUs = 0;
    qint64 steps = 0;
    int lastPercent = -1;
    bool ready = false;
    bool summaryMade = false;
    bool periodRead = false;
    quint32 firstTime = 0;
    quint32 lastTime = 0;
};
