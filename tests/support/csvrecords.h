#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// RFC 4180 records: fields split at commas outside quotes, records at CR LF outside quotes.
// wellFormed tells a file a spreadsheet would read otherwise (a bare CR or LF, text after a
// closing quote, an unterminated last record).
QList<QStringList> parseCsv(const QString& text, bool* wellFormed);
