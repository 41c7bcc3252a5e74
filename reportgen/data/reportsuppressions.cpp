#include "reportsuppressions.h"

#include "alarmsuppressiontable.h"
#include "reporttables.h"

#include <QDateTime>
#include <QDebug>

#include <algorithm>

namespace {

int columnOf(const ReportChannel& channel)
{
    return channel.column == QLatin1String("channel1")   ? 1
           : channel.column == QLatin1String("channel2") ? 2
                                                         : 0;
}

QString localText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm"));
}

} // namespace

bool ReportSuppressions::read(const QString& databasePath, qint64 from, qint64 to,
                              const QList<ReportChannel>& channels, ReportTables* tables)
{
    tables->suppressions.clear();
    tables->suppressionsTo = to;
    QVector<AlarmSuppression> rows;
    QString error;
    if (!AlarmSuppressionTable::readOverlapping(databasePath, from, to, &rows, &error)) {
        qDebug().noquote() << QStringLiteral("ReportSuppressions::read : ") + error;
        return false;
    }
    for (const AlarmSuppression& s : qAsConst(rows)) {
        const bool shown =
            std::any_of(channels.cbegin(), channels.cend(), [&s](const ReportChannel& c) {
                return c.serial == s.serial && (s.kind == AlarmSuppression::Kind::OutOfService ||
                                                s.channel == 0 || s.channel == columnOf(c));
            });
        if (shown)
            tables->suppressions.append(s);
    }
    return true;
}

QStringList ReportSuppressions::titles()
{
    return {QStringLiteral("Node"),  QStringLiteral("Channel"),
            QStringLiteral("Kind"),  QStringLiteral("From"),
            QStringLiteral("Until"), QStringLiteral("Reason"),
            QStringLiteral("By"),    QStringLiteral("At the period's end")};
}

QVector<QStringList> ReportSuppressions::rows(const ReportTables& tables,
                                              const QList<ReportChannel>& channels)
{
    QVector<QStringList> out;
    for (const AlarmSuppression& s : tables.suppressions) {
        QString node = s.serial;
        QString channel = QStringLiteral("all");
        for (const ReportChannel& c : channels) {
            if (c.serial != s.serial)
                continue;
            if (!c.device.isEmpty())
                node = c.device;
            if (s.kind == AlarmSuppression::Kind::Shelve && s.channel == columnOf(c))
                channel = c.name.isEmpty() ? QStringLiteral("Channel %1").arg(s.channel) : c.name;
        }
        const bool shelve = s.kind == AlarmSuppression::Kind::Shelve;
        const bool running = s.end() >= tables.suppressionsTo;
        out.append({node, channel,
                    shelve ? QStringLiteral("shelved") : QStringLiteral("out of service"),
                    localText(s.from),
                    localText(s.end()) + (s.ended ? QStringLiteral(" (ended early)") : QString()),
                    s.reason, s.user,
                    running ? (shelve ? QStringLiteral("still shelved at the period's end")
                                      : QStringLiteral("still out of service at the period's end"))
                            : QString()});
    }
    return out;
}
