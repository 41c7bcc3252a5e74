#include "alarmeventtable.h"
#include "outboxtable.h"
#include "sampletable.h"
#include "sqliteconnection.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

namespace {

AlarmEventRecord eventRecord(qint64 id, const QString& serial, AlarmKind kind, qint64 start)
{
    AlarmEventRecord r;
    r.id = id;
    r.serial = serial;
    r.channel = kind == AlarmKind::NoData || kind == AlarmKind::Battery ? 0 : 1;
    r.kind = kind;
    if (kind != AlarmKind::NoData)
        r.limit = 30;
    r.start = start;
    r.raised = start + 60;
    r.extremeValue = 31.5;
    r.extremeTime = start + 10;
    return r;
}

// "id kind end reason ack" for comparing lists.
QStringList summary(const QVector<AlarmEventRecord>& records)
{
    QStringList out;
    for (const AlarmEventRecord& r : records)
        out << QStringLiteral("%1 %2 %3 %4 %5")
                   .arg(r.id)
                   .arg(alarmKindText(r.kind),
                        r.end ? QString::number(*r.end) : QStringLiteral("-"),
                        alarmEndText(r.ended),
                        r.acknowledgedBy.isEmpty() ? QStringLiteral("-") : r.acknowledgedBy);
    return out;
}

} // namespace

// The alarm event log's statements on a real database file: what each write leaves, the change
// marks a forwarder follows, the filters of the list, and the events a crash left open.
class TestAlarmEventTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void writesAndChangeMarks();
    void retriedWritesChangeNothing();
    void listFilters_data();
    void listFilters();
    void interruptedEventsEnd_data();
    void interruptedEventsEnd();
    void fileWithoutTable();
    void earlierVersionsFile();
    void correctiveActionStored_data();
    void correctiveActionStored();
    void journalValuesKeepAction_data();
    void journalValuesKeepAction();

private:
    bool apply(const AlarmEventWrite& write);
    QVector<AlarmEventRecord> all(const AlarmEventFilter& filter = AlarmEventFilter());

    std::unique_ptr<QTemporaryDir> dir;
    SqliteConnection db;
};

void TestAlarmEventTable::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(db.open(dir->filePath(QStringLiteral("p.dat")),
                    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
    QCOMPARE(sqlite3_exec(db.get(), SampleTable::createStatement().toUtf8().constData(), nullptr,
                          nullptr, nullptr),
             SQLITE_OK);
}

void TestAlarmEventTable::cleanup()
{
    db.close();
    dir.reset();
}

bool TestAlarmEventTable::apply(const AlarmEventWrite& write)
{
    QString error;
    const bool ok = AlarmEventTable::apply(db.get(), write, &error);
    if (!ok)
        qWarning() << error;
    return ok;
}

QVector<AlarmEventRecord> TestAlarmEventTable::all(const AlarmEventFilter& filter)
{
    QVector<AlarmEventRecord> out;
    QString error;
    // No events would pass the checks of every event.
    if (!AlarmEventTable::list(db.get(), filter, &out, &error))
        QTest::qFail(qPrintable(QStringLiteral("events not read: ") + error), __FILE__, __LINE__);
    return out;
}

// Catches: a write that leaves a field out, change marks that repeat or run backwards, or a
// reader of the changes that misses one.
void TestAlarmEventTable::writesAndChangeMarks()
{
    QCOMPARE(AlarmEventTable::nextId(db.get(), nullptr), qint64(1));
    QVERIFY(apply(AlarmEventWrite::insert(eventRecord(1, "A", AlarmKind::High, 1000))));
    QVERIFY(apply(AlarmEventWrite::insert(eventRecord(2, "B", AlarmKind::Battery, 1100))));
    QVERIFY(apply(AlarmEventWrite::extreme(1, 33.25, 1200)));
    QVERIFY(apply(AlarmEventWrite::close(1, 1300, AlarmEnd::Cleared, 34.0, 1250)));
    QVERIFY(apply(AlarmEventWrite::acknowledge(1, 1400, "Kim", "door closed")));
    QCOMPARE(AlarmEventTable::nextId(db.get(), nullptr), qint64(3));

    QVector<AlarmEventRecord> changes;
    QVERIFY(AlarmEventTable::changesSince(db.get(), 0, 100, &changes, nullptr));
    QCOMPARE(changes.size(), 2);
    QCOMPARE(changes.at(0).id, qint64(2));
    QCOMPARE(changes.at(0).changeMark, qint64(2));
    const AlarmEventRecord& r = changes.at(1);
    QCOMPARE(r.changeMark, qint64(5));
    QCOMPARE(r.serial, QStringLiteral("A"));
    QCOMPARE(r.channel, 1);
    QCOMPARE(r.kind, AlarmKind::High);
    QCOMPARE(r.limit, std::optional<double>(30));
    QCOMPARE(r.start, qint64(1000));
    QCOMPARE(r.raised, qint64(1060));
    QCOMPARE(r.extremeValue, std::optional<double>(34.0));
    QCOMPARE(r.extremeTime, std::optional<qint64>(1250));
    QCOMPARE(r.end, std::optional<qint64>(1300));
    QCOMPARE(r.ended, AlarmEnd::Cleared);
    QCOMPARE(r.acknowledgedAt, std::optional<qint64>(1400));
    QCOMPARE(r.acknowledgedBy, QStringLiteral("Kim"));
    QCOMPARE(r.comment, QStringLiteral("door closed"));

    QVERIFY(AlarmEventTable::changesSince(db.get(), 2, 100, &changes, nullptr));
    QCOMPARE(changes.size(), 1);
    QVERIFY(AlarmEventTable::changesSince(db.get(), 5, 100, &changes, nullptr));
    QVERIFY(changes.isEmpty());
}

// Catches: a batch retried after a commit that was not confirmed adding a second row, moving an
// end, or writing over the first acknowledgement.
void TestAlarmEventTable::retriedWritesChangeNothing()
{
    const AlarmEventRecord r = eventRecord(7, "A", AlarmKind::Low, 1000);
    QVERIFY(apply(AlarmEventWrite::insert(r)));
    QVERIFY(apply(AlarmEventWrite::insert(r)));
    QVERIFY(apply(AlarmEventWrite::close(7, 1300, AlarmEnd::NoData)));
    QVERIFY(apply(AlarmEventWrite::close(7, 1500, AlarmEnd::Cleared)));
    QVERIFY(apply(AlarmEventWrite::acknowledge(7, 1400, "Kim", "first")));
    QVERIFY(apply(AlarmEventWrite::acknowledge(7, 1600, "Lee", "second")));
    const QVector<AlarmEventRecord> rows = all();
    QCOMPARE(summary(rows), QStringList{"7 low 1300 no data Kim"});
    QCOMPARE(rows.first().comment, QStringLiteral("first"));
    QCOMPARE(rows.first().extremeValue, std::optional<double>(31.5));
}

void TestAlarmEventTable::listFilters_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("kind"); // -1: any
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("to");
    QTest::addColumn<bool>("unacknowledged");
    QTest::addColumn<QStringList>("expected");
    // 1 A high 1000-1300 acknowledged; 2 B battery from 2000, active; 3 A no data 3000-3100.
    const QStringList every{"2 battery - active -", "3 no data 3100 no data -",
                            "1 high 1300 cleared Kim"};
    QTest::newRow("everything, active first")
        << "" << -1 << qint64(-1) << qint64(-1) << false << every;
    QTest::newRow("one node") << "A" << -1 << qint64(-1) << qint64(-1) << false
                              << QStringList{every.at(1), every.at(2)};
    QTest::newRow("one kind") << "" << int(AlarmKind::High) << qint64(-1) << qint64(-1) << false
                              << QStringList{every.at(2)};
    QTest::newRow("unacknowledged only")
        << "" << -1 << qint64(-1) << qint64(-1) << true << QStringList{every.at(0), every.at(1)};
    QTest::newRow("period: the active one lasts")
        << "" << -1 << qint64(5000) << qint64(6000) << false << QStringList{every.at(0)};
    QTest::newRow("period: overlapping an end")
        << "" << -1 << qint64(1200) << qint64(1900) << false << QStringList{every.at(2)};
}

// Catches: a filter that drops events it should show (an active one outside the period it
// lasts into) or shows ones it should not.
void TestAlarmEventTable::listFilters()
{
    QFETCH(QString, serial);
    QFETCH(int, kind);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(bool, unacknowledged);
    QFETCH(QStringList, expected);
    QVERIFY(apply(AlarmEventWrite::insert(eventRecord(1, "A", AlarmKind::High, 1000))));
    QVERIFY(apply(AlarmEventWrite::close(1, 1300, AlarmEnd::Cleared)));
    QVERIFY(apply(AlarmEventWrite::acknowledge(1, 1400, "Kim", "")));
    QVERIFY(apply(AlarmEventWrite::insert(eventRecord(2, "B", AlarmKind::Battery, 2000))));
    QVERIFY(apply(AlarmEventWrite::insert(eventRecord(3, "A", AlarmKind::NoData, 3000))));
    QVERIFY(apply(AlarmEventWrite::close(3, 3100, AlarmEnd::NoData)));

    AlarmEventFilter filter;
    filter.serial = serial;
    if (kind >= 0)
        filter.kind = AlarmKind(kind);
    if (from >= 0)
        filter.from = from;
    if (to >= 0)
        filter.to = to;
    filter.unacknowledgedOnly = unacknowledged;
    QCOMPARE(summary(all(filter)), expected);
    QCOMPARE(AlarmEventTable::count(db.get(), filter, nullptr), qint64(expected.size()));
}

void TestAlarmEventTable::interruptedEventsEnd_data()
{
    QTest::addColumn<QStringList>("samples"); // "serial time", one value each
    QTest::addColumn<qint64>("noted");        // latest sample noted for node A; -1: none
    QTest::addColumn<qint64>("end");
    QTest::newRow("at the last stored sample")
        << QStringList{"A 1500", "A 1700", "B 1900"} << qint64(-1) << qint64(1700);
    QTest::newRow("at the sample noted when nothing was recorded")
        << QStringList{} << qint64(1650) << qint64(1650);
    QTest::newRow("at the later of both") << QStringList{"A 1500"} << qint64(1650) << qint64(1650);
    QTest::newRow("no later trace: at the extreme")
        << QStringList{"A 900"} << qint64(-1) << qint64(1250);
}

// Catches: an event a crash left open staying active for ever, ending at the restart instead of
// at the node's last sample, or taking another node's samples.
void TestAlarmEventTable::interruptedEventsEnd()
{
    QFETCH(QStringList, samples);
    QFETCH(qint64, noted);
    QFETCH(qint64, end);
    QVERIFY(sqlite3_exec(db.get(), SampleTable::createIndexStatement().toUtf8().constData(),
                         nullptr, nullptr, nullptr) == SQLITE_OK);
    for (const QString& sample : samples) {
        const QStringList parts = sample.split(QLatin1Char(' '));
        const QString sql =
            QStringLiteral("insert into quorbinal (serialno, channel1, channel2, pointDate) "
                           "values ('%1', 20, 50, %2)")
                .arg(parts.at(0), parts.at(1));
        QCOMPARE(sqlite3_exec(db.get(), sql.toUtf8().constData(), nullptr, nullptr, nullptr),
                 SQLITE_OK);
    }
    AlarmEventRecord open = eventRecord(1, "A", AlarmKind::High, 1000);
    open.extremeTime = 1250;
    QVERIFY(apply(AlarmEventWrite::insert(open)));
    QVERIFY(apply(AlarmEventWrite::insert(eventRecord(2, "B", AlarmKind::High, 1000))));
    QVERIFY(apply(AlarmEventWrite::close(2, 1100, AlarmEnd::Cleared)));
    if (noted >= 0)
        QVERIFY(apply(AlarmEventWrite::noteLastSamples({{"A", noted}, {"B", 5000}})));

    QVERIFY(apply(AlarmEventWrite::closeInterrupted()));
    // Both started at 1000: the higher id comes first.
    QCOMPARE(summary(all()),
             (QStringList{"2 high 1100 cleared -",
                          QStringLiteral("1 high %1 recorder stopped -").arg(end)}));
    // What a condition that still holds after the restart continues: A's event, not B's.
    QVector<AlarmEventRecord> stopped;
    QVERIFY(AlarmEventTable::stoppedEvents(db.get(), &stopped, nullptr));
    QCOMPARE(stopped.size(), 1);
    QCOMPARE(stopped.at(0).id, 1);
    QCOMPARE(stopped.at(0).serial, QStringLiteral("A"));
    QCOMPARE(stopped.at(0).channel, 1);
}

// Catches: a file of an earlier version (no continuesId, no supersededAt) that this version can
// no longer read, or whose first write fails or loses its rows.
void TestAlarmEventTable::earlierVersionsFile()
{
    const char* earlier[] = {
        "create table alarm_event (id integer primary key, serialno varchar(18) not null, "
        "channel integer not null, kind text not null, limitValue float, startTime integer not "
        "null, raisedTime integer not null, extremeValue float, extremeTime integer, endTime "
        "integer, endReason text, ackTime integer, ackBy text, comment text, changeMark integer "
        "not null)",
        "insert into alarm_event values (1, 'A', 1, 'high', 30, 1000, 1060, 31, 1010, 1500, "
        "'recorder stopped', null, null, null, 1)",
        "create table notification_outbox (id integer primary key, messageId text not null, "
        "eventId integer not null, kind text not null, target text not null, body text not "
        "null, created integer not null, attempts integer not null default 0, nextAttemptMs "
        "integer not null default 0, sentAt integer, lastError text not null default '', unique "
        "(messageId, target))",
        "insert into notification_outbox (messageId, eventId, kind, target, body, created) "
        "values ('alarm.1.reminder.1', 1, 'reminder', 'email', '{}', 1100)",
    };
    for (const char* sql : earlier)
        QCOMPARE(sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr), SQLITE_OK);
    QCOMPARE(summary(all()), QStringList{"1 high 1500 recorder stopped -"});
    QVERIFY(all().first().action.isEmpty());
    QVector<AlarmEventRecord> changes;
    QVERIFY(AlarmEventTable::changesSince(db.get(), 0, 10, &changes, nullptr));
    QCOMPARE(changes.size(), 1);
    QVector<OutboxRecord> waiting;
    QVERIFY(OutboxTable::unsent(db.get(), &waiting, nullptr));
    QCOMPARE(waiting.size(), 1);
    QVERIFY(!waiting.at(0).isSuperseded());
    // The first writes of this version.
    AlarmEventRecord next = eventRecord(2, "A", AlarmKind::High, 2000);
    next.continues = 1;
    QVERIFY(apply(AlarmEventWrite::insert(next)));
    QString error;
    QVERIFY2(OutboxTable::markSuperseded(db.get(), QStringLiteral("alarm.1.reminder.1"),
                                         QStringLiteral("email"), 2100, &error),
             qPrintable(error));
    QCOMPARE(summary(all()), (QStringList{"2 high - active -", "1 high 1500 recorder stopped -"}));
    QVERIFY(OutboxTable::unsent(db.get(), &waiting, nullptr));
    QVERIFY(waiting.isEmpty());
    QVERIFY(OutboxTable::all(db.get(), &waiting, nullptr));
    QCOMPARE(waiting.size(), 1);
    QCOMPARE(waiting.at(0).supersededAt, std::optional<qint64>(2100));
    // A report with its PDF: the table gets the attachment columns, the old row reads none.
    OutboxRecord report;
    report.messageId = QStringLiteral("report.daily.2024-01-01");
    report.kind = QStringLiteral("report");
    report.target = QStringLiteral("email-report");
    report.body = QStringLiteral("{}");
    report.attachmentName = QStringLiteral("daily.pdf");
    report.attachment = QByteArray("%PDF-\0\xff\r\n", 9);
    QVERIFY2(OutboxTable::add(db.get(), report, &error), qPrintable(error));
    QVERIFY2(OutboxTable::create(db.get(), &error), qPrintable(error));
    QVERIFY(OutboxTable::all(db.get(), &waiting, nullptr));
    QCOMPARE(waiting.size(), 2);
    QVERIFY(waiting.at(0).attachmentName.isEmpty() && waiting.at(0).attachment.isNull());
    QCOMPARE(waiting.at(1).attachmentName, report.attachmentName);
    QCOMPARE(waiting.at(1).attachment, report.attachment);
    // The old row takes an acknowledgement with a corrective action once the columns are added.
    CorrectiveAction action;
    action.cause = QStringLiteral("defrost");
    action.productAffected = CorrectiveAction::productNone();
    QVERIFY(apply(AlarmEventWrite::acknowledge(1, 2200, "Kim", "late", action)));
    QCOMPARE(all().last().action, action);
}

void TestAlarmEventTable::correctiveActionStored_data()
{
    QTest::addColumn<QStringList>("action"); // cause, action taken, product, quantity, decided by
    QTest::addColumn<QString>("comment");

    // Catches: a field bound to the wrong column, or one of them left out.
    QTest::newRow("every field") << QStringList{"door left open", "closed the door, moved stock",
                                                "quarantined", "12 boxes", "Olga Berg"}
                                 << "see the log book";
    // Catches: an acknowledgement without a corrective action reading back as one.
    QTest::newRow("none given") << QStringList{"", "", "", "", ""} << "no action needed";
    // Catches: text cut at a quote, a line break or a character outside Latin-1.
    QTest::newRow("awkward text") << QStringList{"other", "it's \"fixed\";\nsecond line",
                                                 "discarded", "3 kg Müsli ½", "Åsa"}
                                  << "";
    // Catches: an empty quantity stored as NULL and read back as no action.
    QTest::newRow("released, no quantity") << QStringList{"sensor fault", "replaced probe",
                                                          "checked and released", "", "QA"}
                                           << "";
}

// Catches: a corrective action lost between the acknowledgement and the readers (list and the
// change reader), or replaced by a second, retried acknowledgement.
void TestAlarmEventTable::correctiveActionStored()
{
    QFETCH(QStringList, action);
    QFETCH(QString, comment);
    const CorrectiveAction given{action.at(0), action.at(1), action.at(2), action.at(3),
                                 action.at(4)};
    QVERIFY(apply(AlarmEventWrite::insert(eventRecord(1, "A", AlarmKind::High, 1000))));
    QVERIFY(apply(AlarmEventWrite::acknowledge(1, 1400, "Kim", comment, given)));
    CorrectiveAction other;
    other.cause = QStringLiteral("defrost");
    other.productAffected = CorrectiveAction::productNone();
    QVERIFY(apply(AlarmEventWrite::acknowledge(1, 1500, "Lee", "again", other)));

    const QVector<AlarmEventRecord> listed = all();
    QCOMPARE(listed.size(), 1);
    QCOMPARE(listed.first().action, given);
    QCOMPARE(listed.first().action.isEmpty(), action.join(QString()).isEmpty());
    QCOMPARE(listed.first().comment, comment);
    QVector<AlarmEventRecord> changes;
    QVERIFY(AlarmEventTable::changesSince(db.get(), 1, 10, &changes, nullptr));
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.first().action, given);
}

void TestAlarmEventTable::journalValuesKeepAction_data()
{
    QTest::addColumn<int>("keptValues"); // how many values the journal holds; 0: all
    QTest::addColumn<bool>("readable");
    QTest::addColumn<bool>("actionKept");

    // Catches: a write waiting in the journal losing its corrective action on the replay.
    QTest::newRow("this version") << 0 << true << true;
    // Catches: journals of the versions before the action, or before continuesId, refused.
    QTest::newRow("before the action") << 17 << true << false;
    QTest::newRow("before continuesId") << 16 << true << false;
    // Catches: a truncated journal entry read as a write with fields shifted.
    QTest::newRow("cut inside the action") << 19 << false << false;
}

void TestAlarmEventTable::journalValuesKeepAction()
{
    QFETCH(int, keptValues);
    QFETCH(bool, readable);
    QFETCH(bool, actionKept);
    const CorrectiveAction given{"power failure", "moved to store 2", "discarded", "40 kg",
                                 "Olga"};
    QVariantList values =
        AlarmEventWrite::acknowledge(9, 1400, "Kim", "noted", given).toValues();
    if (keptValues > 0)
        values = values.mid(0, keptValues);
    AlarmEventWrite back;
    QCOMPARE(AlarmEventWrite::fromValues(values, &back), readable);
    if (!readable)
        return;
    QCOMPARE(back.kind, AlarmEventWrite::Kind::Acknowledge);
    QCOMPARE(back.record.comment, QStringLiteral("noted"));
    QCOMPARE(back.record.action, actionKept ? given : CorrectiveAction());
}

// Catches: a reader failing on a file the recorder has not yet written an event to.
void TestAlarmEventTable::fileWithoutTable()
{
    QVERIFY(!AlarmEventTable::exists(db.get()));
    QVERIFY(all().isEmpty());
    QVector<AlarmEventRecord> changes{AlarmEventRecord()};
    QVERIFY(AlarmEventTable::changesSince(db.get(), 0, 10, &changes, nullptr));
    QVERIFY(changes.isEmpty());
    QVERIFY(apply(AlarmEventWrite::closeInterrupted()));
    QVERIFY(AlarmEventTable::exists(db.get()));
}

QTEST_GUILESS_MAIN(TestAlarmEventTable)
#include "tst_alarmeventtable.moc"
