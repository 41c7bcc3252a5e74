#include "sampledatabase.h"

#include "sampletable.h"

#include <QByteArrayList>
#include <QFile>

#include <sqlite3.h>

#include <cmath>

QString SampleDatabase::serial(int node)
{
    return QStringLiteral("N%1").arg(1000 + node);
}

bool SampleDatabase::generate(const QString& path, qint64 first, int days)
{
    QFile::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    // Only the content counts: no journal, no syncing.
    const QByteArray setup =
        "PRAGMA page_size = 4096; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;" +
        SampleTable::createStatement().toUtf8() + "; begin;";
    bool ok = sqlite3_exec(db, setup.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db,
                                  "insert into quorbinal (serialno, channel1, channel2, pointDate)"
                                  " values (?, ?, ?, ?)",
                                  -1, &insert, nullptr) == SQLITE_OK;
    QByteArrayList serials;
    for (int n = 0; n < Nodes; ++n)
        serials.append(serial(n).toLatin1());
    const qint64 seconds = qint64(days) * 86400;
    for (qint64 s = 0; ok && s < seconds; ++s) {
        for (int n = 0; n < Nodes && ok; ++n) {
            sqlite3_bind_text(insert, 1, serials.at(n).constData(), -1, SQLITE_STATIC);
            sqlite3_bind_double(insert, 2,
                                std::round((20 + 5 * std::sin(s / 900.0 + n)) * 100) / 100);
            sqlite3_bind_double(insert, 3,
                                std::round((50 + 10 * std::cos(s / 1300.0 + n)) * 100) / 100);
            sqlite3_bind_int64(insert, 4, first + s);
            ok = sqlite3_step(insert) == SQLITE_DONE;
            sqlite3_reset(insert);
        }
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "commit;", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}
