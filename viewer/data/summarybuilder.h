#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QTimer;
class SampleReader;
class SampleSummary;
class SummaryCache;

// Keeps the shared summary equal to the sample table, on a thread of its own: takes the last
// session's summary from the user's cache folder when it still matches the file, reads the rows
// added since, then the rows not summarized yet from the newest back, and afterwards looks for
// new rows every few seconds. Each batch is one short query; the summary is saved to the cache
// folder (never beside or into the recorder's database) when it is complete and when the
// builder stops.
class SummaryBuilder : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 BatchRows = 100000;
    // How far rows may be out of time order (a batch the recorder wrote late) while the summary
    // is read back from the newest rows: times this close to the oldest row read so far are not
    // yet claimed as complete.
    static constexpr qint64 DisorderSeconds = 600;

    SummaryBuilder(const QString& databasePath, std::shared_ptr<SummaryCache> cache,
                   QObject* parent = nullptr);
    ~SummaryBuilder() override;

    // Rows read from the database so far (none when the last session's summary was complete
    // and nothing was added since). Read it on the builder's thread or after stop().
    qint64 rowsRead() const { return m_rowsRead; }

    // Where the summary of a database is kept between sessions.
    static QString snapshotPath(const QString& databasePath);

    void setPollInterval(int milliseconds) { m_pollInterval = milliseconds; }
    // Reading rows waits for resume(): the last session's summary is taken at start, but the
    // rows it lacks are read once the window has its first view.
    void setHeld(bool held) { m_held = held; }

public slots:
    void start();
    void resume();
    // Looks for new rows now (the timer does it every few seconds).
    void poll();
    // Saves what is summarized and closes the database.
    void stop();

signals:
    // The last session's summary was looked for: taken (true), or missing or out of date.
    void snapshotChecked(bool taken);
    // Rows summarized out of the rows in the table, while the first build runs.
    void progress(qint64 done, qint64 total);
    // The summary changed: more of the past, or new rows.
    void updated();
    // Everything in the table is summarized.
    void complete();
    void failed(const QString& message);

private:
    void step();
    bool forward(qint64 tableMax);
    bool backward(qint64 tableMin);
    // Reads the rows with ids in [first, last] into a batch; oldest gets their earliest time.
    bool readBatch(qint64 first, qint64 last, bool descending, SampleSummary* batch,
                   qint64* oldest);
    bool loadSnapshot();
    bool saveSnapshot();
    QByteArray fingerprint(qint64 id);

    QString m_databasePath;
    std::shared_ptr<SummaryCache> m_cache;
    std::unique_ptr<SampleReader> m_store;
    QTimer* m_pollTimer = nullptr;
    int m_pollInterval = 2000;
    qint64 m_lowId = 1;
    qint64 m_highId = 0;
    bool m_building = false;
    bool m_dirty = false;
    bool m_stopped = false;
    bool m_held = false;
    qint64 m_rowsRead = 0;
};
