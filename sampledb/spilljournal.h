#pragma once

#include "writeentry.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <vector>

class InsertSerialData;

// The writes the database could not take in time (it was locked, being indexed, failing, or the
// program was ending), kept in a file of their own beside it, "<database>-pending": appended and
// synced to the disk at once, and replayed into the database in order and exactly once. The
// position replayed up to is committed in the same transaction as the replayed rows, in the
// database's state table under the journal's identity: a crash in the middle of a replay, or
// between its last commit and the removal of the file, writes nothing twice. A record cut short
// at the end (the program died while appending it) is ignored; one whose checksum fails before
// the end stops the replay there, and the file is kept aside for a person to look at.
//
// The file, little-endian:
//   header, 32 bytes: "QMSPILL\0", version (u16, 1), header size (u16, 32), identity (16 random
//     bytes), CRC-32 of the 28 bytes before it.
//   records, one after the other: payload length (u32), type (u8: 1 entries), 3 bytes zero, the
//     payload, CRC-32 of the record's bytes before it (u32).
//   entries payload: count (u32), then each entry: its kind (u8: 1 sample, 2 job) and
//     sample: serial number length (u16) and UTF-8 bytes, channel 1 and 2 (IEEE doubles, the
//       no-value marker as is), time (u32 Unix seconds);
//     job: kind (u16), the submitter's ticket (u64), values length (u32) and
//       WriteJob::encodedValues().
class SpillJournal
{
public:
    static constexpr quint16 Version = 1;
    static constexpr int HeaderSize = 32;
    // Entries per record, and per replay transaction.
    static constexpr size_t RecordEntries = 4096;

    static QString pathFor(const QString& databasePath);

    explicit SpillJournal(const QString& path);
    SpillJournal(const SpillJournal&) = delete;
    SpillJournal& operator=(const SpillJournal&) = delete;

    const QString& path() const { return filePath; }

    // Reads the file, when there is one: its identity and where its whole records end. A torn
    // record at the end is cut off, so that appends follow the last whole one. False with the
    // reason when the file is no journal of a version this program reads: it is then neither
    // appended to nor replayed.
    bool load(QString* error);
    // True while the file holds records (replayed or not).
    bool hasRecords() const { return validEnd > HeaderSize; }
    // True when a record before the end failed its checksum: what follows it cannot be read.
    bool isDamaged() const { return damaged; }
    bool isUsable() const { return usable; }

    // Appends the first `count` entries as records and syncs the file (and, for a new file, its
    // folder). On failure (a full disk) the file is cut back to where it was: false, with the
    // reason, and the entries are to be kept elsewhere.
    bool append(const std::deque<WriteEntry>& entries, size_t count, QString* error);

    // The samples and jobs of the records after `position` (a byte offset; a position before the
    // first record means all of them).
    void count(qint64 position, qint64* samples, qint64* jobs) const;

    struct Replayed
    {
        qint64 samples = 0;
        qint64 jobs = 0;
        // The jobs' tickets with the row ids they wrote.
        std::vector<std::pair<quint64, qint64>> tickets;
    };
    // Replays the records after the position the database holds for this journal, up to about
    // `maxEntries` entries, in transactions of RecordEntries entries each with the position; the
    // file goes once every record is in the database. Returns false when a transaction failed
    // (the rest waits); `replayed` gets what was written either way.
    bool replayInto(InsertSerialData* writer, size_t maxEntries, Replayed* replayed,
                    QString* error);
    // Reads the position the database holds for this journal (0 when none).
    qint64 replayedPosition(InsertSerialData* writer) const;

    // Forgets every record (the user discarded what waits): the file goes.
    bool discard(QString* error);

    // The name in the state table of this journal's replay position.
    QString positionName() const;

private:
    struct Scan
    {
        qint64 end = HeaderSize;
        bool torn = false;
        bool damaged = false;
    };
    bool create(QString* error);
    bool scan(Scan* result, QString* error) const;
    // Whole records from `position` on, until they hold at least `maxEntries` entries.
    bool read(qint64 position, size_t maxEntries, std::vector<WriteEntry>* entries, qint64* end,
              QString* error) const;
    bool finish(QString* error);

    QString filePath;
    QByteArray identity;
    qint64 validEnd = 0;
    bool damaged = false;
    bool usable = true;
};
