#include "lineprotocol.h"

#include "forwardrecords.h"

#include <QLocale>
#include <QStringList>

namespace {

bool isKeySpecial(QChar c)
{
    return c == QLatin1Char(',') || c == QLatin1Char('=') || c == QLatin1Char(' ');
}

QString percent(ushort code)
{
    return QLatin1Char('%') +
           QString::number(code, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

QString integerField(qint64 value)
{
    return QString::number(value) + QLatin1Char('i');
}

} // namespace

QString LineProtocol::measurement(const QString& name)
{
    QString out;
    out.reserve(name.size() + 4);
    for (QChar c : name) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
        if (c == QLatin1Char(',') || c == QLatin1Char(' '))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

QString LineProtocol::key(const QString& text)
{
    QString out;
    out.reserve(text.size() + 4);
    for (int i = 0; i < text.size(); ++i) {
        QChar c = text.at(i);
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
        if (c == QLatin1Char('\\')) {
            const bool last = i + 1 == text.size();
            const QChar after = last ? QChar() : text.at(i + 1);
            const bool breaks = last || isKeySpecial(after) || after == QLatin1Char('\n') ||
                                after == QLatin1Char('\r') || after == QLatin1Char('\\');
            out += breaks ? QChar(0x29F5) : c;
            continue;
        }
        if (isKeySpecial(c))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

QString LineProtocol::serialTag(const QString& serial)
{
    if (serial.isEmpty())
        return QStringLiteral("%");
    QString encoded;
    encoded.reserve(serial.size() + 4);
    for (int i = 0; i < serial.size(); ++i) {
        const QChar c = serial.at(i);
        const ushort u = c.unicode();
        bool special = c == QLatin1Char('%') || u < 0x20 || u == 0x7F;
        if (c == QLatin1Char('\\')) {
            const QChar after = i + 1 < serial.size() ? serial.at(i + 1) : QChar();
            special = after.isNull() || isKeySpecial(after) || after == QLatin1Char('\\');
        }
        encoded += special ? percent(u) : QString(c);
    }
    return key(encoded);
}

QString LineProtocol::stringField(const QString& text)
{
    QString out;
    out.reserve(text.size() + 4);
    out += QLatin1Char('"');
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() &&
                text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += QLatin1Char(' ');
            continue;
        }
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

QByteArray LineProtocol::number(double value)
{
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

QByteArray LineProtocol::sampleLine(const ForwardSample& sample)
{
    const QString line =
        measurement(sampleMeasurement()) + QStringLiteral(",channel=") +
        QString::number(sample.channel) + QStringLiteral(",serial=") + serialTag(sample.serial) +
        QStringLiteral(" channel_name=") + stringField(sample.channelName) +
        QStringLiteral(",node=") + stringField(sample.nodeName) + QStringLiteral(",unit=") +
        stringField(sample.unit) + QStringLiteral(",value=") +
        QString::fromLatin1(number(sample.value)) + QLatin1Char(' ') + QString::number(sample.time);
    return line.toUtf8();
}

QByteArray LineProtocol::alarmLine(const ForwardAlarmChange& change)
{
    QString tags = measurement(alarmMeasurement());
    if (change.channel > 0)
        tags += QStringLiteral(",channel=") + QString::number(change.channel);
    tags += QStringLiteral(",event_id=") + QString::number(change.eventId) +
            QStringLiteral(",kind=") + key(alarmKindText(change.kind)) +
            QStringLiteral(",serial=") + serialTag(change.serial);

    QStringList fields;
    fields << QStringLiteral("event=") + integerField(change.eventId)
           << QStringLiteral("change=") + integerField(change.changeMark)
           << QStringLiteral("ended=") + stringField(alarmEndText(change.ended))
           << QStringLiteral("node=") + stringField(change.nodeName)
           << QStringLiteral("unit=") + stringField(change.unit);
    if (change.channel > 0)
        fields << QStringLiteral("channel_name=") + stringField(change.channelName);
    if (change.limit)
        fields << QStringLiteral("limit=") + QString::fromLatin1(number(*change.limit));
    if (change.extremeValue)
        fields << QStringLiteral("extreme=") + QString::fromLatin1(number(*change.extremeValue));
    if (change.extremeTime)
        fields << QStringLiteral("extreme_time=") + integerField(*change.extremeTime);
    if (change.end)
        fields << QStringLiteral("end=") + integerField(*change.end);
    if (change.acknowledgedAt) {
        fields << QStringLiteral("acknowledged_at=") + integerField(*change.acknowledgedAt)
               << QStringLiteral("acknowledged_by=") + stringField(change.acknowledgedBy);
    }
    if (!change.comment.isEmpty())
        fields << QStringLiteral("comment=") + stringField(change.comment);

    return (tags + QLatin1Char(' ') + fields.join(QLatin1Char(',')) + QLatin1Char(' ') +
            QString::number(change.start))
        .toUtf8();
}

QByteArray LineProtocol::auditHeadLine(const ForwardAuditHead& head)
{
    // Seconds, as every point here; a time before 1970 rounds towards the past.
    const qint64 seconds =
        head.timeMs >= 0 ? head.timeMs / 1000 : -((-head.timeMs + 999) / 1000);
    return (measurement(auditHeadMeasurement()) + QStringLiteral(" sequence=") +
            integerField(head.sequence) + QStringLiteral(",hash=") +
            stringField(QString::fromUtf8(head.hash)) + QLatin1Char(' ') +
            QString::number(seconds))
        .toUtf8();
}

QByteArray LineProtocol::alarmTestLine(const ForwardAlarmTest& test)
{
    QString tags = measurement(alarmTestMeasurement()) + QStringLiteral(",test=true");
    if (!test.serial.isEmpty())
        tags += QStringLiteral(",serial=") + serialTag(test.serial);
    return (tags + QStringLiteral(" test_id=") + integerField(test.testId) +
            QStringLiteral(",node=") + stringField(test.nodeName) + QStringLiteral(",project=") +
            stringField(test.project) + QStringLiteral(",user=") + stringField(test.user) +
            QLatin1Char(' ') + QString::number(test.time))
        .toUtf8();
}
