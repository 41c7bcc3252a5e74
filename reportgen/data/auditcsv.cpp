#include "auditcsv.h"

#include <QDateTime>
#include <QStringList>

#include <cstdlib>

namespace {

QByteArray joined(const QStringList& fields)
{
    QStringList quoted;
    for (const QString& f : fields)
        quoted << AuditCsv::field(f);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

} // namespace

QByteArray AuditCsv::header()
{
    return joined({QStringLiteral("Entry"), QStringLiteral("Time"), QStringLiteral("User"),
                   QStringLiteral("Action"), QStringLiteral("Object"), QStringLiteral("Old value"),
                   QStringLiteral("New value"), QStringLiteral("Reason"),
                   QStringLiteral("SHA-256")});
}

QByteArray AuditCsv::line(const AuditEntry& e)
{
    return joined({QString::number(e.sequence), isoTime(e.timeMs), e.user, e.action, e.object,
                   e.oldValue, e.newValue, e.reason, QString::fromLatin1(e.hash)});
}

QString AuditCsv::field(const QString& text)
{
    static const QString Special = QStringLiteral(",\"\r\n");
    bool quote = false;
    for (const QChar c : text)
        quote = quote || Special.contains(c);
    if (!quote)
        return text;
    QString out = text;
    out.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QString AuditCsv::textField(const QString& text)
{
    static const QString Formula = QStringLiteral("=+-@\t\r");
    if (!text.isEmpty() && Formula.contains(text.at(0)))
        return field(QLatin1Char('\'') + text);
    return field(text);
}

QString AuditCsv::isoTime(qint64 ms)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
    const int offset = t.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return t.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}
