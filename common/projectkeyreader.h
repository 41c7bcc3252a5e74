#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

// The one reader of a project file's keys (all at the top level of an INI file). The recorder
// writes the file through QSettings, and every value in the form QSettings writes reads exactly
// as QSettings reads it. A hand-written value in a form QSettings never writes, which it would
// split at a comma into a list, cut at a ';' or strip of its double quotes
// (`NotifyRecipients=a@x, b@x`, JSON without quotes round it), is read as written instead:
// the rest of its line after '=', blanks at both ends removed. A key whose value cannot be read
// is traced and listed in problems(). The file is read once, at construction.
class ProjectKeyReader
{
public:
    explicit ProjectKeyReader(const QString& path);

    bool contains(const QString& key) const;
    // QSettings' value, or the text as written (a QString) where QSettings would change it.
    QVariant value(const QString& key, const QVariant& fallback = QVariant()) const;
    // The value as text; a value that holds no text (`@Rect(...)`, `@Invalid()`) is a problem
    // and reads as the fallback.
    QString text(const QString& key, const QString& fallback = QString()) const;
    // A document (JSON): QSettings' bytes (`@ByteArray(...)`), or the bytes as written.
    QByteArray bytes(const QString& key) const;
    // The items of a list as QSettings splits it (quotes and escapes taken off each item), or
    // the text as one item; for values that are lists by nature (addresses).
    QStringList items(const QString& key) const;

    // One line per key or file that could not be read, for a caller to show; also traced.
    const QStringList& problems() const { return m_problems; }

    // The value of one top-level line as written, found the way QSettings finds lines, sections
    // and the last of a repeated key. `literal` is false where QSettings reads the value
    // unchanged in meaning (no comma list, no ';', no double quotes but round the whole value).
    struct Line
    {
        QByteArray written;
        bool literal = false;
        bool cut = false; // QSettings would stop at a ';' in it
    };
    static QHash<QString, Line> scanTopLevel(const QByteArray& data);

private:
    void report(const QString& key, const QString& why) const;

    QString m_path;
    QVariantMap m_values;
    QHash<QString, Line> m_lines;
    bool m_byteOrderMark = false;
    mutable QStringList m_problems;
};
