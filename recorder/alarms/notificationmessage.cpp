#include "notificationmessage.h"

#include "mailaddress.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

// What a receiver is told of an alarm that ended with the recorder.
const QString StoppedText =
    QStringLiteral("recorder stopped: alarm state unknown until it runs again");

const char* const DayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const char* const MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Text that goes into a mail as it stands: printable ASCII, and in a body also LF and TAB in
// lines of at most 998 characters. A CR alone (as in "<CR>.<CR>") or any other control
// character is encoded.
bool isPlainText(const QByteArray& bytes, bool body)
{
    int line = 0;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (body && u == '\n') {
            line = 0;
            continue;
        }
        if (++line > 998 && body)
            return false;
        if ((u >= 0x20 && u <= 0x7E) || (body && u == '\t'))
            continue;
        return false;
    }
    return true;
}

// "Name: value" folded at its blanks (RFC 5322 2.2.3): each line stays within 78 characters
// where a blank allows, and the text unfolds to what it was.
QByteArray foldedHeader(const QByteArray& name, const QByteArray& value)
{
    QByteArray out = name + ": ";
    int width = out.size();
    const QList<QByteArray> words = value.split(' ');
    for (int i = 0; i < words.size(); ++i) {
        const QByteArray& word = words.at(i);
        if (i > 0) {
            if (width + 1 + word.size() > 78) {
                out += "\r\n";
                width = 0;
            }
            out += ' ';
            ++width;
        }
        out += word;
        width += word.size();
    }
    return out + "\r\n";
}

// "+0100" from an offset in seconds.
QByteArray offsetText(int seconds, bool colon)
{
    const char sign = seconds < 0 ? '-' : '+';
    const int minutes = std::abs(seconds) / 60;
    QByteArray text(1, sign);
    text += QByteArray::number(minutes / 60).rightJustified(2, '0');
    if (colon)
        text += ':';
    text += QByteArray::number(minutes % 60).rightJustified(2, '0');
    return text;
}

// An RFC 2047 encoded word for header text outside printable ASCII, cut between characters into
// pieces that keep each header line under 78 characters; printable text is folded at its blanks,
// unless a word too long for a line would make it pass 998.
QByteArray headerText(const QByteArray& name, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    if (isPlainText(utf8, false)) {
        const QList<QByteArray> words = utf8.split(' ');
        if (std::all_of(words.begin(), words.end(),
                        [](const QByteArray& word) { return word.size() <= 66; }))
            return foldedHeader(name, utf8);
    }
    QByteArray out;
    QByteArray piece;
    auto flush = [&out, &piece] {
        if (piece.isEmpty())
            return;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + piece.toBase64() + "?=";
        piece.clear();
    };
    for (int i = 0; i < text.size(); ++i) {
        QString character(text.at(i));
        if (text.at(i).isHighSurrogate() && i + 1 < text.size())
            character += text.at(++i);
        const QByteArray bytes = character.toUtf8();
        if (piece.size() + bytes.size() > 42)
            flush();
        piece += bytes;
    }
    flush();
    return name + ": " + out + "\r\n";
}

// Quoted-printable (RFC 2045) of UTF-8 text, line by line, with soft breaks before 76
// characters.
QByteArray quotedPrintable(const QString& text)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int l = 0; l < lines.size(); ++l) {
        const QByteArray line = lines.at(l).toUtf8();
        int width = 0;
        for (int i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line.at(i));
            const bool last = i == line.size() - 1;
            QByteArray encoded;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))
                encoded = QByteArray(1, char(c));
            else
                encoded = QByteArray(1, '=') + hex[c >> 4] + hex[c & 0xF];
            if (width + encoded.size() > 75) {
                out += "=\r\n";
                width = 0;
            }
            out += encoded;
            width += encoded.size();
        }
        if (l + 1 < lines.size())
            out += "\r\n";
    }
    return out;
}

QByteArray crlfLines(const QString& text)
{
    return text.toUtf8().replace("\r\n", "\n").replace('\n', "\r\n");
}

QJsonValue numberOrNull(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue(QJsonValue::Null);
}

QJsonValue secondsOrNull(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(time.toSecsSinceEpoch()) : QJsonValue(QJsonValue::Null);
}

QJsonValue isoOrNull(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(NotificationMessage::localIsoTime(time))
                          : QJsonValue(QJsonValue::Null);
}

// "2024-03-05 14:03:00 +01:00" for the body.
QString bodyTime(const QDateTime& time)
{
    const QDateTime local = time.toLocalTime();
    return local.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) +
           QString::fromLatin1(offsetText(local.offsetFromUtc(), true));
}

} // namespace

NotificationMessage::NotificationMessage(const NotificationEvent& event)
    : m_event(event), m_created(QDateTime::currentDateTime())
{
}

QString NotificationMessage::kindName(NotificationKind kind)
{
    switch (kind) {
    case NotificationKind::Start:
        return QStringLiteral("start");
    case NotificationKind::Clear:
        return QStringLiteral("clear");
    case NotificationKind::Reminder:
        return QStringLiteral("reminder");
    case NotificationKind::Escalation:
        return QStringLiteral("escalation");
    case NotificationKind::Calibration:
        return QStringLiteral("calibration");
    case NotificationKind::Report:
        return QStringLiteral("report");
    case NotificationKind::AlarmTestReminder:
        return QStringLiteral("alarmtestreminder");
    case NotificationKind::BackupFailed:
        return QStringLiteral("backup");
    case NotificationKind::Test:
        break;
    }
    return QStringLiteral("test");
}

QByteArray NotificationMessage::rfc5322Date(const QDateTime& time)
{
    const QDateTime local = time.toLocalTime();
    const QDate date = local.date();
    return QByteArray(DayNames[date.dayOfWeek() - 1]) + ", " +
           QByteArray::number(date.day()).rightJustified(2, '0') + ' ' +
           MonthNames[date.month() - 1] + ' ' + QByteArray::number(date.year()) + ' ' +
           local.time().toString(QStringLiteral("hh:mm:ss")).toLatin1() + ' ' +
           offsetText(local.offsetFromUtc(), false);
}

QString NotificationMessage::localIsoTime(const QDateTime& time)
{
    const QDateTime local = time.toLocalTime();
    // Qt writes no offset for local time; a fixed offset is written as "+hh:mm".
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

QString NotificationMessage::key() const
{
    if (!m_key.isEmpty())
        return m_key;
    if (m_event.kind == NotificationKind::Report)
        return m_event.reportKey;
    // One message per alarm test ("alarmtest.<test id>") and per lapse of tests
    // ("alarmtestreminder.<start of the lapse>").
    if (m_event.test)
        return QStringLiteral("alarmtest.") + QString::number(m_event.eventId);
    if (m_event.kind == NotificationKind::AlarmTestReminder)
        return kindName(m_event.kind) + QLatin1Char('.') + QString::number(m_event.eventId);
    // One message per register entry and reminder: "calibration.<entry>.<days before due>".
    if (m_event.kind == NotificationKind::Calibration)
        return kindName(m_event.kind) + QLatin1Char('.') + QString::number(m_event.eventId) +
               QLatin1Char('.') + QString::number(m_event.sequence);
    // One message per failed run: "backup.<the failure's time in seconds>".
    if (m_event.kind == NotificationKind::BackupFailed)
        return kindName(m_event.kind) + QLatin1Char('.') + QString::number(m_event.eventId);
    QString key = QStringLiteral("alarm.") + QString::number(m_event.eventId) + QLatin1Char('.') +
                  kindName(m_event.kind);
    if (m_event.kind == NotificationKind::Reminder)
        key += QLatin1Char('.') + QString::number(m_event.sequence);
    return key;
}

QString NotificationMessage::keyWithOrigin(const QString& origin) const
{
    NotificationMessage plain(*this);
    plain.m_key.clear();
    return origin.isEmpty() ? plain.key() : plain.key() + QLatin1Char('.') + origin;
}

QString NotificationMessage::valueText(double value) const
{
    if (!std::isfinite(value))
        return QStringLiteral("-");
    QString text = QString::number(value, 'f', 2);
    if (!m_event.unit.isEmpty())
        text += QLatin1Char(' ') + m_event.unit;
    return text;
}

QString NotificationMessage::calibrationLine() const
{
    const NotificationEvent& e = m_event;
    const QString due = e.start.toLocalTime().date().toString(Qt::ISODate);
    const QString what = e.nodeName + QStringLiteral(" / ") + e.channelName;
    // Made when the reminder is due: a due date before the day it was made is passed.
    const bool overdue = m_created.isValid() && e.start.isValid() &&
                         m_created.toLocalTime().date() > e.start.toLocalTime().date();
    return overdue
               ? QStringLiteral("Calibration overdue: ") + what + QStringLiteral(" since ") + due
               : QStringLiteral("Calibration due: ") + what + QStringLiteral(" on ") + due;
}

QString NotificationMessage::reportLine() const
{
    QString line = m_event.reportTitle + QLatin1Char(' ') + m_event.periodText;
    if (m_event.late)
        line += QStringLiteral(" (late)");
    return line;
}

NotificationMessage NotificationMessage::report(const QString& projectName,
                                                const QString& reportTitle,
                                                const QString& periodText, bool late,
                                                const QString& attachmentName,
                                                const QByteArray& pdf, const QString& key)
{
    NotificationEvent event;
    event.kind = NotificationKind::Report;
    event.projectName = projectName;
    event.reportTitle = reportTitle.simplified();
    event.periodText = periodText.simplified();
    event.late = late;
    event.reportKey = key;
    NotificationMessage message(event);
    message.setAttachment(attachmentName, pdf);
    return message;
}

void NotificationMessage::setAttachment(const QString& name, const QByteArray& bytes)
{
    // The name goes into a MIME header as it stands: no quote, backslash, control character or
    // folder may reach it.
    QString safe;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        const bool plain =
            u > 0x20 && u < 0x7F && u != '"' && u != '\\' && u != '/' && u != ':' && u != ';';
        safe += plain || u == ' ' ? c : QLatin1Char('_');
    }
    safe = safe.trimmed().left(100);
    if (safe.isEmpty() || safe.startsWith(QLatin1Char('.')))
        safe.prepend(QStringLiteral("report"));
    m_attachmentName = safe;
    m_attachment = bytes;
}

bool NotificationMessage::hasAttachment() const
{
    return !m_attachmentName.isEmpty();
}

QString NotificationMessage::attachmentName() const
{
    return m_attachmentName;
}

QByteArray NotificationMessage::attachment() const
{
    return m_attachment;
}

QString NotificationMessage::reportSizeRefusal(qint64 bytes, qint64 limitBytes)
{
    if (bytes <= limitBytes)
        return QString();
    // "12.3 MB", "10 MB" (2^20 bytes, one decimal where it has one); under a megabyte in kB.
    const auto sizeText = [](qint64 n, int decimals) -> QString {
        const bool small = n < 1024 * 1024;
        QString text =
            QString::number(double(n) / (small ? 1024.0 : 1024.0 * 1024.0), 'f', decimals);
        if (decimals == 1 && text.endsWith(QLatin1String(".0")))
            text.chop(2);
        return text + (small ? QStringLiteral(" kB") : QStringLiteral(" MB"));
    };
    QString size = sizeText(bytes, 1);
    // Never "10 MB, the limit is 10 MB" for a report a few bytes over.
    if (size == sizeText(limitBytes, 1))
        size = sizeText(bytes, 3);
    return QStringLiteral("Report too large to mail: ") + size + QStringLiteral(", the limit is ") +
           sizeText(limitBytes, 1);
}

QString NotificationMessage::subject() const
{
    const NotificationEvent& e = m_event;
    const QString prefix = QLatin1Char('[') + e.projectName + QStringLiteral("] ");
    if (e.kind == NotificationKind::Test)
        return prefix + QStringLiteral("Test message");
    if (e.kind == NotificationKind::Calibration)
        return prefix + calibrationLine();
    if (e.kind == NotificationKind::Report)
        return prefix + reportLine();
    if (e.test)
        return QStringLiteral("[TEST] ") + prefix + QStringLiteral("Alarm test: ") + e.nodeName;
    if (e.kind == NotificationKind::AlarmTestReminder)
        return prefix + QStringLiteral("Alarm test due: none for %1 days").arg(e.sequence);
    if (e.kind == NotificationKind::BackupFailed)
        return prefix + QStringLiteral("Backup failed: ") + e.detail;

    QString what = e.nodeName;
    if (!e.channelName.isEmpty())
        what += QStringLiteral(" / ") + e.channelName;
    what += QLatin1Char(' ') + alarmKindText(e.alarmKind);
    if (e.alarmKind != AlarmKind::NoData && e.kind != NotificationKind::Clear)
        what += QStringLiteral(", ") + valueText(e.value) + QStringLiteral(" (limit ") +
                valueText(e.limit) + QLatin1Char(')');

    switch (e.kind) {
    case NotificationKind::Start:
        if (e.continuesEventId > 0)
            return prefix + QStringLiteral("Alarm continues: ") + what;
        return prefix + QStringLiteral("Alarm: ") + what;
    case NotificationKind::Clear:
        if (e.ended == AlarmEnd::RecorderStopped)
            return prefix + QStringLiteral("Recorder stopped: ") + what;
        return prefix + QStringLiteral("Cleared: ") + what;
    case NotificationKind::Reminder:
        return prefix + QStringLiteral("Reminder: ") + what;
    case NotificationKind::Escalation:
        return prefix + QStringLiteral("Escalation: ") + what;
    case NotificationKind::Calibration:
    case NotificationKind::Report:
    case NotificationKind::AlarmTestReminder:
    case NotificationKind::BackupFailed:
    case NotificationKind::Test:
        break;
    }
    return prefix + what;
}

QString NotificationMessage::body() const
{
    const NotificationEvent& e = m_event;
    QStringList lines;
    if (e.test) {
        lines << QStringLiteral("TEST: this is a test of the alarm notifications, run by %1. No "
                                "alarm is active.")
                     .arg(e.detail)
              << QString() << QStringLiteral("Project: ") + e.projectName
              << QStringLiteral("Nodes: ") + e.nodeName
              << QStringLiteral("Sent: ") + bodyTime(e.start)
              << QStringLiteral("Test id: ") + QString::number(e.eventId);
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    switch (e.kind) {
    case NotificationKind::Start:
        if (e.continuesEventId > 0)
            lines << QStringLiteral("The alarm still holds after the recorder's restart; it "
                                    "continues event ") +
                         QString::number(e.continuesEventId) + QLatin1Char('.');
        else
            lines << QStringLiteral("An alarm has started.");
        break;
    case NotificationKind::Clear:
        if (e.ended == AlarmEnd::RecorderStopped)
            lines << QStringLiteral("The event ended: ") + StoppedText + QLatin1Char('.');
        else
            lines << QStringLiteral("The alarm has cleared.");
        break;
    case NotificationKind::Reminder:
        lines << QStringLiteral("The alarm is still active and has not been acknowledged "
                                "(reminder ") +
                     QString::number(e.sequence) + QStringLiteral(").");
        break;
    case NotificationKind::Escalation:
        lines << QStringLiteral("The alarm has not been acknowledged in time; this message "
                                "also goes to the escalation list.");
        break;
    case NotificationKind::Calibration:
        lines << calibrationLine() + QLatin1Char('.')
              << QStringLiteral("This reminder goes out %1 days before the due date; it is no "
                                "alarm.")
                     .arg(e.sequence)
              << QString() << QStringLiteral("Project: ") + e.projectName
              << QStringLiteral("Node: ") + e.nodeName + QStringLiteral(" (serial ") + e.serial +
                     QLatin1Char(')')
              << QStringLiteral("Channel: ") + e.channelName
              << QStringLiteral("Due: ") + e.start.toLocalTime().date().toString(Qt::ISODate);
        if (!e.detail.isEmpty())
            lines << QStringLiteral("In force: ") + e.detail;
        lines << QStringLiteral("Register entry: ") + QString::number(e.eventId);
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    case NotificationKind::Report:
        lines << QStringLiteral("The ") + e.reportTitle.toLower() + QStringLiteral(" for ") +
                     e.periodText + QStringLiteral(" is attached.");
        if (e.late)
            lines << QStringLiteral("It was made late, after its due time (the recorder was "
                                    "not running or could not make it then).");
        lines << QString() << QStringLiteral("Project: ") + e.projectName
              << QStringLiteral("Report: ") + e.reportTitle
              << QStringLiteral("Period: ") + e.periodText;
        if (m_created.isValid())
            lines << QStringLiteral("Made: ") + bodyTime(m_created);
        if (hasAttachment())
            lines << QStringLiteral("Attachment: ") + m_attachmentName + QStringLiteral(" (") +
                         QString::number(m_attachment.size()) + QStringLiteral(" bytes)");
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    case NotificationKind::AlarmTestReminder:
        lines << QStringLiteral("No alarm test has been run for %1 days. Run one: Record, Test "
                                "alarms.")
                     .arg(e.sequence)
              << QString() << QStringLiteral("Project: ") + e.projectName
              << QStringLiteral("Last test: ") +
                     (e.start.isValid() ? bodyTime(e.start) : QStringLiteral("none yet"));
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    case NotificationKind::BackupFailed:
        lines << QStringLiteral("The daily backup of the project's database failed: ") +
                     e.detail + QLatin1Char('.')
              << QStringLiteral("The recorder goes on recording; it tries again within the hour. "
                                "Until a backup succeeds, the database has no copy newer than "
                                "the last good one.")
              << QString() << QStringLiteral("Project: ") + e.projectName
              << QStringLiteral("Backup folder: ") + e.nodeName
              << QStringLiteral("Failed: ") + bodyTime(e.start);
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    case NotificationKind::Test:
        lines << QStringLiteral("This is a test message. If you can read it, the recorder's "
                                "notifications reach you.")
              << QString() << QStringLiteral("Project: ") + e.projectName
              << QStringLiteral("Sent: ") + bodyTime(e.start);
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    lines << QString() << QStringLiteral("Project: ") + e.projectName
          << QStringLiteral("Node: ") + e.nodeName + QStringLiteral(" (serial ") + e.serial +
                 QLatin1Char(')');
    if (!e.channelName.isEmpty())
        lines << QStringLiteral("Channel: ") + e.channelName;
    lines << QStringLiteral("Alarm: ") + alarmKindText(e.alarmKind);
    if (e.alarmKind != AlarmKind::NoData)
        lines << QStringLiteral("Value: ") + valueText(e.value)
              << QStringLiteral("Limit: ") + valueText(e.limit);
    if (e.start.isValid())
        lines << QStringLiteral("Start: ") + bodyTime(e.start);
    QString end = e.end.isValid() ? bodyTime(e.end) : QStringLiteral("still active");
    if (e.end.isValid() && e.ended == AlarmEnd::RecorderStopped)
        end += QStringLiteral(" (") + StoppedText + QLatin1Char(')');
    lines << QStringLiteral("End: ") + end;
    lines << QStringLiteral("Event id: ") + QString::number(e.eventId);
    if (e.continuesEventId > 0)
        lines << QStringLiteral("Continues event id: ") + QString::number(e.continuesEventId);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray NotificationMessage::json() const
{
    const NotificationEvent& e = m_event;
    QJsonObject object;
    object.insert(QStringLiteral("message_id"), key());
    object.insert(QStringLiteral("event_id"), e.eventId);
    object.insert(QStringLiteral("event"), kindName(e.kind));
    object.insert(QStringLiteral("reminder"), e.sequence);
    object.insert(QStringLiteral("project"), e.projectName);
    if (e.kind == NotificationKind::Report) {
        // The PDF stays out: a webhook is told that a report went out, not given it.
        object.insert(QStringLiteral("report"), e.reportTitle);
        object.insert(QStringLiteral("period"), e.periodText);
        object.insert(QStringLiteral("late"), e.late);
        object.insert(QStringLiteral("file"), m_attachmentName);
        object.insert(QStringLiteral("size"), double(m_attachment.size()));
        object.insert(QStringLiteral("made_local"), isoOrNull(m_created));
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    if (e.test) {
        object.insert(QStringLiteral("test"), true);
        object.insert(QStringLiteral("nodes"), e.nodeName);
        object.insert(QStringLiteral("user"), e.detail);
    } else if (e.kind == NotificationKind::AlarmTestReminder) {
        object.insert(QStringLiteral("days"), e.sequence);
    } else if (e.kind == NotificationKind::Calibration) {
        object.insert(QStringLiteral("node"), e.nodeName);
        object.insert(QStringLiteral("serial"), e.serial);
        object.insert(QStringLiteral("channel"), e.channelName);
        object.insert(QStringLiteral("due"), e.start.toLocalTime().date().toString(Qt::ISODate));
        object.insert(QStringLiteral("detail"), e.detail);
    } else if (e.kind == NotificationKind::BackupFailed) {
        object.insert(QStringLiteral("reason"), e.detail);
        object.insert(QStringLiteral("folder"), e.nodeName);
    } else if (e.kind != NotificationKind::Test) {
        object.insert(QStringLiteral("alarm"), alarmKindText(e.alarmKind));
        object.insert(QStringLiteral("node"), e.nodeName);
        object.insert(QStringLiteral("serial"), e.serial);
        object.insert(QStringLiteral("channel"), e.channelName);
        object.insert(QStringLiteral("value"), numberOrNull(e.value));
        object.insert(QStringLiteral("limit"), numberOrNull(e.limit));
        object.insert(QStringLiteral("unit"), e.unit);
        object.insert(QStringLiteral("end"), secondsOrNull(e.end));
        object.insert(QStringLiteral("end_local"), isoOrNull(e.end));
        if (e.ended != AlarmEnd::Active)
            object.insert(QStringLiteral("end_reason"), alarmEndText(e.ended));
        if (e.continuesEventId > 0)
            object.insert(QStringLiteral("continues_event_id"), e.continuesEventId);
    }
    object.insert(QStringLiteral("start"), secondsOrNull(e.start));
    object.insert(QStringLiteral("start_local"), isoOrNull(e.start));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray NotificationMessage::headerBlock(const QString& from, const QStringList& to,
                                            const QDateTime& date) const
{
    // Only a checked address gives its domain to the Message-ID.
    const int at = from.lastIndexOf(QLatin1Char('@'));
    const QString domain =
        MailAddress::isValid(from) ? from.mid(at + 1) : QStringLiteral("localhost");

    // A line break in a name or an address would start a header of its own.
    const auto oneLine = [](const QString& value) { return value.simplified().toUtf8(); };
    QByteArray mail;
    mail += "Date: " + rfc5322Date(date) + "\r\n";
    mail += "From: " + oneLine(from) + "\r\n";
    mail += foldedHeader("To", oneLine(to.join(QStringLiteral(", "))));
    mail += "Message-ID: <" + key().toUtf8() + '@' + domain.toUtf8() + ">\r\n";
    mail += headerText("Subject", subject().simplified());
    if (m_event.kind == NotificationKind::Report) {
        mail += "X-Report-Period: " + oneLine(m_event.periodText) + "\r\n";
    } else {
        mail += "X-Alarm-Event-Id: " + QByteArray::number(m_event.eventId) + "\r\n";
        mail += "X-Alarm-Event: " + kindName(m_event.kind).toUtf8() + "\r\n";
    }
    return mail;
}

QByteArray NotificationMessage::bodyPart(bool* quotedPrintable) const
{
    const QString text = body();
    *quotedPrintable = !isPlainText(text.toUtf8(), true);
    QByteArray part = crlfLines(text);
    if (!part.endsWith("\r\n"))
        part += "\r\n";
    return part;
}

QList<QByteArray> NotificationMessage::emailHeaders(const QString& from, const QStringList& to,
                                                    const QDateTime& date) const
{
    QList<QByteArray> lines;
    const QByteArray all = headerBlock(from, to, date);
    for (const QByteArray& line : all.split('\n')) {
        if (line.isEmpty() || line == "\r")
            continue;
        // A folded line continues the header before it.
        if (!lines.isEmpty() && (line.startsWith(' ') || line.startsWith('\t')))
            lines.last() += "\r\n" + line.chopped(line.endsWith('\r') ? 1 : 0);
        else
            lines << line.chopped(line.endsWith('\r') ? 1 : 0);
    }
    return lines;
}

QByteArray NotificationMessage::email(const QString& from, const QStringList& to,
                                      const QDateTime& date) const
{
    const QString text = body();
    const bool ascii = isPlainText(text.toUtf8(), true);
    QByteArray mail = headerBlock(from, to, date);
    mail += "MIME-Version: 1.0\r\n";
    mail += "Content-Type: text/plain; charset=UTF-8\r\n";
    mail += ascii ? QByteArray("Content-Transfer-Encoding: 7bit\r\n")
                  : QByteArray("Content-Transfer-Encoding: quoted-printable\r\n");
    mail += "\r\n";
    mail += ascii ? crlfLines(text) : quotedPrintable(text);
    if (!mail.endsWith("\r\n"))
        mail += "\r\n";
    return mail;
}
