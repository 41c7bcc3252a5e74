#include "sampledatabasegenerator.h"

#include "channelunit.h"
#include "gatewayconfig.h"
#include "projectfile.h"
#include "sampletable.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"
#include "summarybuild.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Ch1Min = 15;
constexpr double Ch1Max = 30;
constexpr double Ch2Min = 30;
constexpr double Ch2Max = 70;
constexpr double ExcursionRise = 12;
constexpr double SpikeHeight = 45;

quint64 mix(quint64 x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A number in [0, 1) that depends only on its inputs.
double unit(quint64 seed, quint64 a, quint64 b)
{
    return double(mix(seed ^ mix(a * 0x100000001B3ull + b)) >> 11) / double(1ull << 53);
}

double twoDecimals(double v)
{
    return std::round(v * 100) / 100;
}

bool exec(sqlite3* db, const char* sql, QString* error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    *error = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    return false;
}

using Event = SampleDatabaseGenerator::Event;

// The faults of one node, with the times at which the set that applies changes, so the
// writing loop only looks at them when one begins or ends.
struct NodeEvents
{
    std::vector<Event> all;
    std::vector<qint64> boundaries; // sorted starts and ends + 1
    size_t nextBoundary = 0;
    std::vector<const Event*> active;

    void prepare()
    {
        for (const Event& e : all) {
            boundaries.push_back(e.from);
            boundaries.push_back(e.to + 1);
        }
        std::sort(boundaries.begin(), boundaries.end());
    }
    void at(qint64 t)
    {
        if (nextBoundary >= boundaries.size() || t < boundaries[nextBoundary])
            return;
        while (nextBoundary < boundaries.size() && boundaries[nextBoundary] <= t)
            ++nextBoundary;
        active.clear();
        for (const Event& e : all)
            if (e.from <= t && t <= e.to)
                active.push_back(&e);
    }
};

QList<GatewayConfig> gateways(int nodes)
{
    QList<GatewayConfig> list;
    for (int n = 0; n < nodes; ++n) {
        if (n % 8 == 0) {
            GatewayConfig gateway;
            gateway.ipAddress = QStringLiteral("192.168.10.%1").arg(20 + n / 8);
            list << gateway;
        }
        NodeConfig node;
        node.deviceNumber = SampleDatabaseGenerator::serialOf(n);
        node.deviceName = QStringLiteral("Room %1").arg(n + 1);
        node.ch1Name = QStringLiteral("Temperature");
        node.ch2Name = QStringLiteral("Humidity");
        node.startAddress = 4 * (n % 8);
        node.ch1Unit = TemperatureC;
        node.ch2Unit = Humidity;
        node.ch1Min = float(Ch1Min);
        node.ch1Max = float(Ch1Max);
        node.ch2Min = float(Ch2Min);
        node.ch2Max = float(Ch2Max);
        list.last().nodes << node;
    }
    return list;
}

} // namespace

QString SampleDatabaseGenerator::serialOf(int node)
{
    return QStringLiteral("GEN-%1").arg(node + 1, 4, 10, QLatin1Char('0'));
}

double SampleDatabaseGenerator::baseValue(int node, int channel, qint64 time, quint64 seed)
{
    const double day = 2 * Pi * double(time % 86400) / 86400;
    const double noise = unit(seed, quint64(time), quint64(node * 2 + channel)) - 0.5;
    if (channel == 1) {
        const double hour = 2 * Pi * double(time % 3600) / 3600;
        return twoDecimals(22 + 3 * std::sin(day + node * 0.4) + 0.8 * std::sin(hour + node) +
                           0.5 * noise);
    }
    return twoDecimals(50 + 10 * std::sin(day + 1 + node * 0.3) + 2 * noise);
}

SampleDatabaseGenerator::Options
SampleDatabaseGenerator::unbrokenRecording(const QString& projectPath, qint64 first, int days)
{
    Options options;
    options.projectPath = projectPath;
    options.seconds = qint64(days) * 86400;
    options.end = first + options.seconds - 1;
    options.wal = false;
    return options;
}

SampleDatabaseGenerator::Result SampleDatabaseGenerator::generate(const Options& options)
{
    Result result;
    const int interval = qMax(1, options.interval);
    const int nodeCount = qBound(1, options.nodes, MaxNodes);
    const qint64 count = qMax<qint64>(1, options.seconds / interval);
    qint64 end = options.end;
    if (end <= 0)
        end = QDateTime::currentSecsSinceEpoch() / interval * interval;
    const qint64 first = end - (count - 1) * interval;
    result.first = first;
    result.last = end;

    const QFileInfo info(options.projectPath);
    if (!QDir().mkpath(info.absolutePath())) {
        result.error = QStringLiteral("cannot create ") + info.absolutePath();
        return result;
    }
    QFile::remove(info.absoluteFilePath());
    const ProjectFile project(info.absoluteFilePath());
    project.create(interval * 1000);
    project.saveDeviceList(gateways(nodeCount));
    const QString timeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    project.saveRecordStartTime(QDateTime::fromSecsSinceEpoch(first).toString(timeFormat));
    project.saveRecordStopTime(QDateTime::fromSecsSinceEpoch(end).toString(timeFormat));
    result.databasePath = ProjectFile::databasePath(info.absoluteFilePath());
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(result.databasePath + suffix);

    // Faults, drawn from the seed. A gap silences one node; the others are single rows or
    // periods of one node's channel, placed where the node has rows.
    std::vector<NodeEvents> perNode(static_cast<size_t>(nodeCount));
    quint64 draw = 0;
    auto pick = [&](qint64 span) {
        return qint64(unit(options.seed, 0xFA17, draw++) * double(span));
    };
    auto inGap = [&](int node, qint64 from, qint64 to) {
        for (const Event& e : perNode[size_t(node)].all)
            if (e.kind == QLatin1String("gap") && e.from <= to && from <= e.to)
                return true;
        return false;
    };
    auto taken = [&](int node, qint64 t) {
        for (const Event& e : perNode[size_t(node)].all)
            if (e.kind != QLatin1String("excursion") && e.from <= t && t <= e.to)
                return true;
        return false;
    };
    auto add = [&](Event e, int node) {
        e.serial = serialOf(node);
        perNode[size_t(node)].all.push_back(e);
        result.events << e;
    };
    for (int i = 0; i < options.gaps; ++i) {
        const int node = int(pick(nodeCount));
        const qint64 length = (3 + pick(58)) * 60;
        const qint64 from = first + pick(count) * interval;
        add({QStringLiteral("gap"), QString(), 0, from, qMin(end, from + length - 1), 0}, node);
    }
    for (int i = 0; i < options.nullRows; ++i) {
        const int node = int(pick(nodeCount));
        const qint64 t = first + pick(count) * interval;
        if (!inGap(node, t, t) && !taken(node, t))
            add({QStringLiteral("null"), QString(), 0, t, t, 0}, node);
    }
    for (int i = 0; i < options.excursions; ++i) {
        const int node = int(pick(nodeCount));
        const qint64 length = (10 + pick(50)) * 60;
        const qint64 from = first + pick(count) * interval;
        add({QStringLiteral("excursion"), QString(), 1, from, qMin(end, from + length - 1), 0},
            node);
    }
    for (int i = 0; i < options.spikes; ++i) {
        const int node = int(pick(nodeCount));
        const int channel = 1 + int(pick(2));
        const qint64 t = first + pick(count) * interval;
        if (inGap(node, t, t) || taken(node, t))
            continue;
        const double sign = pick(2) == 0 ? 1 : -1;
        add({QStringLiteral("spike"), QString(), channel, t, t,
             twoDecimals(baseValue(node, channel, t, options.seed) + sign * SpikeHeight)},
            node);
    }
    for (NodeEvents& events : perNode)
        events.prepare();

    SqliteConnection connection;
    if (!connection.open(result.databasePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) {
        result.error = connection.errorText();
        return result;
    }
    sqlite3* const db = connection.get();
    const QByteArray schema = SampleTable::createStatement().toUtf8();
    if (!exec(db,
              "PRAGMA page_size = 4096; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
              "PRAGMA cache_size = -65536",
              &result.error) ||
        !exec(db, schema.constData(), &result.error) || !exec(db, "begin", &result.error))
        return result;
    const SqliteStatement statement(db, "insert into quorbinal (serialno, channel1, channel2, "
                                        "pointDate) values (?, ?, ?, ?)");
    sqlite3_stmt* const insert = statement.get();
    if (!insert) {
        result.error = connection.lastError();
        return result;
    }
    std::vector<QByteArray> serials;
    for (int n = 0; n < nodeCount; ++n)
        serials.push_back(serialOf(n).toLatin1());

    for (qint64 i = 0; i < count; ++i) {
        const qint64 t = first + i * interval;
        for (int n = 0; n < nodeCount; ++n) {
            NodeEvents& events = perNode[size_t(n)];
            events.at(t);
            double values[2] = {baseValue(n, 1, t, options.seed), baseValue(n, 2, t, options.seed)};
            bool present[2] = {true, true};
            bool skip = false;
            for (const Event* e : events.active) {
                if (e->kind == QLatin1String("gap"))
                    skip = true;
                else if (e->kind == QLatin1String("null"))
                    present[0] = present[1] = false;
                else if (e->kind == QLatin1String("excursion"))
                    values[0] = twoDecimals(values[0] + ExcursionRise);
            }
            for (const Event* e : events.active)
                if (e->kind == QLatin1String("spike"))
                    values[e->channel - 1] = e->value;
            if (skip)
                continue;
            sqlite3_bind_text(insert, 1, serials[size_t(n)].constData(), serials[size_t(n)].size(),
                              SQLITE_STATIC);
            for (int c = 0; c < 2; ++c) {
                if (present[c])
                    sqlite3_bind_double(insert, 2 + c, values[c]);
                else
                    sqlite3_bind_null(insert, 2 + c);
            }
            sqlite3_bind_int64(insert, 4, t);
            if (sqlite3_step(insert) != SQLITE_DONE) {
                result.error = QString::fromUtf8(sqlite3_errmsg(db));
                return result;
            }
            sqlite3_reset(insert);
            ++result.rows;
        }
    }
    if (!exec(db, "commit", &result.error))
        return result;
    // The summary at the end in one pass, cheaper than its trigger on every row.
    if (options.index &&
        (!exec(db, SampleTable::createIndexStatement().toUtf8().constData(), &result.error) ||
         !SummaryBuild::buildSummary(db, &result.error)))
        return result;
    if (options.wal && !exec(db, "PRAGMA journal_mode = WAL", &result.error))
        return result;
    result.ok = true;
    return result;
}
