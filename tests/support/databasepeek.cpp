#include "databasepeek.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

qint64 DatabasePeek::scalar(const QString& database, const QString& sql)
{
    const QString name = QUuid::createUuid().toString();
    qint64 value = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(database);
        QSqlQuery query(db);
        if (db.open() && query.exec(sql) && query.next())
            value = query.value(0).toLongLong();
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}
