#include "projectkeyreader.h"

#include <QDebug>
#include <QFile>
#include <QSettings>
#include <QTextCodec>

#include <algorithm>

namespace {

// Where a line of the file begins and ends, and where its '=' is (-1: none). `cut` is true when
// an unquoted ';' ended it before the end of its line: QSettings reads the rest as a comment.
struct LineSpan
{
    int start = 0;
    int length = 0;
    int equals = -1;
    bool cut = false;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The next line of `data` from `pos`, split exactly as QSettings splits the lines of an INI
// file in Qt 5.15 (quotes run over line ends, a backslash escapes the next character, a ';' at
// the start of a line makes it a comment and elsewhere ends the line), so that a key is found on
// the line QSettings reads it from.
bool nextLine(const QByteArray& data, int& pos, LineSpan* line)
{
    const int size = data.size();
    bool inQuotes = false;
    line->equals = -1;
    line->cut = false;
    int start = pos;
    while (start < size && isBlank(data.at(start)))
        ++start;
    int i = start;
    while (i < size) {
        const char c = data.at(i++);
        if (c == '=') {
            if (!inQuotes && line->equals == -1)
                line->equals = i - 1;
        } else if (c == '\n' || c == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i < size) {
                const char escaped = data.at(i++);
                if (i < size) {
                    const char after = data.at(i);
                    if ((escaped == '\n' && after == '\r') || (escaped == '\r' && after == '\n'))
                        ++i;
                }
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == ';') {
            if (i == start + 1) {
                while (i < size && data.at(i) != '\n' && data.at(i) != '\r')
                    ++i;
                while (i < size && isBlank(data.at(i)))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                line->cut = true;
                break;
            }
        }
    }
    pos = i;
    line->start = start;
    line->length = i - start;
    return line->length > 0;
}

// A key as QSettings unescapes it: '\' is '/', %XX and %UXXXX are characters.
QString unescapedKey(const QByteArray& data, int from, int to)
{
    QString key;
    int i = from;
    while (i < to) {
        const uchar c = uchar(data.at(i));
        if (c == '\\') {
            key += QLatin1Char('/');
            ++i;
            continue;
        }
        if (c != '%' || i == to - 1) {
            key += QLatin1Char(char(c));
            ++i;
            continue;
        }
        int digits = 2;
        int first = i + 1;
        if (data.at(i + 1) == 'U') {
            ++first;
            digits = 4;
        }
        bool ok = false;
        const int code = first + digits > to ? 0 : data.mid(first, digits).toInt(&ok, 16);
        if (!ok) {
            key += QLatin1Char('%');
            ++i;
            continue;
        }
        key += QChar(code);
        i = first + digits;
    }
    return key;
}

// Whether QSettings would read `value` (blanks trimmed) as something else than written: a list
// split at an unquoted comma, or double quotes it strips that do not enclose the whole value.
// QSettings itself writes neither: a value with a comma is quoted whole, a quote inside escaped.
bool changedByQSettings(const QByteArray& value)
{
    bool inQuotes = false;
    int quotes = 0;
    for (int i = 0; i < value.size(); ++i) {
        const char c = value.at(i);
        if (c == '\\') {
            ++i;
        } else if (c == '"') {
            inQuotes = !inQuotes;
            ++quotes;
        } else if (c == ',' && !inQuotes) {
            return true;
        }
    }
    if (quotes == 0)
        return false;
    return !(quotes == 2 && value.startsWith('"') && value.endsWith('"') && value.size() >= 2);
}

QByteArray trimmedBlanks(const QByteArray& bytes)
{
    int from = 0;
    int to = bytes.size();
    while (from < to && (bytes.at(from) == ' ' || bytes.at(from) == '\t'))
        ++from;
    while (to > from && (bytes.at(to - 1) == ' ' || bytes.at(to - 1) == '\t'))
        --to;
    return bytes.mid(from, to - from);
}

// Text as written: UTF-8 where it is valid, otherwise each byte as the character QSettings makes
// of it (Latin-1), so that no byte is lost.
QString writtenText(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    const QString text =
        QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 ? text : QString::fromLatin1(bytes);
}

bool isList(const QVariant& value)
{
    return value.userType() == QMetaType::QStringList ||
           value.userType() == QMetaType::QVariantList;
}

// Text, bytes, or a number or flag as this process's QSettings keeps a value it wrote itself;
// not a rectangle, a list or an invalid value.
bool holdsText(const QVariant& value)
{
    return value.isValid() && !isList(value) && value.canConvert<QString>() &&
           value.canConvert<QByteArray>();
}

} // namespace

QHash<QString, ProjectKeyReader::Line> ProjectKeyReader::scanTopLevel(const QByteArray& data)
{
    // As QSettings does: the lines before the first section and those of every [General] section
    // are joined (a '\n' between the parts) and read as one, so the last of a repeated key wins.
    QByteArray topLevel;
    bool inTopLevel = true;
    int sectionStart = 0;
    int pos = data.startsWith("\xef\xbb\xbf") ? 3 : 0;
    LineSpan line;
    const auto flush = [&](int end) {
        if (!inTopLevel)
            return;
        if (!topLevel.isEmpty())
            topLevel.append('\n');
        topLevel.append(data.mid(sectionStart, end - sectionStart));
    };
    while (nextLine(data, pos, &line)) {
        if (data.at(line.start) != '[')
            continue;
        flush(line.start);
        const int close = data.indexOf(']', line.start);
        const QByteArray name = (close == -1 || close >= line.start + line.length)
                                    ? data.mid(line.start + 1, line.length - 1)
                                    : data.mid(line.start + 1, close - line.start - 1);
        // The whole name counts, bytes after a NUL included.
        inTopLevel = name.trimmed().toLower() == QByteArrayLiteral("general");
        sectionStart = pos;
    }
    flush(data.size());

    QHash<QString, Line> lines;
    pos = 0;
    while (nextLine(topLevel, pos, &line)) {
        if (line.equals == -1)
            continue;
        int keyEnd = line.equals;
        while (keyEnd > line.start &&
               (topLevel.at(keyEnd - 1) == ' ' || topLevel.at(keyEnd - 1) == '\t'))
            --keyEnd;
        int end = line.start + line.length;
        // A ';' QSettings takes for a comment is part of a hand-written value: the value runs
        // to the end of the line.
        if (line.cut) {
            while (end < topLevel.size() && topLevel.at(end) != '\n' && topLevel.at(end) != '\r')
                ++end;
        }
        Line entry;
        entry.written = trimmedBlanks(topLevel.mid(line.equals + 1, end - line.equals - 1));
        entry.cut = line.cut;
        entry.literal = line.cut || changedByQSettings(entry.written);
        lines.insert(unescapedKey(topLevel, line.start, keyEnd), entry);
    }
    return lines;
}

ProjectKeyReader::ProjectKeyReader(const QString& path) : m_path(path)
{
    QFile file(path);
    QByteArray data;
    if (file.exists()) {
        if (file.open(QIODevice::ReadOnly))
            data = file.readAll();
        else
            report(QString(), file.errorString());
    }
    m_byteOrderMark = data.startsWith("\xef\xbb\xbf");
    m_lines = scanTopLevel(data);
    const QSettings settings(path, QSettings::IniFormat);
    for (const QString& key : settings.allKeys())
        m_values.insert(key, settings.value(key));
}

void ProjectKeyReader::report(const QString& key, const QString& why) const
{
    const QString problem =
        key.isEmpty() ? QString(QStringLiteral("The project file could not be read: ") + why)
                      : QString(QStringLiteral("Project file key ") + key + QLatin1Char(' ') + why);
    if (m_problems.contains(problem))
        return;
    m_problems << problem;
    qWarning().noquote() << QStringLiteral("ProjectKeyReader : ") + m_path + QStringLiteral(" : ") +
                                problem;
}

bool ProjectKeyReader::contains(const QString& key) const
{
    return m_values.contains(key);
}

QVariant ProjectKeyReader::value(const QString& key, const QVariant& fallback) const
{
    const auto found = m_values.constFind(key);
    if (found == m_values.constEnd())
        return fallback;
    const auto line = m_lines.constFind(key);
    if (line != m_lines.constEnd() && line->literal)
        return writtenText(line->written);
    if (isList(*found)) {
        // A list must come from a comma on the key's line; without that line it is not known
        // what was written.
        report(key, QStringLiteral("could not be read"));
        return fallback;
    }
    return *found;
}

QString ProjectKeyReader::text(const QString& key, const QString& fallback) const
{
    if (!contains(key))
        return fallback;
    const QVariant v = value(key);
    if (holdsText(v))
        return v.toString();
    if (!isList(m_values.value(key)))
        report(key, QStringLiteral("holds no text"));
    return fallback;
}

QByteArray ProjectKeyReader::bytes(const QString& key) const
{
    if (!contains(key))
        return QByteArray();
    const auto line = m_lines.constFind(key);
    if (line != m_lines.constEnd() && line->literal)
        return line->written;
    const QVariant v = value(key);
    if (holdsText(v))
        return v.toByteArray();
    if (!isList(m_values.value(key)))
        report(key, QStringLiteral("holds no text"));
    return QByteArray();
}

QStringList ProjectKeyReader::items(const QString& key) const
{
    if (!contains(key))
        return QStringList();
    const QVariant stored = m_values.value(key);
    const auto line = m_lines.constFind(key);
    if (isList(stored) && line != m_lines.constEnd() && !line->cut) {
        QStringList list = stored.toStringList();
        // Without a byte order mark QSettings takes each byte for a character; a hand-written
        // item is UTF-8 where it is valid, as text() reads it.
        if (!m_byteOrderMark) {
            for (QString& item : list) {
                if (std::all_of(item.cbegin(), item.cend(),
                                [](QChar c) { return c.unicode() <= 0xff; }))
                    item = writtenText(item.toLatin1());
            }
        }
        return list;
    }
    const QString one = text(key);
    return one.isEmpty() ? QStringList() : QStringList{one};
}
