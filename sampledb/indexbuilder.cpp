#include "indexbuilder.h"

#include "kinetictable.h"
#include "sampletable.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"
#include "summarybuild.h"
#include "summaryrepair.h"

#include <QDebug>
#include <QElapsedTimer>

#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace {

// Virtual-machine steps between two progress calls, a few hundred rows: often enough for a
// prompt cancel, rare enough to cost nothing.
constexpr int ProgressInterval = 4000;
// Steps the index statement takes per row: six to read a row into the sort, four to insert it.
constexpr int StepsPerRow = 10;
// Steps the summary's filling takes per row, reading it.
constexpr int SummaryStepsPerRow = 8;
constexpr int BusyPauseMs = 20;

bool execute(sqlite3* db, const QString& sql)
{
    char* error = nullptr;
    const int result = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error);
    if (result == SQLITE_OK)
        return true;
    // An interrupt is the builder's own doing, traced once at the end.
    if (result != SQLITE_INTERRUPT)
        qWarning().noquote() << QStringLiteral("IndexBuilder::run : ") + sql +
                                    QStringLiteral(" : ") + QString::fromUtf8(error ? error : "");
    sqlite3_free(error);
    return false;
}

// The first row's two columns; NULL reads as 0.
bool firstRow(sqlite3* db, const QString& sql, qint64* first, qint64* second)
{
    const SqliteStatement statement(db, sql.toUtf8());
    sqlite3_stmt* const s = statement.get();
    const bool ok = s && sqlite3_step(s) == SQLITE_ROW;
    if (ok) {
        *first = sqlite3_column_int64(s, 0);
        *second = sqlite3_column_count(s) > 1 ? sqlite3_column_int64(s, 1) : 0;
    }
    return ok;
}

quint32 timeValue(qint64 seconds)
{
    return static_cast<quint32>(
        std::clamp<qint64>(seconds, 0, std::numeric_limits<quint32>::max()));
}

} // namespace

IndexBuilder::IndexBuilder(const QString& path, QObject* parent)
    : QThread(parent), databasePath(path), pauseUs(qEnvironmentVariableIntValue(PauseVariable))
{
}

IndexBuilder::~IndexBuilder()
{
    cancel();
    wait();
}

void IndexBuilder::cancel()
{
    cancelled = true;
    // An interrupt reaches only a statement that runs; one about to start sees the flag in the
    // progress and busy calls.
    std::lock_guard<std::mutex> lock(connectionMutex);
    if (connection)
        sqlite3_interrupt(connection);
}

void IndexBuilder::run()
{
    QElapsedTimer clock;
    clock.start();
    SqliteConnection database;
    if (!database.open(databasePath, SQLITE_OPEN_READWRITE)) {
        qWarning().noquote() << QStringLiteral("IndexBuilder::run : cannot open : ") +
                                    database.errorText();
        return;
    }
    sqlite3* const db = database.get();
    {
        std::lock_guard<std::mutex> lock(connectionMutex);
        connection = db;
    }
    sqlite3_busy_handler(db, &IndexBuilder::onBusy, this);
    sqlite3_progress_handler(db, ProgressInterval, &IndexBuilder::onProgress, this);

    qint64 found = 0;
    qint64 unused = 0;
    const bool existed =
        firstRow(db, SampleTable::indexPresentQuery(), &found, &unused) && found > 0;
    // By definition, not by name: a summary made by an earlier recorder, dropped, or whose
    // triggers belong to another table is made anew.
    const bool summarized = SummaryRepair::hasSummaryDefinitions(db);
    // A summary made before the kinetic sums existed gets them (filled from the rows).
    const bool kinetic = KineticTable::exists(db);
    if (!existed || !summarized || !kinetic) {
        qint64 rows = 0;
        firstRow(db, QStringLiteral("select max(rowid) from quorbinal"), &rows, &unused);
        estimatedSteps =
            std::max<qint64>(1, rows * ((existed ? 0 : StepsPerRow) +
                                        (summarized && kinetic ? 0 : SummaryStepsPerRow)));
    }
    const bool indexed = existed || (!cancelled && build(db));
    // The summary's trigger looks seconds up in the index, as does its filling.
    const bool summary = summarized || (indexed && !cancelled && summarize(db));
    if (summarized && !kinetic && !cancelled) {
        QString error;
        if (!SummaryBuild::buildKinetic(db, &error) && !cancelled)
            qWarning().noquote() << QStringLiteral("IndexBuilder::run : kinetic sums : ") + error;
    }
    estimatedSteps = 0;
    // The new pages sit in the write-ahead log. Copied into the file here, they cost the
    // recorder's next write nothing; and the log shrinks back instead of keeping their size on
    // disk. Readers that hold an older snapshot leave the rest for a later checkpoint.
    if ((!existed || !summarized || !kinetic) && !cancelled)
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    // Without the index (the build failed) the period still comes from here, off the GUI thread.
    if (!cancelled)
        readPeriod(db, indexed);
    ready = indexed;
    summaryMade = summary;

    {
        std::lock_guard<std::mutex> lock(connectionMutex);
        connection = nullptr;
    }
    database.close();
    if (cancelled)
        qDebug().noquote() << QStringLiteral("IndexBuilder::run : interrupted after ") +
                                  QString::number(clock.elapsed()) + QStringLiteral(" ms");
    else if (!existed || !summarized || !kinetic)
        qDebug().noquote() << QStringLiteral("IndexBuilder::run : ") +
                                  (indexed ? QStringLiteral("index built")
                                           : QStringLiteral("no index")) +
                                  (summary ? QStringLiteral(", summary built")
                                           : QStringLiteral(", no summary")) +
                                  QStringLiteral(" after ") + QString::number(clock.elapsed()) +
                                  QStringLiteral(" ms");
}

bool IndexBuilder::build(SqliteHandle db)
{
    // SQLite's default cache: the sort spills to temporary files in runs of 2 MB. A larger
    // cache made a week's build no faster (measured 64 MiB: slower by a tenth), held over
    // 100 MiB more, and made a cancel wait for the sort of a larger run.
    // An index of its name on another table (the sample table renamed) or of other columns is
    // not this one.
    return execute(db, QStringLiteral("drop index if exists ") + SampleTable::indexName()) &&
           execute(db, SampleTable::createIndexStatement());
}

bool IndexBuilder::summarize(SqliteHandle db)
{
    QString error;
    if (SummaryBuild::buildSummary(db, &error))
        return true;
    if (!cancelled)
        qWarning().noquote() << QStringLiteral("IndexBuilder::run : summary : ") + error;
    return false;
}

void IndexBuilder::readPeriod(SqliteHandle db, bool indexed)
{
    qint64 first = 0;
    qint64 last = 0;
    periodRead = firstRow(db, SampleTable::recordedPeriodQuery(indexed), &first, &last);
    firstTime = periodRead ? timeValue(first) : 0;
    lastTime = periodRead ? timeValue(last) : 0;
}

int IndexBuilder::onProgress(void* data)
{
    auto* builder = static_cast<IndexBuilder*>(data);
    if (builder->cancelled)
        return 1;
    if (builder->pauseUs > 0)
        QThread::usleep(static_cast<unsigned long>(builder->pauseUs));
    if (builder->estimatedSteps > 0) {
        builder->steps += ProgressInterval;
        const int percent =
            static_cast<int>(std::min<qint64>(99, builder->steps * 100 / builder->estimatedSteps));
        if (percent != builder->lastPercent) {
            builder->lastPercent = percent;
            emit builder->progress(percent);
        }
    }
    return 0;
}

int IndexBuilder::onBusy(void* data, int attempts)
{
    const auto* builder = static_cast<const IndexBuilder*>(data);
    if (builder->cancelled || attempts * BusyPauseMs >= LockWaitMs)
        return 0;
    sqlite3_sleep(BusyPauseMs);
    return 1;
}
