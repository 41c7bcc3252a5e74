#pragma once

// Database helpers of the recording and shell tests: the rows a recording left, a file of the
// layout before the range index, and another program holding the write lock.

#include "sampletable.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QUuid>
#include <QVariant>

// The rows of a database as "serial channel1 channel2 pointDate", NULL channels as "-", in
// time order; only those that match `where` when given.
inline QStringList storedRows(const QString& database, const QString& where = QString())
{
    QStringList rows;
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(database);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery query(db);
        const QString filter = where.isEmpty() ? QString() : QStringLiteral(" where ") + where;
        if (db.open() && query.exec(QStringLiteral("select serialno, channel1, channel2, pointDate "
                                                   "from quorbinal") +
                                    filter + QStringLiteral(" order by pointDate, serialno")))
            while (query.next()) {
                QStringList row{query.value(0).toString()};
                for (int column : {1, 2})
                    row << (query.value(column).isNull() ? QStringLiteral("-")
                                                         : query.value(column).toString());
                row << query.value(3).toString();
                rows << row.join(QLatin1Char(' '));
            }
        else
            QTest::qFail(qPrintable(QStringLiteral("rows not read: ") + db.lastError().text() +
                                    query.lastError().text()),
                         __FILE__, __LINE__);
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

// A database as recorders made it before the range index existed: the table alone, holding
// `rows` samples of 16 nodes "OLD0" to "OLD15", one a second from `first` on. Big enough (a
// million rows), its index takes the background build a second or more.
inline bool writeOldDatabase(const QString& database, int rows, qint64 first)
{
    const QString name = QUuid::createUuid().toString();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(database);
        QSqlQuery query(db);
        ok = db.open() && query.exec(SampleTable::createStatement()) &&
             query.exec(QStringLiteral("with recursive s(x) as (select 0 union all select x + 1 "
                                       "from s where x < %1) insert into quorbinal (serialno, "
                                       "channel1, channel2, pointDate) select 'OLD' || (x % 16), "
                                       "x % 100, 50, %2 + x / 16 from s")
                            .arg(rows - 1)
                            .arg(first));
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// Another program holding the database's write lock while it lives.
class LockHolder
{
public:
    explicit LockHolder(const QString& database) : name(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(database);
        locked = db.open() && QSqlQuery(db).exec(QStringLiteral("begin immediate"));
    }
    ~LockHolder()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            QSqlQuery(db).exec(QStringLiteral("rollback"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    bool locked = false;

private:
    QString name;
};
