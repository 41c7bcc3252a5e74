#include "indexbuilder.h"
#include "insertserialdata.h"
#include "kinetictable.h"
#include "novalue.h"
#include "samplereader.h"
#include "sampletable.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include <sqlite3.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SampleRecord)

namespace {

const char* const ExpectedSchema =
    "CREATE TABLE quorbinal (\t\tid integer primary key autoincrement,\t\tserialno varchar(18) not "
    "null, \t\tchannel1 float, channel2 float, \t\tpointDate integer not null\t\t)";

QString freshName()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

SampleRecord sample(const QString& node, double ch1, double ch2, quint32 time)
{
    SampleRecord r;
    r.deviceNumber = node;
    r.channel1 = ch1;
    r.channel2 = ch2;
    r.pointDate = time;
    return r;
}

// A second connection of the test's own to the same file, to look at what the writer stored or
// to hold locks against it.
class Peer
{
public:
    explicit Peer(const QString& path) : name(QStringLiteral("peer-") + freshName())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
    }
    ~Peer()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

    bool exec(const QString& sql) const
    {
        QSqlQuery q(db());
        return q.exec(sql);
    }
    QVariant scalar(const QString& sql) const
    {
        QSqlQuery q(db());
        if (!q.exec(sql) || !q.next())
            return QStringLiteral("<query failed: %1>").arg(q.lastError().text());
        return q.value(0);
    }
    // Rows in id order, columns serialno, channel1, channel2, pointDate.
    QList<QVariantList> rows() const
    {
        QList<QVariantList> result;
        QSqlQuery q(db());
        if (!q.exec(QStringLiteral(
                "select serialno, channel1, channel2, pointDate from quorbinal order by id")))
            return result;
        while (q.next())
            result.append({q.value(0), q.value(1), q.value(2), q.value(3)});
        return result;
    }
    int count() const { return scalar(QStringLiteral("select count(*) from quorbinal")).toInt(); }

private:
    QString name;
};

// Collects the messages written while it lives; installs no output of its own.
class MessageLog
{
public:
    MessageLog()
    {
        current = this;
        previous = qInstallMessageHandler(&MessageLog::handle);
    }
    ~MessageLog()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }
    int count(const QString& text) const { return lines.count(text); }
    int countStartingWith(const QString& head) const
    {
        int n = 0;
        for (const QString& line : lines)
            n += line.startsWith(head) ? 1 : 0;
        return n;
    }
    QStringList lines;

private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString& text)
    {
        if (current)
            current->lines.append(text);
    }
    static MessageLog* current;
    QtMessageHandler previous = nullptr;
};
MessageLog* MessageLog::current = nullptr;

// Root passes every permission check; without these capabilities in its effective set, this
// thread is bound by file modes like any user. Restored on destruction.
class WithoutPermissionOverride
{
public:
    WithoutPermissionOverride()
    {
        header.version = _LINUX_CAPABILITY_VERSION_3;
        header.pid = 0;
        if (syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        changed = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~WithoutPermissionOverride()
    {
        if (changed)
            syscall(SYS_capset, &header, saved);
    }

private:
    __user_cap_header_struct header{};
    __user_cap_data_struct saved[2]{};
    bool changed = false;
};

bool canWrite(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite);
}

QString figureText(const QVariant& value)
{
    return value.isNull() ? QStringLiteral("-") : QString::number(value.toDouble(), 'f', 6);
}

// The summary worked out from the rows: per node and quarter hour the rows, whether a second
// holds two, and per channel count, sum, the minimum and the maximum with the first time each
// was measured. One text a bucket.
QStringList summaryOfRows(const QList<QVariantList>& rows)
{
    struct Channel
    {
        int count = 0;
        double sum = 0;
        QVariant min, minTime, max, maxTime;
    };
    struct Bucket
    {
        int rows = 0;
        bool dirty = false;
        Channel channel[2];
    };
    QMap<QPair<QString, qint64>, Bucket> buckets;
    QSet<QPair<QString, qint64>> seconds;
    for (const QVariantList& row : rows) {
        const QString serial = row[0].toString();
        const qint64 time = row[3].toLongLong();
        Bucket& b = buckets[{serial, time / SampleTable::BucketSeconds}];
        ++b.rows;
        b.dirty = b.dirty || seconds.contains({serial, time});
        seconds.insert({serial, time});
        for (int c = 0; c < 2; ++c) {
            if (row[1 + c].isNull())
                continue;
            const double v = row[1 + c].toDouble();
            Channel& ch = b.channel[c];
            const double min = ch.min.toDouble();
            const double max = ch.max.toDouble();
            if (ch.count == 0 || v < min || (v == min && time < ch.minTime.toLongLong()))
                ch.min = v, ch.minTime = time;
            if (ch.count == 0 || v > max || (v == max && time < ch.maxTime.toLongLong()))
                ch.max = v, ch.maxTime = time;
            ++ch.count;
            ch.sum += v;
        }
    }
    QStringList texts;
    for (auto it = buckets.cbegin(); it != buckets.cend(); ++it) {
        QStringList parts{it.key().first, QString::number(it.key().second),
                          QString::number(it->rows), QString::number(it->dirty ? 1 : 0)};
        for (const Channel& ch : it->channel)
            parts << QString::number(ch.count)
                  << figureText(ch.count ? QVariant(ch.sum) : QVariant()) << figureText(ch.min)
                  << ch.minTime.toString() << figureText(ch.max) << ch.maxTime.toString();
        texts << parts.join(QLatin1Char(' '));
    }
    return texts;
}

QStringList summaryTable(const QSqlDatabase& db)
{
    QStringList texts;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("select serialno, bucket, rowCount, dirty, count1, sum1, min1, "
                               "minTime1, max1, maxTime1, count2, sum2, min2, minTime2, max2, "
                               "maxTime2 from quorbinal_summary order by serialno, bucket")))
        return {q.lastError().text()};
    while (q.next()) {
        QStringList parts;
        for (int i = 0; i < 16; ++i) {
            const bool figure = i >= 4 && (i - 4) % 6 != 0 && (i - 4) % 6 != 3 && (i - 4) % 6 != 5;
            parts << (figure ? figureText(q.value(i)) : q.value(i).toString());
        }
        texts << parts.join(QLatin1Char(' '));
    }
    return texts;
}

// Per node and bucket, what the kinetic sums must hold by their definition, from the rows in time
// order: the rows, and per channel the count, the first and last value with their times, the
// longest spacing and the sums of spacing * e^(-10000 K / T) of the earlier value, T as degC and
// as degF ("-" without values).
QMap<QString, QString> kineticOfRows(QList<QVariantList> rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const QVariantList& a, const QVariantList& b) {
        return a[3].toLongLong() < b[3].toLongLong();
    });
    QMap<QString, QList<QVariantList>> buckets;
    for (const QVariantList& row : rows)
        buckets[row[0].toString() + QLatin1Char(' ') +
                QString::number(row[3].toLongLong() / SampleTable::BucketSeconds)]
            << row;
    auto text = [](double v) { return QString::number(v, 'g', 12); };
    const double ratio = 83.144 / 8.3144e-3; // dH/R of the default activation energy, K
    QMap<QString, QString> texts;
    for (auto it = buckets.cbegin(); it != buckets.cend(); ++it) {
        QStringList parts{text(it->size())};
        for (int c = 1; c <= 2; ++c) {
            QVector<QPair<double, double>> values; // time, value
            for (const QVariantList& row : *it) {
                if (!row[c].isNull() && row[c].toDouble() != NoValue)
                    values.append({row[3].toDouble(), row[c].toDouble()});
            }
            double longest = 0, celsius = 0, fahrenheit = 0;
            for (int i = 1; i < values.size(); ++i) {
                const double spacing = values[i].first - values[i - 1].first;
                const double v = values[i - 1].second;
                longest = qMax(longest, spacing);
                celsius += spacing * std::exp(-ratio / (v + 273.15));
                fahrenheit += spacing * std::exp(-ratio / ((v - 32) * 5 / 9 + 273.15));
            }
            parts << text(values.size());
            for (int i = 0; values.isEmpty() && i < 7; ++i)
                parts << QStringLiteral("-");
            if (!values.isEmpty())
                parts << text(values.first().first) << text(values.first().second)
                      << text(values.last().first) << text(values.last().second) << text(longest)
                      << text(celsius) << text(fahrenheit);
        }
        texts.insert(it.key(), parts.join(QLatin1Char(' ')));
    }
    return texts;
}

// The kinetic sums as the file holds them, in kineticOfRows()'s form; "broken" for a bucket the
// writer or the build could not follow.
QMap<QString, QString> kineticTable(const QSqlDatabase& db)
{
    QMap<QString, QString> texts;
    QSqlQuery q(db);
    q.exec(QStringLiteral("select serialno || ' ' || bucket, rowCount, count1, firstTime1, first1, "
                          "lastTime1, last1, longest1, celsius1, fahrenheit1, count2, firstTime2, "
                          "first2, lastTime2, last2, longest2, celsius2, fahrenheit2 from "
                          "quorbinal_kinetic"));
    while (q.next()) {
        QStringList parts;
        for (int i = 1; i < 18; ++i)
            parts << (q.value(i).isNull() ? QStringLiteral("-")
                                          : QString::number(q.value(i).toDouble(), 'g', 12));
        texts.insert(q.value(0).toString(), q.value(1).toLongLong() < 0
                                                ? QStringLiteral("broken")
                                                : parts.join(QLatin1Char(' ')));
    }
    return texts;
}

} // namespace

class TestInsertSerialData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void createsFileThenFindsTable();
    void pragmasOfTheFile();
    void channelsStored_data();
    void channelsStored();
    void documentedBatch();
    void deviceNumberVerbatim_data();
    void deviceNumberVerbatim();
    void identicalRecordsStoredOnce_data();
    void identicalRecordsStoredOnce();
    void largeFlushSplitInOneTransaction_data();
    void largeFlushSplitInOneTransaction();
    void flushWithoutWorkDoesNothing();
    void rangeQueries_data();
    void rangeQueries();
    void rangeQueryFailureGivesZero();
    void summaryFollowsRows_data();
    void summaryFollowsRows();
    void interruptedSummaryLeavesFile();
    void reusesRegisteredConnection();
    void failedConnectionNotReused();
    void destructorRemovesConnection();
    void samplesNeverReachAnotherFile();
    void lockedFileKeepsBatchInOrder();
    void lockedFileAtOpenFails();
    void notSqliteFile_data();
    void notSqliteFile();
    void readOnlyFile_data();
    void readOnlyFile();
    void queueBoundDropsOldest();
    void longRecordingKeepsCacheSmall();

private:
    // Opens a writer on a new file in the test's directory.
    std::unique_ptr<InsertSerialData> openWriter(const QString& file = QStringLiteral("db.dat"));
    QString path(const QString& file = QStringLiteral("db.dat")) const
    {
        return dir->filePath(file);
    }

    std::unique_ptr<QTemporaryDir> dir;
};

void TestInsertSerialData::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")));
}

void TestInsertSerialData::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestInsertSerialData::cleanup()
{
    dir.reset();
}

std::unique_ptr<InsertSerialData> TestInsertSerialData::openWriter(const QString& file)
{
    auto writer = std::make_unique<InsertSerialData>(path(file), freshName());
    if (!writer->createConnection())
        return nullptr;
    return writer;
}

// Catches: file or table not created, a wrong schema, a new file without the range index or the
// summary, or an existing table created again.
void TestInsertSerialData::createsFileThenFindsTable()
{
    QVERIFY(!QFile::exists(path()));
    {
        QTest::ignoreMessage(QtDebugMsg, "InsertSerialData::createTable : create table");
        QTest::ignoreMessage(QtDebugMsg, "InsertSerialData::createConnection : success");
        auto writer = openWriter();
        QVERIFY(writer);
        QVERIFY(QFile::exists(path()));
        writer->queueSample(sample(QStringLiteral("N1"), 1, 2, 10));
        writer->insertNow();
    }
    {
        QTest::ignoreMessage(QtDebugMsg, "InsertSerialData::createTable : table exist");
        QTest::ignoreMessage(QtDebugMsg, "InsertSerialData::createConnection : success");
        auto writer = openWriter();
        QVERIFY(writer);
        writer->queueSample(sample(QStringLiteral("N1"), 3, 4, 20));
        writer->insertNow();
    }
    Peer peer(path());
    QCOMPARE(peer.scalar(QStringLiteral("select sql from sqlite_master where name='quorbinal'"))
                 .toString()
                 .replace(QLatin1String("create table"), QLatin1String("CREATE TABLE")),
             QString::fromLatin1(ExpectedSchema));
    // The table, its range index, its summary and the kinetic sums, made together with the file.
    QCOMPARE(peer.scalar(QStringLiteral("select group_concat(name) from sqlite_master where type "
                                        "in ('table','index','trigger') and name not like "
                                        "'sqlite_%'"))
                 .toString(),
             QStringLiteral("quorbinal,") + SampleTable::indexName() + QLatin1Char(',') +
                 SampleTable::stateName() + QLatin1Char(',') + SampleTable::summaryName() +
                 QLatin1Char(',') + SampleTable::changesName() + QLatin1Char(',') +
                 SampleTable::triggerNames().join(QLatin1Char(',')) + QLatin1Char(',') +
                 KineticTable::name());
    QVERIFY(SampleTable::hasIndex(peer.db()));
    QVERIFY(SampleReader(path()).hasSummary());
    const auto rows = peer.rows();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0][3].toInt(), 10);
    QCOMPARE(rows[1][3].toInt(), 20);
}

// Catches: the journal left off (a crash corrupts the file), the page and cache sizes lost, or
// temporary data on disk (every flush with the index wrote a temporary file).
void TestInsertSerialData::pragmasOfTheFile()
{
    const QString name = freshName();
    InsertSerialData writer(path(), name);
    QVERIFY(writer.createConnection());
    QSqlQuery q(QSqlDatabase::database(name + QStringLiteral("filedb"), false));
    auto pragma = [&q](const char* sql) {
        return q.exec(QLatin1String(sql)) && q.next() ? q.value(0) : QVariant();
    };
    QCOMPARE(pragma("PRAGMA page_size").toInt(), 4096);
    QCOMPARE(pragma("PRAGMA cache_size").toInt(), 65536);
    // A flush that meets another program's lock gives up before the window notices.
    QCOMPARE(pragma("PRAGMA busy_timeout").toInt(), InsertSerialData::FlushBusyTimeoutMs);
    // A flush's statement journal, a page per node with the index, never spills to a file.
    QCOMPARE(pragma("PRAGMA temp_store").toInt(), 2);
    QCOMPARE(pragma("PRAGMA journal_mode").toString(), QStringLiteral("wal"));
    q.finish();
    // WAL is a property of the file: the report generator's own connection finds it too.
    Peer peer(path());
    QCOMPARE(peer.scalar(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
}

void TestInsertSerialData::channelsStored_data()
{
    QTest::addColumn<double>("ch1");
    QTest::addColumn<double>("ch2");
    QTest::addColumn<QVariant>("stored1"); // null QVariant: NULL in the file
    QTest::addColumn<QVariant>("stored2");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QVariant null;
    QTest::newRow("two decimals") << 21.5 << 45.25 << QVariant(21.5) << QVariant(45.25);
    QTest::newRow("below 10000 kept") << 1234.56 << -40.01 << QVariant(1234.56) << QVariant(-40.01);
    QTest::newRow("six digits") << 12345.67 << 99999.99 << QVariant(12345.7) << QVariant(100000.0);
    QTest::newRow("exponent") << 1234567.0 << 0.00001234 << QVariant(1234570.0)
                              << QVariant(1.234e-05);
    QTest::newRow("zero") << 0.0 << -0.0 << QVariant(0.0) << QVariant(0.0);
    QTest::newRow("channel 1 missing") << NoValue << 45.25 << null << QVariant(45.25);
    QTest::newRow("channel 2 missing") << 21.5 << NoValue << QVariant(21.5) << null;
    QTest::newRow("gap record") << NoValue << NoValue << null << null;
    QTest::newRow("NaN") << nan << 12.0 << null << QVariant(12.0);
    QTest::newRow("infinity") << inf << -inf << null << null;
    QTest::newRow("largest finite")
        << std::numeric_limits<double>::max() << 1.0 << QVariant(1.79769e308) << QVariant(1.0);
}

// Catches: wrong rounding of stored values, non-finite values stored as text or read back as 0,
// a missing channel stored as a number.
void TestInsertSerialData::channelsStored()
{
    QFETCH(double, ch1);
    QFETCH(double, ch2);
    QFETCH(QVariant, stored1);
    QFETCH(QVariant, stored2);

    auto writer = openWriter();
    QVERIFY(writer);
    writer->queueSample(sample(QStringLiteral("N1"), ch1, ch2, 1700000000));
    writer->insertNow();
    QCOMPARE(writer->pendingCount(), 0);

    Peer peer(path());
    QSqlQuery q(peer.db());
    QVERIFY(q.exec(QStringLiteral("select channel1, channel2, typeof(channel1), typeof(channel2), "
                                  "serialno, pointDate from quorbinal")));
    QVERIFY(q.next());
    const QVariant stored[2] = {stored1, stored2};
    for (int c = 0; c < 2; ++c) {
        if (stored[c].isNull()) {
            QCOMPARE(q.value(2 + c).toString(), QStringLiteral("null"));
            QVERIFY(q.value(c).isNull());
        } else {
            QCOMPARE(q.value(2 + c).toString(), QStringLiteral("real"));
            QCOMPARE(q.value(c).toDouble(), stored[c].toDouble());
        }
    }
    QCOMPARE(q.value(4).toString(), QStringLiteral("N1"));
    QCOMPARE(q.value(5).toLongLong(), 1700000000LL);
    QVERIFY(!q.next());
}

// Catches: the two-record example of a node with values and a node without values stored wrong.
void TestInsertSerialData::documentedBatch()
{
    auto writer = openWriter();
    QVERIFY(writer);
    writer->queueSample(sample(QStringLiteral("N1"), 21.5, 45.25, 100));
    writer->queueSample(sample(QStringLiteral("N2"), NoValue, NoValue, 110));
    QCOMPARE(writer->pendingCount(), 2);
    writer->insertNow();
    QCOMPARE(writer->pendingCount(), 0);

    Peer peer(path());
    auto rows = peer.rows();
    std::sort(rows.begin(), rows.end(), [](const QVariantList& a, const QVariantList& b) {
        return a[3].toInt() < b[3].toInt();
    });
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0], (QVariantList{QStringLiteral("N1"), 21.5, 45.25, 100}));
    QCOMPARE(rows[1][0].toString(), QStringLiteral("N2"));
    QVERIFY(rows[1][1].isNull());
    QVERIFY(rows[1][2].isNull());
    QCOMPARE(rows[1][3].toInt(), 110);
}

void TestInsertSerialData::deviceNumberVerbatim_data()
{
    QTest::addColumn<QString>("deviceNumber");
    QTest::addColumn<QString>("stored");
    QTest::newRow("single quote") << QStringLiteral("O'Brien") << QStringLiteral("O'Brien");
    QTest::newRow("doubled quote") << QStringLiteral("a''b") << QStringLiteral("a''b");
    QTest::newRow("statement") << QStringLiteral("x'); drop table quorbinal; --")
                               << QStringLiteral("x'); drop table quorbinal; --");
    QTest::newRow("percent and backslash")
        << QStringLiteral("10%\\_?") << QStringLiteral("10%\\_?");
    QTest::newRow("non-ASCII") << QStringLiteral("Kn\u00f6del-\u6e29\u5ea6")
                               << QStringLiteral("Kn\u00f6del-\u6e29\u5ea6");
    QTest::newRow("18 characters")
        << QStringLiteral("ABCDEFGHIJKLMNOPQR") << QStringLiteral("ABCDEFGHIJKLMNOPQR");
    QTest::newRow("empty") << QStringLiteral("") << QStringLiteral("");
    QTest::newRow("null string") << QString() << QStringLiteral("");
}

// Catches: a device number written into the statement unescaped, which breaks or alters the
// whole batch; a null device number that violates "not null" and blocks the queue for good.
void TestInsertSerialData::deviceNumberVerbatim()
{
    QFETCH(QString, deviceNumber);
    QFETCH(QString, stored);

    auto writer = openWriter();
    QVERIFY(writer);
    writer->queueSample(sample(QStringLiteral("before"), 1, 1, 1));
    writer->queueSample(sample(deviceNumber, 2, 2, 2));
    writer->queueSample(sample(QStringLiteral("after"), 3, 3, 3));
    writer->insertNow();
    QCOMPARE(writer->pendingCount(), 0);

    Peer peer(path());
    QCOMPARE(peer.count(), 3);
    const QVariant value =
        peer.scalar(QStringLiteral("select serialno from quorbinal where pointDate = 2"));
    QVERIFY(!value.isNull());
    QCOMPARE(value.toString(), stored);
}

void TestInsertSerialData::identicalRecordsStoredOnce_data()
{
    QTest::addColumn<QList<SampleRecord>>("records");
    QTest::addColumn<int>("rows");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const SampleRecord a = sample(QStringLiteral("N1"), 21.5, 45.25, 100);
    QTest::newRow("same record twice") << QList<SampleRecord>{a, a} << 1;
    QTest::newRow("other time") << QList<SampleRecord>{a, sample(QStringLiteral("N1"), 21.5, 45.25,
                                                                 101)}
                                << 2;
    QTest::newRow("other node") << QList<SampleRecord>{a, sample(QStringLiteral("N2"), 21.5, 45.25,
                                                                 100)}
                                << 2;
    QTest::newRow("same stored value")
        << QList<SampleRecord>{sample(QStringLiteral("N1"), 12345.67, 1, 5),
                               sample(QStringLiteral("N1"), 12345.71, 1, 5)}
        << 1;
    QTest::newRow("two gap records")
        << QList<SampleRecord>{sample(QStringLiteral("N1"), NoValue, NoValue, 7),
                               sample(QStringLiteral("N1"), NoValue, NoValue, 7)}
        << 1;
    QTest::newRow("NaN and no value")
        << QList<SampleRecord>{sample(QStringLiteral("N1"), nan, 2, 7),
                               sample(QStringLiteral("N1"), NoValue, 2, 7)}
        << 1;
    QTest::newRow("no value and a value")
        << QList<SampleRecord>{sample(QStringLiteral("N1"), NoValue, 2, 7),
                               sample(QStringLiteral("N1"), 0, 2, 7)}
        << 2;

    // A batch of several statements: a duplicate in another statement is still merged.
    QList<SampleRecord> big;
    for (int i = 0; i < 1200; ++i)
        big.append(sample(QStringLiteral("N1"), i, 0, static_cast<quint32>(i)));
    big.append(big[3]);
    big.append(big[1100]);
    QTest::newRow("across statements") << big << 1200;
}

// Catches: the merging of identical records within one flush lost, or applied to records that
// differ, or only applied within one statement of a split flush.
void TestInsertSerialData::identicalRecordsStoredOnce()
{
    QFETCH(QList<SampleRecord>, records);
    QFETCH(int, rows);

    auto writer = openWriter();
    QVERIFY(writer);
    for (const SampleRecord& r : records)
        writer->queueSample(r);
    writer->insertNow();
    QCOMPARE(writer->pendingCount(), 0);
    QCOMPARE(Peer(path()).count(), rows);
}

void TestInsertSerialData::largeFlushSplitInOneTransaction_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("statements");
    QTest::newRow("500") << 500 << 1;
    QTest::newRow("501") << 501 << 2;
    QTest::newRow("1000") << 1000 << 2;
    QTest::newRow("5003") << 5003 << 11;
}

// Catches: a flush of more than 500 records failing as a whole (SQLite's compound SELECT limit),
// or its statements committed separately.
void TestInsertSerialData::largeFlushSplitInOneTransaction()
{
    QFETCH(int, records);
    QFETCH(int, statements);

    auto writer = openWriter();
    QVERIFY(writer);
    for (int i = 0; i < records; ++i)
        writer->queueSample(
            sample(QStringLiteral("N%1").arg(i % 16), i * 0.25, -i, static_cast<quint32>(i)));
    {
        MessageLog log;
        writer->insertNow();
        QCOMPARE(log.count(QStringLiteral("begin transaction : true")), 1);
        QCOMPARE(log.count(QStringLiteral("insert query : true")), statements);
        QCOMPARE(log.count(QStringLiteral("insert query : false")), 0);
        QCOMPARE(log.count(QStringLiteral("commit transaction : true")), 1);
    }
    QCOMPARE(writer->pendingCount(), 0);
    Peer peer(path());
    QCOMPARE(peer.count(), records);
    QCOMPARE(peer.scalar(QStringLiteral("select sum(pointDate) from quorbinal")).toLongLong(),
             qlonglong(records) * (records - 1) / 2);
    // Each row kept its own node and values, though nodes share parameters within a statement.
    QCOMPARE(peer.scalar(QStringLiteral("select count(*) from quorbinal where serialno != 'N' || "
                                        "(pointDate % 16) or channel1 != pointDate * 0.25 or "
                                        "channel2 != -pointDate"))
                 .toInt(),
             0);
    // Statements run in queue order: the first 500 ids hold the oldest 500 records.
    QCOMPARE(
        peer.scalar(QStringLiteral("select max(pointDate) from quorbinal where id <= 500")).toInt(),
        std::min(records, 500) - 1);
}

// Catches: an empty flush that still opens a transaction, or a writer without connection that
// throws the queue away.
void TestInsertSerialData::flushWithoutWorkDoesNothing()
{
    auto writer = openWriter();
    QVERIFY(writer);
    {
        MessageLog log;
        writer->insertNow();
        QVERIFY2(log.lines.isEmpty(), qPrintable(log.lines.join(QLatin1Char('\n'))));
    }
    QCOMPARE(Peer(path()).count(), 0);

    InsertSerialData unopened(path(QStringLiteral("other.dat")), freshName());
    unopened.queueSample(sample(QStringLiteral("N1"), 1, 2, 3));
    {
        MessageLog log;
        QVERIFY(!unopened.insertNow());
        QVERIFY(log.lines.isEmpty());
    }
    QCOMPARE(unopened.pendingCount(), 1);
    QVERIFY(!QFile::exists(path(QStringLiteral("other.dat"))));
}

void TestInsertSerialData::rangeQueries_data()
{
    QTest::addColumn<bool>("indexed");
    QTest::newRow("through the index") << true;
    QTest::newRow("file without the index") << false;
}

// Catches: NULL of an empty table read as a time, min and max swapped, a period that differs
// between a file with the index and one without, or a background build that leaves no index
// or reads another period.
void TestInsertSerialData::rangeQueries()
{
    QFETCH(bool, indexed);
    auto writer = openWriter();
    QVERIFY(writer);
    if (!indexed)
        QVERIFY(Peer(path()).exec(QStringLiteral("drop index ") + SampleTable::indexName()));
    QCOMPARE(writer->hasIndex(), indexed);
    const QByteArray epochTrace =
        "InsertSerialData::startDateTime : " +
        QDateTime::fromSecsSinceEpoch(0).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toLatin1();
    QTest::ignoreMessage(QtDebugMsg, epochTrace.constData());
    QCOMPARE(writer->startDateTime(), 0u);
    QCOMPARE(writer->endDateTime(), 0u);

    const quint32 times[] = {1700000300u, 1700000100u, 4000000000u, 1700000200u};
    for (quint32 t : times)
        writer->queueSample(sample(QStringLiteral("N1"), 1, 2, t));
    writer->queueSample(sample(QStringLiteral("N0"), NoValue, NoValue, 1700000150u));
    writer->insertNow();
    const QByteArray endTrace =
        "InsertSerialData::endDateTime : " + QDateTime::fromSecsSinceEpoch(4000000000LL)
                                                 .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                                 .toLatin1();
    QTest::ignoreMessage(QtDebugMsg, endTrace.constData());
    QCOMPARE(writer->endDateTime(), 4000000000u);
    QCOMPARE(writer->startDateTime(), 1700000100u);

    IndexBuilder builder(path());
    builder.start();
    QVERIFY(builder.wait(60000));
    QVERIFY(builder.indexReady());
    QVERIFY(builder.periodKnown());
    QCOMPARE(builder.periodStart(), 1700000100u);
    QCOMPARE(builder.periodEnd(), 4000000000u);
    QVERIFY(writer->hasIndex());
    QCOMPARE(writer->startDateTime(), 1700000100u);
}

// Catches: a failing range query giving a random value instead of 0.
void TestInsertSerialData::rangeQueryFailureGivesZero()
{
    InsertSerialData unopened(path(), freshName());
    QTest::ignoreMessage(QtDebugMsg, "InsertSerialData::startDateTime : query error");
    QTest::ignoreMessage(QtDebugMsg, "InsertSerialData::endDateTime : query error");
    QCOMPARE(unopened.startDateTime(), 0u);
    QCOMPARE(unopened.endDateTime(), 0u);

    // A file without the table, as a foreign SQLite file would be.
    auto writer = openWriter();
    QVERIFY(writer);
    QVERIFY(Peer(path()).exec(QStringLiteral("drop table quorbinal")));
    QTest::ignoreMessage(QtDebugMsg, "InsertSerialData::endDateTime : query error");
    QCOMPARE(writer->endDateTime(), 0u);
}

void TestInsertSerialData::summaryFollowsRows_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("new file: the trigger from the start") << "new";
    QTest::newRow("old file: index and summary built afterwards") << "old";
    QTest::newRow("file with the index: summary built afterwards") << "indexed";
    QTest::newRow("summary of a recorder before the kinetic sums: they are filled afterwards")
        << "summarized";
}

// Catches: a summary that differs from the rows it summarizes: NULLs or gap rows counted, a
// later first minimum or maximum kept among equal ones, a second stored twice not marked (or a
// late but new second marked), rows written in a large flush out of time order, rows stored
// before a background build or after it missed; a build that leaves no trigger.
void TestInsertSerialData::summaryFollowsRows()
{
    QFETCH(QString, file);
    if (file != QLatin1String("new")) {
        Peer creator(path());
        QVERIFY(creator.exec(SampleTable::createStatement()));
        if (file != QLatin1String("old"))
            QVERIFY(creator.exec(SampleTable::createIndexStatement()));
        if (file == QLatin1String("summarized")) {
            QVERIFY(creator.exec(SampleTable::createStateStatement()));
            for (const QString& statement : SampleTable::createSummaryStatements())
                QVERIFY(creator.exec(statement));
        }
    }
    auto writer = openWriter();
    QVERIFY(writer);
    QCOMPARE(writer->hasSummary(),
             file == QLatin1String("new") || file == QLatin1String("summarized"));
    QCOMPARE(writer->hasKinetic(), file == QLatin1String("new"));
    const quint32 t0 = 1700000100u; // a bucket's first second
    auto flush = [&](const QList<SampleRecord>& records) {
        for (const SampleRecord& r : records)
            writer->queueSample(r);
        return writer->insertNow();
    };
    // Equal minima and maxima at several times; no value on one channel; a gap row.
    const double one[] = {5, 3, 7, 3, 7, NoValue, 4, 4};
    QList<SampleRecord> first;
    for (quint32 i = 0; i < 8; ++i) {
        first << sample(QStringLiteral("N1"), one[i], i % 3, t0 + i);
        first << sample(QStringLiteral("N2"), i == 4 ? NoValue : i * 0.5, i == 4 ? NoValue : 1,
                        t0 + i);
    }
    QVERIFY(flush(first));
    // Over 500 records: statements whose rows SQLite stores in its own order, across buckets.
    QList<SampleRecord> large;
    for (quint32 i = 0; i < 1200; ++i)
        large << sample(i % 2 ? QStringLiteral("N2") : QStringLiteral("N1"), (i * 7) % 5,
                        (i * 3) % 4, t0 + 8 + 2 * (i / 2) * 2);
    QVERIFY(flush(large));
    // A second stored again with other values: of the two the later one counts.
    QVERIFY(flush({sample(QStringLiteral("N1"), 100, -1, t0 + 2)}));

    if (file != QLatin1String("new")) {
        IndexBuilder builder(path());
        builder.start();
        QVERIFY(builder.wait(60000));
        QVERIFY(builder.indexReady());
        QVERIFY(builder.summaryReady());
        writer->buildFinished();
        QVERIFY(writer->hasIndex());
        QVERIFY(writer->hasSummary());
        QVERIFY(writer->hasKinetic());
    }
    // Through the trigger: a repeated second in a bucket left clean, a late but new second, a
    // new bucket, and rows without values.
    QVERIFY(flush({sample(QStringLiteral("N2"), 9, 9, t0 + 912),
                   sample(QStringLiteral("N1"), -2, 2, t0 + 1001),
                   sample(QStringLiteral("N1"), 6, NoValue, t0 + 5000),
                   sample(QStringLiteral("N2"), NoValue, NoValue, t0 + 5001)}));

    Peer peer(path());
    const QStringList expected = summaryOfRows(peer.rows());
    QCOMPARE(summaryTable(peer.db()), expected);
    // The rows above do hold what the summary must tell apart.
    QCOMPARE(expected.filter(QRegularExpression(QStringLiteral("^\\S+ \\d+ \\d+ 1 "))).size(), 2);
    QVERIFY(expected.size() >= 6);

    // The kinetic sums: every bucket there; each one followed holds what its rows give. The
    // repeated second and the late ones break theirs; the buckets of t0 + 1800 and t0 + 5000 on
    // of both nodes are followed, however the rows came.
    const QMap<QString, QString> sums = kineticTable(peer.db());
    const QMap<QString, QString> byRows = kineticOfRows(peer.rows());
    QCOMPARE(sums.keys(), byRows.keys());
    int followed = 0;
    for (auto it = sums.cbegin(); it != sums.cend(); ++it) {
        if (*it == QLatin1String("broken"))
            continue;
        ++followed;
        QCOMPARE(*it, byRows.value(it.key()));
    }
    QVERIFY2(followed >= 4, qPrintable(QString::number(followed)));
}

// Catches: an interrupted summary build that leaves a summary without its trigger, or half
// filled, or keeps the write lock; progress not shown while the summary is built.
void TestInsertSerialData::interruptedSummaryLeavesFile()
{
    {
        Peer creator(path());
        QVERIFY(creator.exec(SampleTable::createStatement()));
        QVERIFY(creator.exec(SampleTable::createIndexStatement()));
        QVERIFY(creator.exec(QStringLiteral(
            "with recursive s(x) as (select 0 union all select x + 1 from s where x < 39999) "
            "insert into quorbinal (serialno, channel1, channel2, pointDate) select 'N' || (x % "
            "4), x % 7, null, 1700000000 + x / 4 from s")));
    }
    {
        IndexBuilder builder(path());
        QSignalSpy progress(&builder, &IndexBuilder::progress);
        // From the builder's own thread, in the middle of the filling.
        connect(
            &builder, &IndexBuilder::progress, &builder, [&builder] { builder.cancel(); },
            Qt::DirectConnection);
        builder.start();
        QVERIFY(builder.wait(60000));
        QCOMPARE(progress.count(), 1);
        QVERIFY(!builder.summaryReady());
    }
    Peer peer(path());
    QCOMPARE(peer.scalar(QStringLiteral("select count(*) from sqlite_master where name in "
                                        "('quorbinal_summary', 'quorbinal_summarize')"))
                 .toInt(),
             0);
    QVERIFY(peer.exec(QStringLiteral("insert into quorbinal (serialno, pointDate) values ('N0', "
                                     "1)")));

    IndexBuilder again(path());
    QSignalSpy progress(&again, &IndexBuilder::progress);
    again.start();
    QVERIFY(again.wait(60000));
    QVERIFY(again.summaryReady());
    QVERIFY(progress.count() > 10);
    QCOMPARE(summaryTable(peer.db()), summaryOfRows(peer.rows()));
}

// Catches: a second writer of the same name adding a duplicate connection or running the
// pragmas again.
void TestInsertSerialData::reusesRegisteredConnection()
{
    const QString name = freshName();
    const QString connection = name + QStringLiteral("filedb");
    InsertSerialData first(path(), name);
    QVERIFY(first.createConnection());
    {
        QSqlQuery set(QSqlDatabase::database(connection, false));
        QVERIFY(set.exec(QStringLiteral("PRAGMA cache_size = 100")));
    }

    InsertSerialData second(path(QStringLiteral("elsewhere.dat")), name);
    {
        MessageLog log;
        QVERIFY(second.createConnection());
        QVERIFY2(log.lines.isEmpty(), qPrintable(log.lines.join(QLatin1Char('\n'))));
    }
    QSqlQuery q(QSqlDatabase::database(connection, false));
    QVERIFY(q.exec(QStringLiteral("PRAGMA cache_size")) && q.next());
    QCOMPARE(q.value(0).toInt(), 100);
    q.finish();

    // The second writer writes through the shared connection, into the first file.
    second.queueSample(sample(QStringLiteral("N1"), 1, 2, 3));
    second.insertNow();
    QCOMPARE(second.pendingCount(), 0);
    QCOMPARE(Peer(path()).count(), 1);
    QVERIFY(!QFile::exists(path(QStringLiteral("elsewhere.dat"))));
}

// Catches: a connection that failed to prepare the file taken for a working one by the next
// writer of the same name.
void TestInsertSerialData::failedConnectionNotReused()
{
    {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
    }
    const QString name = freshName();
    InsertSerialData first(path(), name);
    QVERIFY(!first.createConnection());
    QVERIFY(QSqlDatabase::contains(name + QStringLiteral("filedb")));
    InsertSerialData second(path(QStringLiteral("good.dat")), name);
    QVERIFY(!second.createConnection());
    second.queueSample(sample(QStringLiteral("N1"), 1, 2, 3));
    second.insertNow();
    QCOMPARE(second.pendingCount(), 1);
}

// Catches: a connection left registered after the writer is gone, or samples written by the
// destructor behind the caller's back.
void TestInsertSerialData::destructorRemovesConnection()
{
    const QString name = freshName();
    auto writer = std::make_unique<InsertSerialData>(path(), name);
    QVERIFY(writer->createConnection());
    writer->queueSample(sample(QStringLiteral("N1"), 1, 2, 3));
    QTest::ignoreMessage(
        QtDebugMsg,
        ("InsertSerialData::~InsertSerialData : QSqlDatabase::removeDatabase(" + name + "filedb")
            .toUtf8());
    QTest::ignoreMessage(QtDebugMsg, "InsertSerialData::~InsertSerialData()");
    writer.reset();
    QVERIFY(!QSqlDatabase::contains(name + QStringLiteral("filedb")));
    QCOMPARE(Peer(path()).count(), 0);
}

// Catches: the samples of a project whose last write failed written later into the next
// project's file, under the first project's node identifiers.
void TestInsertSerialData::samplesNeverReachAnotherFile()
{
    auto first = openWriter(QStringLiteral("first.dat"));
    QVERIFY(first);
    {
        Peer holder(path(QStringLiteral("first.dat")));
        QVERIFY(holder.exec(QStringLiteral("begin immediate")));
        first->queueSample(sample(QStringLiteral("FIRST"), 1, 2, 3));
        QVERIFY(!first->insertNow());
        QVERIFY(holder.exec(QStringLiteral("rollback")));
    }
    QCOMPARE(first->pendingCount(), 1);
    first.reset();

    auto second = openWriter(QStringLiteral("second.dat"));
    QVERIFY(second);
    QCOMPARE(second->pendingCount(), 0);
    second->queueSample(sample(QStringLiteral("SECOND"), 4, 5, 6));
    QVERIFY(second->insertNow());
    const auto rows = Peer(path(QStringLiteral("second.dat"))).rows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0].toString(), QStringLiteral("SECOND"));
    QCOMPARE(Peer(path(QStringLiteral("first.dat"))).count(), 0);
}

// Catches: a batch lost when its insert fails (the report generator or another program holds
// the write lock), or retried records placed behind newer ones.
void TestInsertSerialData::lockedFileKeepsBatchInOrder()
{
    auto writer = openWriter();
    QVERIFY(writer);
    Peer holder(path());
    QVERIFY(holder.exec(QStringLiteral("begin immediate")));
    QVERIFY(holder.exec(QStringLiteral("insert into quorbinal (serialno, pointDate) values "
                                       "('held', 1)")));

    for (int i = 0; i < 600; ++i)
        writer->queueSample(sample(QStringLiteral("old"), i, 0, static_cast<quint32>(1000 + i)));
    {
        MessageLog log;
        writer->insertNow();
        QCOMPARE(log.count(QStringLiteral("InsertSerialData::insertNow : kept for the next flush : "
                                          "600")),
                 1);
        QCOMPARE(log.count(QStringLiteral("insert query : false")), 1);
        QCOMPARE(log.count(QStringLiteral("rollback transaction : true")), 1);
        QCOMPARE(log.countStartingWith(QStringLiteral("commit transaction")), 0);
    }
    QCOMPARE(writer->pendingCount(), 600);

    QVERIFY(holder.exec(QStringLiteral("rollback")));
    writer->queueSample(sample(QStringLiteral("new"), 1, 1, 5));
    writer->insertNow();
    QCOMPARE(writer->pendingCount(), 0);

    Peer reader(path());
    const auto rows = reader.rows();
    QCOMPARE(rows.size(), 601);
    QCOMPARE(reader.scalar(QStringLiteral("select count(*) from quorbinal where serialno='held'"))
                 .toInt(),
             0);
    // The retried records keep their place ahead of the newer sample.
    for (int i = 0; i < 500; ++i)
        QCOMPARE(rows[i][0].toString(), QStringLiteral("old"));
    QCOMPARE(reader.scalar(QStringLiteral("select max(pointDate) from quorbinal where id <= 500"))
                 .toInt(),
             1499);
    QCOMPARE(reader
                 .scalar(QStringLiteral("select count(*) from quorbinal where serialno='new' "
                                        "and pointDate=5"))
                 .toInt(),
             1);
}

// Catches: a file that another program holds exclusively reported as opened, or damaged by the
// attempt.
void TestInsertSerialData::lockedFileAtOpenFails()
{
    // A file in rollback-journal mode, as an older recorder left it, locked by another writer.
    {
        Peer creator(path());
        QVERIFY(creator.exec(QStringLiteral("create table quorbinal (id integer primary key "
                                            "autoincrement, serialno varchar(18) not null, "
                                            "channel1 float, channel2 float, pointDate integer "
                                            "not null)")));
        QVERIFY(creator.exec(
            QStringLiteral("insert into quorbinal (serialno, pointDate) values ('N1', 1)")));
    }
    Peer holder(path());
    QVERIFY(holder.exec(QStringLiteral("begin exclusive")));
    QVERIFY(holder.exec(
        QStringLiteral("insert into quorbinal (serialno, pointDate) values ('N1', 2)")));

    QTest::ignoreMessage(QtDebugMsg, "InsertSerialData::createConnection : fail");
    InsertSerialData writer(path(), freshName());
    QVERIFY(!writer.createConnection());
    writer.queueSample(sample(QStringLiteral("N1"), 1, 2, 3));
    writer.insertNow();
    QCOMPARE(writer.pendingCount(), 1);

    QVERIFY(holder.exec(QStringLiteral("commit")));
    Peer reader(path());
    QCOMPARE(reader.count(), 2);
    QCOMPARE(reader.scalar(QStringLiteral("PRAGMA integrity_check")).toString(),
             QStringLiteral("ok"));
}

void TestInsertSerialData::notSqliteFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("opens");
    QTest::newRow("text") << QByteArray("[General]\nDeviceList=@ByteArray({})\n").repeated(200)
                          << false;
    QByteArray header("SQLite format 3");
    header.append('\0');
    header.append(QByteArray(4080, '\x5a'));
    QTest::newRow("damaged header") << header << false;
    QTest::newRow("binary") << QByteArray(8192, '\xff') << false;
    // SQLite takes an empty file for a new database.
    QTest::newRow("empty") << QByteArray() << true;
}

// Catches: a file that is not a database reported as opened, or overwritten by the attempt.
void TestInsertSerialData::notSqliteFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, opens);
    {
        QFile f(path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    InsertSerialData writer(path(), freshName());
    QCOMPARE(writer.createConnection(), opens);
    if (!opens) {
        writer.queueSample(sample(QStringLiteral("N1"), 1, 2, 3));
        writer.insertNow();
        QCOMPARE(writer.pendingCount(), 1);
        QCOMPARE(writer.startDateTime(), 0u);
        QFile f(path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
    }
}

void TestInsertSerialData::readOnlyFile_data()
{
    QTest::addColumn<bool>("walFile");
    QTest::addColumn<bool>("protectFolder");
    QTest::newRow("WAL file") << true << false;
    QTest::newRow("rollback-journal file") << false << false;
    QTest::newRow("WAL file in a write-protected folder") << true << true;
}

// Catches: a write-protected file reported as opened, whose samples would then never be stored.
void TestInsertSerialData::readOnlyFile()
{
    QFETCH(bool, walFile);
    QFETCH(bool, protectFolder);

    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("sub")));
    const QString file = path(QStringLiteral("sub/db.dat"));
    if (walFile) {
        auto writer = openWriter(QStringLiteral("sub/db.dat"));
        QVERIFY(writer);
        writer->queueSample(sample(QStringLiteral("N1"), 1, 2, 3));
        writer->insertNow();
    } else {
        Peer creator(file);
        QVERIFY(creator.exec(QString::fromLatin1(ExpectedSchema)));
        QVERIFY(creator.exec(QStringLiteral("insert into quorbinal (serialno, channel1, channel2, "
                                            "pointDate) values ('N1', 1, 2, 3)")));
    }
    const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    const QString folder = QFileInfo(file).absolutePath();
    const QFile::Permissions folderPermissions = QFile::permissions(folder);
    QVERIFY(QFile::setPermissions(protectFolder ? folder : file,
                                  protectFolder ? (readOnly | QFile::ExeOwner) : readOnly));
    bool opened = true;
    int waiting = 0;
    {
        WithoutPermissionOverride unprivileged;
        if (canWrite(protectFolder ? folder + QStringLiteral("/probe") : file)) {
            QFile::remove(folder + QStringLiteral("/probe"));
            QFile::setPermissions(folder, folderPermissions);
            QSKIP("this process writes to write-protected files");
        }
        InsertSerialData writer(file, freshName());
        QTest::ignoreMessage(QtDebugMsg, "InsertSerialData::createConnection : fail");
        opened = writer.createConnection();
        writer.queueSample(sample(QStringLiteral("N1"), 4, 5, 6));
        writer.insertNow();
        waiting = writer.pendingCount();
    }
    QVERIFY(QFile::setPermissions(folder, folderPermissions));
    QVERIFY(!opened);
    QCOMPARE(waiting, 1);
    Peer reader(file);
    QCOMPARE(reader.count(), 1);
}

// Catches: an unbounded queue while the file cannot be written, or the newest samples dropped
// instead of the oldest.
void TestInsertSerialData::queueBoundDropsOldest()
{
    const int extra = 3;
    QTest::ignoreMessage(QtWarningMsg,
                         "InsertSerialData::queueSample : queue full, oldest samples dropped : 1");
    auto writer = std::make_unique<InsertSerialData>(path(), freshName());
    for (int i = 0; i < InsertSerialData::MaxPending + extra; ++i)
        writer->queueSample(
            sample(QStringLiteral("N%1").arg(i % 16), 1, 2, static_cast<quint32>(i)));
    QCOMPARE(writer->pendingCount(), InsertSerialData::MaxPending);
    QCOMPARE(writer->droppedCount(), qint64(extra));

    QVERIFY(writer->createConnection());
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QVERIFY(writer->insertNow());
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(writer->pendingCount(), 0);
    QCOMPARE(writer->droppedCount(), qint64(0));
    Peer peer(path());
    QCOMPARE(peer.count(), InsertSerialData::MaxPending);
    QCOMPARE(writer->startDateTime(), quint32(extra));
    QCOMPARE(writer->endDateTime(), quint32(InsertSerialData::MaxPending + extra - 1));
}

// Catches: every page written kept in the connection's cache (cache_size allows 256 MiB), so
// that the recorder grows with its database. 64,000 rows in 16-record flushes are about 2.5 MB of
// file; a connection that keeps its pages grows SQLite's heap by about that much.
void TestInsertSerialData::longRecordingKeepsCacheSmall()
{
    auto writer = openWriter();
    QVERIFY(writer);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const auto flush = [&writer](int from, int to) {
        for (int i = from; i < to; ++i) {
            for (int n = 0; n < 16; ++n)
                writer->queueSample(sample(QStringLiteral("T%1").arg(1000 + n),
                                           20.0 + (i % 100) / 10.0, n,
                                           static_cast<quint32>(1700000000 + i)));
            writer->insertNow();
        }
    };
    flush(0, 500);
    const sqlite3_int64 warm = sqlite3_memory_used();
    flush(500, 4500);
    const sqlite3_int64 end = sqlite3_memory_used();
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(writer->pendingCount(), 0);
    QCOMPARE(Peer(path()).count(), 4500 * 16);
    QVERIFY2(warm > 0, "SQLite keeps no memory statistics");
    QVERIFY2(end - warm < 512 * 1024,
             qPrintable(QStringLiteral("SQLite heap grew by %1 KiB").arg((end - warm) / 1024)));
}

QTEST_GUILESS_MAIN(TestInsertSerialData)
#include "tst_insertserialdata.moc"
