#include "insertstatements.h"

#include "novalue.h"

#include <QDebug>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const char* const InsertHead = "insert into quorbinal (serialno, channel1, channel2, pointDate)";

void trace(const QString& text)
{
    qDebug().noquote() << text;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Channel values are written in the general numeric format with six significant digits
// (12345.67 as 12345.7). Not-finite values and the no-value marker have no number to store:
// they become NULL, never the text "nan" or "inf".
QString channelLiteral(double value)
{
    if (value == NoValue || !std::isfinite(value))
        return QStringLiteral("NULL");
    return QString::number(value, 'g', 6);
}

// The value the literal of channelLiteral() stands for: the same six digits, or NULL.
QVariant channelValue(double value)
{
    const QString text = channelLiteral(value);
    return text == QLatin1String("NULL") ? QVariant(QVariant::Double) : QVariant(text.toDouble());
}

bool sameChannel(double a, double b)
{
    const QString textA = channelLiteral(a);
    const QString textB = channelLiteral(b);
    const bool nullA = textA == QLatin1String("NULL");
    const bool nullB = textB == QLatin1String("NULL");
    return nullA || nullB ? nullA == nullB : textA.toDouble() == textB.toDouble();
}

// A null string would bind as NULL and violate "not null" on every retry.
QString serialno(const SampleRecord& record)
{
    return record.deviceNumber.isNull() ? QStringLiteral("") : record.deviceNumber;
}

// Two records that give identical rows; NULL matches NULL, as in UNION.
bool sameRow(const SampleRecord& a, const SampleRecord& b)
{
    return a.pointDate == b.pointDate && serialno(a) == serialno(b) &&
           sameChannel(a.channel1, b.channel1) && sameChannel(a.channel2, b.channel2);
}

} // namespace

InsertStatements::InsertStatements() = default;

double InsertStatements::storedValue(double value)
{
    const QVariant stored = channelValue(value);
    return stored.isNull() ? NoValue : stored.toDouble();
}

InsertStatements::~InsertStatements() = default;

void InsertStatements::clear()
{
    statements.clear();
}

// UNION merges identical rows within one statement only; this extends it to a batch of several
// statements. Identical rows share node and time, so only records with equal ones are compared.
std::vector<bool> InsertStatements::repeatedRecords(const std::vector<const WriteEntry*>& batch)
{
    std::vector<std::pair<uint, size_t>> keys;
    keys.reserve(batch.size());
    for (size_t i = 0; i < batch.size(); ++i) {
        if (batch[i]->isJob)
            continue;
        const SampleRecord& r = batch[i]->sample;
        keys.emplace_back(::qHash(r.deviceNumber) ^ (r.pointDate * 2654435761u), i);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<bool> repeated(batch.size(), false);
    for (size_t first = 0; first < keys.size();) {
        size_t end = first + 1;
        while (end < keys.size() && keys[end].first == keys[first].first)
            ++end;
        for (size_t x = first; x < end; ++x) {
            const size_t kept = keys[x].second;
            if (repeated[kept])
                continue;
            for (size_t y = x + 1; y < end; ++y) {
                const size_t other = keys[y].second;
                if (!repeated[other] && sameRow(batch[kept]->sample, batch[other]->sample))
                    repeated[other] = true;
            }
        }
        first = end;
    }
    return repeated;
}

// The connection's own SQLite handle, for what the SQL module cannot ask.

// One statement. As traced, numbers go into it as literals and only serialno, free text from
// the project file, is a parameter, one named parameter per distinct node: preparing a statement
// costs SQLite time in the square of its parameter count. A flush of the usual size instead runs
// a statement kept prepared, with every value a parameter: preparing costs more than running.
bool InsertStatements::insertRows(const QSqlDatabase& db,
                                  const std::vector<const SampleRecord*>& rows, QString* error,
                                  int* errorCode)
{
    QString sql = QLatin1String(InsertHead);
    QStringList serials;
    for (size_t i = 0; i < rows.size(); ++i) {
        const SampleRecord& record = *rows[i];
        const QString serial = serialno(record);
        int parameter = serials.indexOf(serial);
        if (parameter < 0) {
            parameter = serials.size();
            serials.append(serial);
        }
        sql += (i > 0 ? QLatin1String(" union select :s") : QLatin1String(" select :s")) +
               QString::number(parameter) + QLatin1String(", ") + channelLiteral(record.channel1) +
               QLatin1String(", ") + channelLiteral(record.channel2) + QLatin1String(", ") +
               QString::number(record.pointDate);
    }
    sql += QLatin1Char(';');
    trace(QStringLiteral("InsertSerialData::insertNow : query : ") + sql);

    QSqlQuery adHoc(db);
    QSqlQuery* query = keptStatement(db, static_cast<int>(rows.size()));
    bool ok = true;
    if (query) {
        for (size_t i = 0; i < rows.size(); ++i) {
            const SampleRecord& record = *rows[i];
            const int first = static_cast<int>(4 * i);
            query->bindValue(first, serialno(record));
            query->bindValue(first + 1, channelValue(record.channel1));
            query->bindValue(first + 2, channelValue(record.channel2));
            query->bindValue(first + 3, static_cast<qlonglong>(record.pointDate));
        }
    } else {
        query = &adHoc;
        ok = adHoc.prepare(sql);
        for (int i = 0; ok && i < serials.size(); ++i)
            adHoc.bindValue(QStringLiteral(":s") + QString::number(i), serials.at(i));
    }
    ok = ok && query->exec();
    *errorCode = ok ? 0 : query->lastError().nativeErrorCode().toInt();
    if (!ok)
        *error = query->lastError().text();
    trace(QStringLiteral("insert query : ") + boolText(ok));
    trace(QStringLiteral("lastError : ") + query->lastError().text());
    query->finish();
    return ok;
}

// The kept statement of `rows` rows, four parameters a row; null for a larger statement, whose
// thousands of parameters would cost more than its literals, or when it cannot be prepared.
QSqlQuery* InsertStatements::keptStatement(const QSqlDatabase& db, int rows)
{
    if (rows > MaxKeptStatementRows)
        return nullptr;
    std::unique_ptr<QSqlQuery>& kept = statements[rows];
    if (!kept) {
        QString sql = QLatin1String(InsertHead);
        for (int i = 0; i < rows; ++i)
            sql += i > 0 ? QLatin1String(" union select ?, ?, ?, ?")
                         : QLatin1String(" select ?, ?, ?, ?");
        kept = std::make_unique<QSqlQuery>(db);
        // Not kept when it fails (the table is gone): the statement with literals reports why.
        if (!kept->prepare(sql)) {
            statements.erase(rows);
            return nullptr;
        }
    }
    return kept.get();
}
