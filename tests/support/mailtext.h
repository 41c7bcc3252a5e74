#pragma once

#include <QByteArray>
#include <QString>

// Reads a mail as its receiver would, for the tests of the notification texts and the sender:
// a header's value with its folds undone, RFC 2047 words and quoted-printable decoded.
class MailText
{
public:
    // The value of the first header of that name (case-insensitive), folds undone (RFC 5322
    // 2.2.3: only the line break goes), blanks at both ends removed; empty when there is none.
    static QByteArray header(const QByteArray& mail, const QByteArray& name);
    // RFC 2047 words (UTF-8, base64) decoded; the blanks between two encoded words do not count.
    static QString decodedWords(const QByteArray& value);
    // Quoted-printable back to bytes, soft breaks removed.
    static QByteArray unquote(const QByteArray& text);
    // The body of the first part of a multipart mail whose Content-Type starts with `type`, base64
    // decoded where so encoded; empty when there is none or a part has no end.
    static QByteArray part(const QByteArray& mail, const QByteArray& type);
};
