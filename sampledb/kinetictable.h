#pragma once

#include "sqlitehandle.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

struct sqlite3_stmt;

// Per node and summary bucket, what the mean kinetic temperature and the time without data of a
// stretch of samples need beside the summary: per channel the first and the last valid sample,
// their number, the longest spacing between two of them, and the sums over the spacings inside
// the bucket of spacing * e^(-10,000 K / T) with T the earlier sample's temperature, once read
// as degrees Celsius and once as Fahrenheit. The triggers cannot compute e^x (a sqlite3 without
// its math functions would fail every insert), so the recorder's writer keeps this table in C++
// as it inserts rows (KineticSums), and the summary's filling fills it from the rows. A reader
// trusts a row only when its counts equal the summary's for the bucket: rows another program
// added, or a bucket the writer could not follow, then read as rows.
class KineticTable
{
public:
    static QString name();
    // Idempotent.
    static QString createStatement();

    struct Channel
    {
        qint64 count = 0; // valid samples
        qint64 firstTime = 0;
        double first = 0;
        qint64 lastTime = 0;
        double last = 0;
        qint64 longest = 0; // seconds between two consecutive valid samples, 0 for one sample
        // The sums of spacing * term; NaN when a sample was no temperature in that scale.
        double celsius = 0;
        double fahrenheit = 0;
    };
    struct Row
    {
        qint64 bucket = 0;
        qint64 rows = 0; // as the summary's rowCount; -1 for a bucket that cannot be followed
        qint64 lastTime = 0;
        Channel channel[2];
    };

    // A row of a node's samples in the bucket, after all before it. A row out of time order or
    // repeating a second breaks the bucket for good. `valid*`: the value is neither NULL nor the
    // no-value marker.
    static void addRow(Row* row, qint64 time, bool valid1, double v1, bool valid2, double v2);
    static void breakRow(Row* row) { row->rows = -1; }

    // The statement that writes a row: serialno bound to 1, the row's columns from 2 on (bind()).
    static QByteArray upsertStatement();
    static void bind(sqlite3_stmt* statement, const Row& row);
    // Reads the row's columns (those upsertStatement() writes from `bucket` on) starting at
    // `column`; false when they are NULL (a left join found none).
    static bool read(sqlite3_stmt* statement, int column, Row* row);
    // The row's columns from `bucket` on, for a select.
    static QString columns(const QString& prefix);

    // Makes the table (replacing one of its name) and fills it from the rows the sample table
    // holds, in one pass in table order, inside the caller's transaction. False with the reason.
    static bool fill(SqliteHandle db, QString* error);
    // True when the table is there as made here.
    static bool exists(SqliteHandle db);
};
