#include "auditverifier.h"

#include "audittrail.h"
#include "sampleseal.h"
#include "sealdigest.h"
#include "sqlitestatement.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>

#include <sqlite3.h>

#include <map>
#include <set>

namespace {

struct Seal
{
    qint64 rows = 0;
    QByteArray digest;
    qint64 sequence = 0;
};

QString quarterText(qint64 quarter)
{
    return QStringLiteral("quarter ") +
           QDateTime::fromSecsSinceEpoch(quarter * SampleSeal::QuarterSeconds)
               .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString rowsText(qint64 rows)
{
    return rows == 1 ? QStringLiteral("1 row") : QString::number(rows) + QStringLiteral(" rows");
}

QString entryText(qint64 sequence)
{
    return QStringLiteral("entry ") + QString::number(sequence);
}

QString shortHash(const QByteArray& hash)
{
    return QString::fromLatin1(hash.left(16)) + QStringLiteral("...");
}

bool tableExists(sqlite3* db, const char* name, bool* exists, QString* error)
{
    SqliteStatement s(db, "select 1 from sqlite_master where type = 'table' and name = ?");
    if (!s.isValid()) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    sqlite3_bind_text(s.get(), 1, name, -1, SQLITE_STATIC);
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    *exists = rc == SQLITE_ROW;
    return true;
}

struct Connection
{
    sqlite3* db = nullptr;
    ~Connection() { sqlite3_close(db); }
};

// The chain in order: links, hashes, sequence; the seals it holds, the hashes of the heads asked
// for, the further checks' view of each entry.
class ChainPass
{
public:
    ChainPass(const QVector<AuditVerifier::Head>& heads,
              const QVector<AuditVerifier::Check>& further)
        : checks(further)
    {
        for (const AuditVerifier::Head& head : heads)
            wanted.insert(head.sequence, QByteArray());
    }

    void add(const AuditEntry& e)
    {
        ++count;
        const qint64 expected = last.sequence + 1;
        const QByteArray expectedPrevious =
            last.sequence == 0 && count == 1 ? AuditTrail::firstPreviousHash() : last.hash;
        if (firstBreak.isEmpty()) {
            if (AuditTrail::hashOf(e) != e.hash)
                firstBreak = entryText(e.sequence) +
                             QStringLiteral(": its content does not match its hash (changed "
                                            "after it was written)");
            else if (e.sequence != expected)
                firstBreak = entryText(e.sequence) + QStringLiteral(": ") +
                             (e.sequence == expected + 1
                                  ? QString(entryText(expected) +
                                            QStringLiteral(" before it is missing"))
                                  : QString(QStringLiteral("entries ") + QString::number(expected) +
                                            QStringLiteral(" to ") +
                                            QString::number(e.sequence - 1) +
                                            QStringLiteral(" before it are missing")));
            else if (e.previousHash != expectedPrevious)
                firstBreak = entryText(e.sequence) +
                             QStringLiteral(": not linked to the entry before it (its previous "
                                            "hash is not that entry's hash)");
        }
        last.sequence = e.sequence;
        last.hash = e.hash;
        auto found = wanted.find(e.sequence);
        if (found != wanted.end())
            found.value() = e.hash;
        qint64 quarter = 0;
        Seal seal;
        if (SampleSeal::parseEntry(e, &quarter, &seal.rows, &seal.digest)) {
            seal.sequence = e.sequence;
            seals[quarter] = seal;
        }
        for (const AuditVerifier::Check& check : checks) {
            if (check.entry)
                check.entry(e);
        }
    }

    const QVector<AuditVerifier::Check>& checks;
    qint64 count = 0;
    AuditVerifier::Head last;
    QString firstBreak;
    QHash<qint64, QByteArray> wanted;
    std::map<qint64, Seal> seals;
};

bool readChain(sqlite3* db, ChainPass* pass, QString* error)
{
    return AuditTrail::forEach(db, [pass](const AuditEntry& e) { pass->add(e); }, error);
}

// The writer's own list of the quarters it sealed: a seal it lists beyond the chain's end was
// cut off the chain.
bool listedBeyondChain(sqlite3* db, qint64 lastSequence, qint64* sequence, qint64* quarter,
                       QString* error)
{
    bool exists = false;
    if (!tableExists(db, "quorbinal_seals", &exists, error))
        return false;
    *sequence = 0;
    if (!exists)
        return true;
    SqliteStatement s(db, "select sequence, quarter from quorbinal_seals where sequence > ? "
                          "order by sequence limit 1");
    if (!s.isValid()) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    sqlite3_bind_int64(s.get(), 1, lastSequence);
    if (sqlite3_step(s.get()) == SQLITE_ROW) {
        *sequence = sqlite3_column_int64(s.get(), 0);
        *quarter = sqlite3_column_int64(s.get(), 1);
    }
    return true;
}

} // namespace

QVector<AuditVerifier::Head> AuditVerifier::parseHeads(const QByteArray& text)
{
    static const QRegularExpression form(QStringLiteral(
        "(?<![0-9A-Za-z])(\\d{1,18})(?![0-9A-Za-z]).*?(?<![0-9A-Fa-f])([0-9A-Fa-f]{64})(?![0-9A-Fa-f])"));
    QVector<Head> heads;
    for (const QByteArray& line : text.split('\n')) {
        const QRegularExpressionMatch match = form.match(QString::fromUtf8(line));
        if (!match.hasMatch())
            continue;
        Head head;
        head.sequence = match.captured(1).toLongLong();
        head.hash = match.captured(2).toLower().toLatin1();
        heads.append(head);
    }
    return heads;
}

bool AuditVerifier::verify(const QString& path, Result* result, QString* error) const
{
    *result = Result();
    Connection connection;
    if (sqlite3_open_v2(path.toUtf8().constData(), &connection.db, SQLITE_OPEN_READONLY,
                        nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(connection.db));
        return false;
    }
    sqlite3* db = connection.db;
    sqlite3_busy_timeout(db, 5000);
    // One pass over a file of gigabytes: its pages mapped rather than copied into a cache.
    sqlite3_exec(db, "pragma mmap_size = 68719476736", nullptr, nullptr, nullptr);
    // One read transaction: the chain and the rows as of one moment, while a recorder writes.
    if (sqlite3_exec(db, "begin", nullptr, nullptr, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    bool hasSamples = false;
    if (!tableExists(db, "quorbinal", &hasSamples, error))
        return false;

    ChainPass chain(heads, checks);
    if (!readChain(db, &chain, error))
        return false;
    result->head = chain.last;
    if (chain.count == 0) {
        result->checked << QStringLiteral("Audit trail: no entries");
    } else {
        result->checked << QStringLiteral("Audit trail: ") + QString::number(chain.count) +
                               (chain.count == 1 ? QStringLiteral(" entry") : QStringLiteral(" entries")) +
                               QStringLiteral(", every hash recomputed and every link checked");
        AuditEntry head;
        head.sequence = chain.last.sequence;
        head.hash = chain.last.hash;
        result->checked << AuditTrail::headLine(head);
    }
    if (!chain.firstBreak.isEmpty())
        result->findings << chain.firstBreak;
    qint64 cutSequence = 0;
    qint64 cutQuarter = 0;
    if (!listedBeyondChain(db, chain.last.sequence, &cutSequence, &cutQuarter, error))
        return false;
    if (cutSequence > 0)
        result->findings << entryText(cutSequence) + QStringLiteral(" (the seal of ") +
                                quarterText(cutQuarter) +
                                QStringLiteral(") is missing: the chain ends at entry ") +
                                QString::number(chain.last.sequence);

    if (!heads.isEmpty()) {
        result->checked << QStringLiteral("Heads witnessed outside: ") +
                               QString::number(heads.size());
        for (const Head& head : heads) {
            const QByteArray stored = chain.wanted.value(head.sequence);
            if (stored.isEmpty())
                result->findings << entryText(head.sequence) +
                                        QStringLiteral(", witnessed outside with SHA-256 ") +
                                        shortHash(head.hash) +
                                        QStringLiteral(", is missing: the chain ends at entry ") +
                                        QString::number(chain.last.sequence);
            else if (stored != head.hash)
                result->findings << entryText(head.sequence) +
                                        QStringLiteral(": its hash ") + shortHash(stored) +
                                        QStringLiteral(" is not the one witnessed outside, ") +
                                        shortHash(head.hash) +
                                        QStringLiteral(" (the chain was rewritten)");
        }
    }

    // The samples, one pass in the order they are stored, folded by quarter and node.
    if (hasSamples) {
        const bool sealing = !chain.seals.empty();
        const qint64 firstSealed = sealing ? chain.seals.begin()->first : 0;
        const qint64 newestSealed = sealing ? chain.seals.rbegin()->first : 0;
        SqliteStatement rows(db, "select id, serialno, pointDate, channel1, channel2 from "
                                 "quorbinal");
        if (!rows.isValid()) {
            *error = QString::fromUtf8(sqlite3_errmsg(db));
            return false;
        }
        const qint64 now = nowSeconds >= 0 ? nowSeconds : QDateTime::currentSecsSinceEpoch();
        auto running = [now](qint64 quarter) {
            return (quarter + 1) * SampleSeal::QuarterSeconds + 2 * SampleSeal::MarginSeconds > now;
        };
        // The sealed quarters not yet ended: the first rows by id, as many as the seal holds
        // (the table is read in the order of its ids).
        std::map<qint64, SealDigest> prefixes;
        for (auto sealed = chain.seals.rbegin();
             sealed != chain.seals.rend() && running(sealed->first); ++sealed)
            prefixes[sealed->first];
        std::map<qint64, SealDigest> folds;
        qint64 total = 0;
        qint64 before = 0;
        std::set<qint64> beforeQuarters;
        qint64 notATime = 0;
        qint64 firstNotATime = 0;
        qint64 lastQuarter = 0;
        SealDigest* lastFold = nullptr;
        int rc;
        while ((rc = sqlite3_step(rows.get())) == SQLITE_ROW) {
            ++total;
            qint64 quarter = 0;
            if (!SealDigest::quarterOf(rows.get(), 2, &quarter)) {
                if (notATime++ == 0)
                    firstNotATime = sqlite3_column_int64(rows.get(), 0);
                continue;
            }
            if (!sealing || quarter < firstSealed) {
                ++before;
                beforeQuarters.insert(quarter);
                continue;
            }
            if (!lastFold || quarter != lastQuarter) {
                lastFold = &folds[quarter];
                lastQuarter = quarter;
            }
            lastFold->addRow(rows.get());
            if (!prefixes.empty()) {
                auto prefix = prefixes.find(quarter);
                if (prefix != prefixes.end() &&
                    prefix->second.rows() < chain.seals.at(quarter).rows)
                    prefix->second.addRow(rows.get());
            }
        }
        if (rc != SQLITE_DONE) {
            *error = QString::fromUtf8(sqlite3_errmsg(db));
            return false;
        }
        result->checked << QStringLiteral("Samples: ") + rowsText(total) + QStringLiteral(" read");
        if (sealing)
            result->checked << QStringLiteral("Seals: ") + QString::number(chain.seals.size()) +
                                   (chain.seals.size() == 1 ? QStringLiteral(" quarter")
                                                            : QStringLiteral(" quarters")) +
                                   QStringLiteral(" sealed, from ") +
                                   quarterText(firstSealed) + QStringLiteral(" to ") +
                                   quarterText(newestSealed) +
                                   QStringLiteral(", each against its newest seal");
        else
            result->checked << QStringLiteral("Seals: none");
        if (before > 0)
            result->checked << rowsText(before) + QStringLiteral(" in ") +
                                   QString::number(beforeQuarters.size()) +
                                   (beforeQuarters.size() == 1 ? QStringLiteral(" quarter")
                                                               : QStringLiteral(" quarters")) +
                                   QStringLiteral(" recorded before sealing began (not protected "
                                                  "by a seal)");
        if (notATime > 0)
            result->findings << QStringLiteral("row ") + QString::number(firstNotATime) +
                                    QStringLiteral(": its time is not a number (") +
                                    rowsText(notATime) + QStringLiteral(" in all)");

        std::set<qint64> quarters;
        for (const auto& sealed : chain.seals)
            quarters.insert(sealed.first);
        for (const auto& folded : folds)
            quarters.insert(folded.first);
        QStringList broken;
        for (const qint64 quarter : quarters) {
            auto fold = folds.find(quarter);
            const qint64 rowsNow = fold == folds.end() ? 0 : fold->second.rows();
            const QByteArray digestNow =
                fold == folds.end() ? SealDigest().result() : fold->second.result();
            auto sealed = chain.seals.find(quarter);
            if (sealed == chain.seals.end()) {
                const bool recording = quarter > newestSealed && running(quarter);
                if (recording)
                    result->checked << quarterText(quarter) + QStringLiteral(": ") +
                                           rowsText(rowsNow) +
                                           QStringLiteral(", still being recorded (not sealed "
                                                          "yet)");
                else
                    broken << quarterText(quarter) + QStringLiteral(": ") + rowsText(rowsNow) +
                                  QStringLiteral(", not sealed");
                continue;
            }
            const Seal& seal = sealed->second;
            auto prefix = prefixes.find(quarter);
            if (prefix != prefixes.end() && rowsNow > seal.rows &&
                prefix->second.rows() == seal.rows && prefix->second.result() == seal.digest) {
                result->checked << quarterText(quarter) + QStringLiteral(": ") + rowsText(rowsNow) +
                                       QStringLiteral(", the first ") + QString::number(seal.rows) +
                                       QStringLiteral(" sealed before its end (seal ") +
                                       entryText(seal.sequence) +
                                       QStringLiteral("), still being recorded");
                continue;
            }
            if (seal.rows != rowsNow)
                broken << quarterText(quarter) + QStringLiteral(": ") + rowsText(seal.rows) +
                              QStringLiteral(" sealed, ") + QString::number(rowsNow) +
                              QStringLiteral(" now (seal ") +
                              entryText(seal.sequence) + QLatin1Char(')');
            else if (seal.digest != digestNow)
                broken << quarterText(quarter) + QStringLiteral(": ") + rowsText(rowsNow) +
                              QStringLiteral(" sealed and now, but not the rows sealed (seal ") +
                              entryText(seal.sequence) + QLatin1Char(')');
        }
        for (int i = 0; i < broken.size() && i < ListedQuarters; ++i)
            result->findings << broken.at(i);
        if (broken.size() > ListedQuarters)
            result->findings << QStringLiteral("and ") +
                                    QString::number(broken.size() - ListedQuarters) +
                                    QStringLiteral(" more quarters");
    }

    for (const Check& check : checks) {
        if (check.finish)
            check.finish(db, result);
    }
    return true;
}
