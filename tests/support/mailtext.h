#pragma once

#include <QByteArray>
#include <QList>
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
    // The parts of a multipart mail as its receiver splits them at the boundary its
    // Content-Type names, each whole (its headers, a blank line, its body as sent); none when
    // the mail is not multipart or a part has no end.
    static QList<QByteArray> parts(const QByteArray& mail);
    // A part's body decoded after its Content-Transfer-Encoding (base64, quoted-printable, or
    // as it stands).
    static QByteArray decodedBody(const QByteArray& part);
};
