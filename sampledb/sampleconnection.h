#pragma once

#include "alarmeventrecord.h"
#include "auditentry.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"
#include "storedrow.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <map>
#include <optional>

struct sqlite3_stmt;

// A read-only connection to a project's sample database, and what every client of it asks: the
// report generator (SampleReader), the data viewer (ViewerSampleReader) and the recorder's
// forwarder (ForwarderSampleReader) each read through a narrow interface of their own built on
// this one. The file is opened read-only: nothing here can change it, and the range index and
// the summary are used when the recorder has made them, never made here. A recorder may write
// meanwhile (WAL). Each thread opens its own reader.
//
// Every way to the rows follows the same two rules: NULL and the no-value marker are no value,
// and of two rows of one node in one second the later one counts. (Rows handed out by id, for a
// summary gathered in id order, keep every row: they are not in time order.)
class SampleConnection
{
public:
    // How long a question waits for a recorder's commit on a file without WAL. The reports
    // read for seconds and must not fail on one commit; the viewer asks short questions.
    static constexpr int ReportBusyTimeoutMs = 5000;
    static constexpr int ViewerBusyTimeoutMs = 2000;

    SampleConnection();
    // Opens at once; isOpen() tells whether it worked.
    explicit SampleConnection(const QString& databasePath, int busyTimeoutMs = ReportBusyTimeoutMs);
    ~SampleConnection();
    SampleConnection(const SampleConnection&) = delete;
    SampleConnection& operator=(const SampleConnection&) = delete;

    bool open(const QString& databasePath, int busyTimeoutMs = ReportBusyTimeoutMs);
    void close();
    bool isOpen() const { return connection.isOpen(); }
    const QString& errorText() const { return error; }

    // True when the sample table is there.
    bool hasTable();
    // Asked again on each call: the recorder may build the index while a reader is open.
    bool hasIndex();
    // True when the recorder's summary is there and exactly what the rows give: it and the
    // triggers that keep it are this version's, by their definitions. Otherwise the rows are
    // read (the recorder rebuilds it).
    bool hasSummary();
    // True when the recorder's kinetic sums (KineticTable) are there beside the summary.
    bool hasKinetic();

    // Statements between begin() and end() read one state of the file, whatever is written
    // meanwhile. Without them every question is one statement, reset as soon as its rows are
    // read, so that no read transaction outlasts a query and the recorder is never held up.
    bool begin();
    void end();

    // Largest row id, 0 for an empty table, -1 on failure.
    qint64 maxId();

    // --- The alarm event log (reports and viewer) ---

    // True when the file keeps an alarm event log (an older project's file has none).
    bool hasAlarmEvents();
    // Every event that lasted into [from, to] (one still active lasts until now), of the nodes
    // named (all when empty), in ascending start time. A file without the log has none.
    bool alarmEvents(qint64 from, qint64 to, const QStringList& serials,
                     QVector<AlarmEventRecord>* out);
    // The newest signature of each alarm event's acknowledgement, by event id, as people read
    // it (ElectronicSignature::manifestation(), local time). None on a file without signatures.
    bool alarmSignatures(QHash<qint64, QString>* out);

    // --- The audit trail (the forwarder and the reports witness its head) ---

    // The newest entry; nullopt on a file without an audit trail or without entries. False, with
    // errorText(), only when it cannot be read.
    bool auditHead(std::optional<AuditEntry>* head);

protected:
    SqliteHandle handle() const { return connection.get(); }
    // Sets errorText() from the connection's last error and returns false; `what` names the
    // step for the viewer's messages, the reports take SQLite's text alone.
    bool fail(const char* what);
    void setError(const QString& text) { error = text; }
    bool exists(const char* type, const QString& name);
    // The statement of this text, kept prepared between questions until the connection closes
    // (the viewer asks the same few many times); null when it cannot be prepared.
    sqlite3_stmt* kept(const QByteArray& sql);
    // Hands on every row of a statement over the sample table's columns (id, serialno,
    // channel1, channel2, pointDate), in the statement's order, until the sink wants no more.
    bool rowsById(sqlite3_stmt* statement, const StoredRowSink& sink);
    // The same for one node's rows in time order: of two rows in one second only the later
    // one is handed on.
    bool rowsByTime(sqlite3_stmt* statement, const QByteArray& serial, const StoredRowSink& sink);
    // The single value of `sql`, 0 for NULL, -1 on failure.
    qint64 idBound(const char* sql);
    // The single value of `sql` with its one parameter bound to `time`: 0 for NULL, -1 on failure.
    qint64 smallestFrom(const char* sql, qint64 time);

    // The columns rowsById() and rowsByTime() read, as the head of a select.
    static const char* rowColumns();
    static void bindText(sqlite3_stmt* statement, int index, const QByteArray& text);

private:
    SqliteConnection connection;
    QString error;
    // Declared after the connection: they are finalized before it closes.
    std::map<QByteArray, SqliteStatement> keptStatements;
};
