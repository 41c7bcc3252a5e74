#include "csvrecords.h"

QList<QStringList> parseCsv(const QString& text, bool* wellFormed)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    bool wasQuoted = false;
    *wellFormed = true;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() &&
                text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            *wellFormed = *wellFormed && field.isEmpty() && !wasQuoted;
            quoted = wasQuoted = true;
        } else if (c == QLatin1Char(',')) {
            record << field;
            field.clear();
            wasQuoted = false;
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() &&
                   text.at(i + 1) == QLatin1Char('\n')) {
            record << field;
            records << record;
            record.clear();
            field.clear();
            wasQuoted = false;
            ++i;
        } else {
            // A bare CR or LF, or text after a closing quote, breaks the format.
            *wellFormed =
                *wellFormed && c != QLatin1Char('\r') && c != QLatin1Char('\n') && !wasQuoted;
            field += c;
        }
    }
    *wellFormed = *wellFormed && !quoted && field.isEmpty() && record.isEmpty();
    return records;
}
