#include "reportfixture.h"

#include "alarmeventtable.h"
#include "audittrail.h"
#include "sampletable.h"
#include "signaturetable.h"
#include "signedrecord.h"
#include "sqliteconnection.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

#include <sqlite3.h>

#include <ctime>

namespace ReportFixture {

QByteArray setZone(const QByteArray& zone)
{
    const QByteArray before = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    return before;
}

void restoreZone(const QByteArray& before)
{
    if (before.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", before);
    tzset();
}

Workspace::Workspace(const QByteArray& zone) : zoneBefore(setZone(zone)) {}

Workspace::~Workspace()
{
    restoreZone(zoneBefore);
}

QString Workspace::nextDatabase()
{
    return dir.filePath(QStringLiteral("db%1.dat").arg(++databases));
}

qint64 localSecs(const QString& text)
{
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss")).toSecsSinceEpoch();
}

QByteArray nestedDeviceList(const QStringList& numbers, const QList<QVector<double>>& limits)
{
    QJsonArray nodes;
    int start = 0;
    for (const QString& number : numbers) {
        const QVector<double> bounds = limits.value(int(nodes.size()), QVector<double>(4, 0.0));
        QJsonObject node;
        node.insert(QStringLiteral("StartAddress"), QString::number(start));
        start += 4;
        node.insert(QStringLiteral("DeviceNumber"), number);
        node.insert(QStringLiteral("DeviceName"), QString(QStringLiteral("Room ") + number));
        node.insert(QStringLiteral("Ch1Name"), QStringLiteral("Temperature"));
        node.insert(QStringLiteral("Ch2Name"), QStringLiteral("Humidity"));
        node.insert(QStringLiteral("ch1_unit"), QStringLiteral("1"));
        node.insert(QStringLiteral("ch2_unit"), QStringLiteral("3"));
        const char* keys[] = {"ch1_min", "ch1_max", "ch2_min", "ch2_max"};
        for (int k = 0; k < 4; ++k)
            node.insert(QLatin1String(keys[k]), QString::number(bounds.value(k), 'f', 2));
        node.insert(QStringLiteral("ch1_custom"), QString());
        node.insert(QStringLiteral("ch2_custom"), QString());
        nodes.append(node);
    }
    QJsonObject gateway;
    gateway.insert(QStringLiteral("DeviceInterface"), QStringLiteral("127.0.0.1"));
    gateway.insert(QStringLiteral("DevicePort"), QStringLiteral("502"));
    gateway.insert(QStringLiteral("DeviceModel"), QStringLiteral("TQ700"));
    gateway.insert(QStringLiteral("nodes"), nodes);
    QJsonObject root;
    root.insert(QStringLiteral("devices"), QJsonArray{gateway});
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString writeProject(const QString& folder, const QString& fileName, const QByteArray& deviceList,
                     int interval, const QString& recordStart, const QString& recordStop)
{
    const QString path = folder + QLatin1Char('/') + fileName;
    QSettings settings(path, QSettings::IniFormat);
    const QString base = fileName.section(QLatin1Char('.'), 0, 0);
    settings.setValue(QStringLiteral("projectName"), base);
    settings.setValue(QStringLiteral("DataInterval"), interval);
    settings.setValue(QStringLiteral("databaseName"), QString(base + QStringLiteral(".dat")));
    settings.setValue(QStringLiteral("DeviceList"), deviceList);
    if (!recordStart.isEmpty())
        settings.setValue(QStringLiteral("record_start_time"), recordStart);
    if (!recordStop.isEmpty())
        settings.setValue(QStringLiteral("record_stop_time"), recordStop);
    settings.sync();
    return path;
}

bool writeDatabase(const QString& path, const QList<Sample>& samples, bool wal, bool summary)
{
    const QString name = QUuid::createUuid().toString();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            ok = (!wal || query.exec(QStringLiteral("PRAGMA journal_mode = WAL"))) &&
                 query.exec(QStringLiteral(
                     "create table quorbinal (\t\tid integer primary key autoincrement,\t\t"
                     "serialno varchar(18) not null, \t\tchannel1 float, channel2 float, "
                     "\t\tpointDate integer not null\t\t)"));
            ok = ok && (!summary || (query.exec(SampleTable::createIndexStatement()) &&
                                     query.exec(SampleTable::createStateStatement())));
            for (const QString& statement : SampleTable::createSummaryStatements())
                ok = ok && (!summary || query.exec(statement));
            ok = ok && (!summary || query.exec(SampleTable::newGenerationStatement()));
            ok = ok && db.transaction();
            ok = ok && query.prepare(QStringLiteral(
                           "insert into quorbinal (serialno, channel1, channel2, pointDate) "
                           "values (?, ?, ?, ?)"));
            for (const Sample& s : samples) {
                if (!ok)
                    break;
                query.addBindValue(s.serial);
                query.addBindValue(s.channel1.isNull() ? QVariant(QVariant::Double) : s.channel1);
                query.addBindValue(s.channel2.isNull() ? QVariant(QVariant::Double) : s.channel2);
                query.addBindValue(s.pointDate);
                ok = query.exec();
            }
            ok = ok && db.commit();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

AlarmEventRecord alarmEvent(qint64 id, const QString& serial, int channel, AlarmKind kind,
                            qint64 start, std::optional<qint64> end, AlarmEnd ended)
{
    AlarmEventRecord r;
    r.id = id;
    r.serial = serial;
    r.channel = channel;
    r.kind = kind;
    r.start = r.raised = start;
    r.end = end;
    r.ended = end ? ended : AlarmEnd::Active;
    return r;
}

bool writeAlarmEvents(const QString& path, const QVector<AlarmEventRecord>& events)
{
    SqliteConnection db;
    QString error;
    bool ok = db.open(path, SQLITE_OPEN_READWRITE) && AlarmEventTable::create(db.get(), &error);
    for (const AlarmEventRecord& e : events)
        ok = ok && AlarmEventTable::apply(db.get(), AlarmEventWrite::insert(e), &error);
    if (!ok)
        qWarning("%s %s", qPrintable(db.errorText()), qPrintable(error));
    return ok;
}

bool writeAlarmSignature(const QString& path, const AlarmEventRecord& event,
                         const QString& signer, const QString& fullName)
{
    SqliteConnection db;
    QString error;
    ElectronicSignature signature =
        SignatureTable::make(SignedRecord::alarmEvent(event), signer, fullName,
                             QStringLiteral("acknowledged"), event.acknowledgedAt.value_or(0) * 1000);
    const bool ok = db.open(path, SQLITE_OPEN_READWRITE) &&
                    SignatureTable::insertCommitted(db.get(), &signature, &error);
    if (!ok)
        qWarning("%s %s", qPrintable(db.errorText()), qPrintable(error));
    return ok;
}

bool writeAuditEntries(const QString& path, QVector<AuditEntry> entries)
{
    SqliteConnection db;
    QString error;
    bool ok = db.open(path, SQLITE_OPEN_READWRITE) && AuditTrail::ensureTable(db.get(), &error);
    for (AuditEntry& e : entries)
        ok = ok && AuditTrail::appendCommitted(db.get(), &e, &error);
    if (!ok)
        qWarning("%s %s", qPrintable(db.errorText()), qPrintable(error));
    return ok;
}

} // namespace ReportFixture
