#pragma once

#include "digestcheck.h"
#include "fileidentity.h"
#include "markscheck.h"
#include "samplesummary.h"

#include <QObject>
#include <QString>

#include <memory>

class QFile;
class QTimer;
class SummaryCache;

// Keeps the shared summary equal to the sample table, on a thread of its own: takes the last
// session's summary from the user's cache folder (the newest days first) when it is still of
// the file, checks it against the file, reads the rows added since and again the seconds whose
// rows changed, then the rows not summarized yet from the newest back, and afterwards looks for
// new rows every few seconds. Each batch is one short query; the summary is saved to the cache
// folder (never beside or into the recorder's database) when it is complete and when the
// builder stops.
//
// The check: where the file has the recorder's summary, its buckets' row counts and marks
// (rows deleted, changed, replaced or repeating a second) are kept with ours and compared at
// the next start, which costs one read of the recorder's summary; every bucket that changed
// otherwise than by the rows read since is read again. Otherwise each block of row ids is
// counted again (count, sum of ids, first and last second), the newest first, and the blocks
// that differ are read again; views of what is not checked yet read the rows.
class SummaryBuilder : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 BatchRows = 100000;
    // How far rows may be out of time order (a batch the recorder wrote late) while the summary
    // is read back from the newest rows: times this close to the oldest row read so far are not
    // yet claimed as complete.
    static constexpr qint64 DisorderSeconds = 600;
    // Stale seconds are read again this many coarse buckets at a time.
    static constexpr qint64 RereadBuckets = 60;
    // Blocks of ids counted again before the thread looks at its events.
    static constexpr int BlocksPerTurn = DigestCheck::BlocksPerTurn;

    enum class Check
    {
        None,   // no summary of an earlier session was taken
        Marks,  // compared with the recorder's summary
        Digests // counted again block by block
    };

    SummaryBuilder(const QString& databasePath, std::shared_ptr<SummaryCache> cache,
                   QObject* parent = nullptr);
    ~SummaryBuilder() override;

    // Rows read from the database so far (none when the last session's summary was complete
    // and nothing was added since). Read it on the builder's thread or after stop().
    qint64 rowsRead() const { return m_rowsRead; }
    // How the last session's summary was checked; read as rowsRead().
    Check check() const { return m_check; }

    // Where the summary of a database is kept between sessions.
    static QString snapshotPath(const QString& databasePath);

    void setPollInterval(int milliseconds) { m_pollInterval = milliseconds; }
    // Reading rows waits for resume(): the last session's summary is taken at start, but the
    // rows it lacks are read once the window has its first view.
    void setHeld(bool held) { m_held = held; }

public slots:
    void start();
    void resume();
    // Looks for new rows now (the timer does it every few seconds), and whether the file under
    // the path is still the one opened.
    void poll();
    // Saves what is summarized and closes the database.
    void stop();

signals:
    // The last session's summary was looked for: taken (true), or missing or out of date.
    void snapshotChecked(bool taken);
    // Rows summarized out of the rows in the table, while the first build runs.
    void progress(qint64 done, qint64 total);
    // The summary changed: more of the past, new rows, or seconds read again.
    void updated();
    // Everything in the table is summarized.
    void complete();
    void failed(const QString& message);
    // Another file lies under the database's path now (a backup put back, a copy moved over
    // it): the summary is of no use, and the connections still read the old file.
    void replaced();

private:
    enum class Work
    {
        Idle,
        Done,
        Failed
    };
    void step();
    Work nextWork(qint64 tableMin, qint64 tableMax);
    Work loadOlderPart();
    Work forward(qint64 last);
    Work backward(qint64 tableMin);
    Work reread();
    Work verifyBlocks();
    // Reads the rows with ids in [first, last] into a batch; oldest gets their earliest time.
    bool readBatch(qint64 first, qint64 last, bool descending, SampleSummary* batch,
                   qint64* oldest);
    void startAfresh(qint64 tableMax);
    bool loadSnapshot();
    bool saveSnapshot();
    void updateUsable();
    Work fail();

    QString m_databasePath;
    std::shared_ptr<SummaryCache> m_cache;
    std::unique_ptr<ViewerSampleReader> m_store;
    QTimer* m_pollTimer = nullptr;
    int m_pollInterval = 2000;
    qint64 m_lowId = 1;
    qint64 m_highId = 0;
    bool m_building = false;
    bool m_dirty = false;
    bool m_stopped = false;
    bool m_held = false;
    bool m_replaced = false;
    qint64 m_rowsRead = 0;
    Check m_check = Check::None;

    // The parts of the last session's summary not read yet.
    std::unique_ptr<QFile> m_snapshotFile;
    std::unique_ptr<SampleSummary::Loader> m_loader;
    qint64 m_loadedFrom;
    DigestCheck m_digests;

    // The recorder's summary as it was when the summary here last matched it, and the rows
    // read forward since, per bucket of it.
    MarksCheck m_marks;

    // The file opened, to tell when another one is put in its place.
    FileIdentity m_identity;
};
