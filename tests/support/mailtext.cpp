#include "mailtext.h"

#include <QList>

QByteArray MailText::header(const QByteArray& mail, const QByteArray& name)
{
    const int end = mail.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = mail.left(end).split('\n');
    QByteArray value;
    bool inside = false;
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
        if (inside && (line.startsWith(' ') || line.startsWith('\t'))) {
            value += line;
            continue;
        }
        if (inside)
            break;
        inside = line.toLower().startsWith(name.toLower() + ':');
        if (inside)
            value = line.mid(name.size() + 1);
    }
    return value.trimmed();
}

QString MailText::decodedWords(const QByteArray& value)
{
    QByteArray bytes;
    int at = 0;
    bool afterWord = false;
    while (at < value.size()) {
        const int start = value.indexOf("=?UTF-8?B?", at);
        if (start < 0) {
            bytes += value.mid(at);
            break;
        }
        const QByteArray between = value.mid(at, start - at);
        if (!afterWord || !between.trimmed().isEmpty())
            bytes += between;
        const int end = value.indexOf("?=", start + 10);
        if (end < 0) {
            bytes += value.mid(start);
            break;
        }
        bytes += QByteArray::fromBase64(value.mid(start + 10, end - start - 10));
        at = end + 2;
        afterWord = true;
    }
    return QString::fromUtf8(bytes);
}

QByteArray MailText::unquote(const QByteArray& text)
{
    QByteArray out;
    const QByteArray joined = QByteArray(text).replace("=\r\n", "");
    for (int i = 0; i < joined.size(); ++i) {
        if (joined.at(i) == '=' && i + 2 < joined.size()) {
            out += char(joined.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else {
            out += joined.at(i);
        }
    }
    return out;
}

QList<QByteArray> MailText::parts(const QByteArray& mail)
{
    const QByteArray type = header(mail, "Content-Type");
    const int at = type.toLower().indexOf("boundary=");
    if (!type.toLower().startsWith("multipart/") || at < 0)
        return {};
    QByteArray boundary = type.mid(at + 9).split(';').first().trimmed();
    if (boundary.startsWith('"') && boundary.endsWith('"') && boundary.size() > 1)
        boundary = boundary.mid(1, boundary.size() - 2);
    const QByteArray delimiter = "\r\n--" + boundary;
    QList<QByteArray> found;
    int from = mail.indexOf(delimiter, mail.indexOf("\r\n\r\n"));
    while (from >= 0) {
        const int start = mail.indexOf("\r\n", from + delimiter.size());
        // The closing delimiter has "--" after the boundary.
        if (mail.mid(from + delimiter.size(), 2) == "--")
            return found;
        const int next = mail.indexOf(delimiter, start);
        if (start < 0 || next < 0)
            return {};
        found << mail.mid(start + 2, next - start - 2);
        from = next;
    }
    return {};
}

QByteArray MailText::decodedBody(const QByteArray& part)
{
    const int blank = part.indexOf("\r\n\r\n");
    const QByteArray body = blank < 0 ? QByteArray() : part.mid(blank + 4);
    const QByteArray encoding = header(part, "Content-Transfer-Encoding").toLower();
    if (encoding == "base64")
        return QByteArray::fromBase64(QByteArray(body).replace("\r\n", ""),
                                      QByteArray::AbortOnBase64DecodingErrors);
    if (encoding == "quoted-printable")
        return unquote(body);
    return body;
}
