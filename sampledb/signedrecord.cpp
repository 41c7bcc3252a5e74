#include "signedrecord.h"

#include "alarmeventrecord.h"
#include "sha256.h"

#include <QList>

namespace {

void escapeInto(QByteArray* out, const QString& text)
{
    for (const char c : text.toUtf8()) {
        if (c == '\\')
            out->append("\\\\");
        else if (c == '\n')
            out->append("\\n");
        else if (c == '\r')
            out->append("\\r");
        else
            out->append(c);
    }
}

void line(QByteArray* out, const QString& name, const QString& value)
{
    escapeInto(out, name);
    out->append(':');
    escapeInto(out, value);
    out->append('\n');
}

// The text of an escaped value; false for a lone backslash or an unknown escape.
bool unescape(const QByteArray& escaped, QString* text)
{
    QByteArray out;
    out.reserve(escaped.size());
    for (int i = 0; i < escaped.size(); ++i) {
        const char c = escaped.at(i);
        if (c != '\\') {
            out.append(c);
            continue;
        }
        if (++i >= escaped.size())
            return false;
        const char next = escaped.at(i);
        if (next == '\\')
            out.append('\\');
        else if (next == 'n')
            out.append('\n');
        else if (next == 'r')
            out.append('\r');
        else
            return false;
    }
    *text = QString::fromUtf8(out);
    return true;
}

// Numbers as the record stores them: exactly, never rounded for show.
QString number(double value)
{
    return QString::number(value, 'g', 17);
}

} // namespace

QString SignedRecord::value(const QString& name) const
{
    for (const auto& field : fields) {
        if (field.first == name)
            return field.second;
    }
    return QString();
}

bool SignedRecord::has(const QString& name) const
{
    for (const auto& field : fields) {
        if (field.first == name)
            return true;
    }
    return false;
}

QByteArray SignedRecord::canonical() const
{
    QByteArray out;
    line(&out, QStringLiteral("kind"), kind);
    line(&out, QStringLiteral("id"), id);
    for (const auto& field : fields)
        line(&out, field.first, field.second);
    return out;
}

QByteArray SignedRecord::hash() const
{
    return Sha256::hexOf(canonical());
}

bool SignedRecord::parse(const QByteArray& canonical, SignedRecord* record)
{
    if (!canonical.endsWith('\n'))
        return false;
    SignedRecord parsed;
    const QList<QByteArray> lines = canonical.left(canonical.size() - 1).split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon <= 0)
            return false;
        QString name;
        QString value;
        if (!unescape(lines.at(i).left(colon), &name) ||
            !unescape(lines.at(i).mid(colon + 1), &value))
            return false;
        if (i == 0 && name != QLatin1String("kind"))
            return false;
        if (i == 1 && name != QLatin1String("id"))
            return false;
        if (i == 0)
            parsed.kind = value;
        else if (i == 1)
            parsed.id = value;
        else
            parsed.add(name, value);
    }
    if (lines.size() < 2)
        return false;
    *record = parsed;
    return true;
}

SignedRecord SignedRecord::alarmEvent(const AlarmEventRecord& event)
{
    SignedRecord record;
    record.kind = alarmEventKind();
    record.id = QString::number(event.id);
    record.add(QStringLiteral("node"), event.serial);
    record.add(QStringLiteral("channel"), QString::number(event.channel));
    record.add(QStringLiteral("alarm"), alarmKindText(event.kind));
    record.add(QStringLiteral("limit"), event.limit ? number(*event.limit) : QString());
    record.add(QStringLiteral("start"), QString::number(event.start));
    record.add(QStringLiteral("extreme"),
               event.extremeValue ? number(*event.extremeValue) : QString());
    record.add(QStringLiteral("comment"), event.comment);
    // Only an acknowledgement with a corrective action has these: signatures made before them
    // still verify.
    if (!event.action.isEmpty()) {
        record.add(QStringLiteral("cause"), event.action.cause);
        record.add(QStringLiteral("action taken"), event.action.actionTaken);
        record.add(QStringLiteral("product affected"), event.action.productAffected);
        record.add(QStringLiteral("quantity"), event.action.quantity);
        record.add(QStringLiteral("decided by"), event.action.decidedBy);
    }
    return record;
}

QString SignedRecord::changedIn(const SignedRecord& now, const QString& noun) const
{
    for (const auto& field : fields) {
        if (!now.has(field.first))
            return QStringLiteral("The ") + noun + QStringLiteral(" has no field \"") +
                   field.first + QStringLiteral("\" any more.");
        if (now.value(field.first) != field.second)
            return QStringLiteral("The field \"") + field.first +
                   QStringLiteral("\" was changed after it was signed.");
    }
    if (now.fields.size() != fields.size())
        return QStringLiteral("The ") + noun +
               QStringLiteral(" holds other fields than the ones signed.");
    return QString();
}
