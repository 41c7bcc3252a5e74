#include "writejob.h"

#include "sampletable.h"
#include "sqlitestatement.h"

#include <QDataStream>
#include <QIODevice>

#include <sqlite3.h>

namespace {

// Fixed, so that a journal written by this version reads the same in later ones.
constexpr QDataStream::Version StreamVersion = QDataStream::Qt_5_15;

bool fail(sqlite3* db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

// Sets a named value of the state table; the table is made when missing.
bool setState(sqlite3* db, const QString& name, qint64 value, QString* error)
{
    if (sqlite3_exec(db, SampleTable::createStateStatement().toUtf8().constData(), nullptr, nullptr,
                     nullptr) != SQLITE_OK)
        return fail(db, error);
    const QByteArray sql = QByteArray("insert into ") + SampleTable::stateName().toUtf8() +
                           " (name, value) values (?, ?) on conflict (name) do update set value "
                           "= excluded.value";
    SqliteStatement s(db, sql);
    if (!s.isValid())
        return fail(db, error);
    const QByteArray utf8 = name.toUtf8();
    sqlite3_bind_text(s.get(), 1, utf8.constData(), int(utf8.size()), SQLITE_STATIC);
    sqlite3_bind_int64(s.get(), 2, value);
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

} // namespace

QString WriteJob::forwardPositionName(const QString& target)
{
    return QStringLiteral("forward ") + target;
}

WriteJob WriteJob::forwardPosition(const QString& target, qint64 position)
{
    return {ForwardPosition, {target, position}};
}

bool WriteJob::run(sqlite3* db, qint64* rowId, QString* error) const
{
    *rowId = 0;
    switch (kind) {
    case ForwardPosition:
        if (values.size() != 2) {
            *error = QStringLiteral("forward position: two values expected");
            return false;
        }
        return setState(db, forwardPositionName(values.at(0).toString()), values.at(1).toLongLong(),
                        error);
    case None:
        break;
    }
    *error = QStringLiteral("unknown write kind ") + QString::number(kind);
    return false;
}

QByteArray WriteJob::encodedValues() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(StreamVersion);
    out << values;
    return bytes;
}

bool WriteJob::decodeValues(const QByteArray& bytes, QVariantList* values)
{
    QDataStream in(bytes);
    in.setVersion(StreamVersion);
    in >> *values;
    return in.status() == QDataStream::Ok && in.atEnd();
}
