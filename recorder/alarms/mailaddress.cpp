#include "mailaddress.h"

#include <QStringList>

namespace {

// RFC 5321 limits a path to 256 octets with its brackets.
constexpr int LongestAddress = 254;
constexpr int LongestDomain = 253;
constexpr int LongestLabel = 63;
constexpr int LongestLocalPart = 64;

bool isAtext(QChar c)
{
    const ushort u = c.unicode();
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))
        return true;
    return u < 0x80 && QByteArrayLiteral("!#$%&'*+-/=?^_`{|}~").contains(char(u));
}

bool isValidLocalPart(const QString& local)
{
    if (local.isEmpty() || local.size() > LongestLocalPart)
        return false;
    const QStringList atoms = local.split(QLatin1Char('.'));
    for (const QString& atom : atoms) {
        if (atom.isEmpty())
            return false;
        for (const QChar c : atom) {
            if (!isAtext(c))
                return false;
        }
    }
    return true;
}

bool isValidLabel(const QString& label)
{
    if (label.isEmpty() || label.size() > LongestLabel || label.startsWith(QLatin1Char('-')) ||
        label.endsWith(QLatin1Char('-')))
        return false;
    for (const QChar c : label) {
        const ushort u = c.unicode();
        if (!((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
              u == '-'))
            return false;
    }
    return true;
}

bool isIpv4Literal(const QString& domain)
{
    if (!domain.startsWith(QLatin1Char('[')) || !domain.endsWith(QLatin1Char(']')))
        return false;
    const QStringList parts = domain.mid(1, domain.size() - 2).split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok || part.isEmpty() || part.size() > 3 || value < 0 || value > 255 ||
            !part.at(0).isDigit())
            return false;
        for (const QChar c : part) {
            if (c.unicode() < '0' || c.unicode() > '9')
                return false;
        }
    }
    return true;
}

} // namespace

bool MailAddress::isValidDomain(const QString& domain)
{
    if (domain.isEmpty() || domain.size() > LongestDomain)
        return false;
    if (domain.startsWith(QLatin1Char('[')))
        return isIpv4Literal(domain);
    const QStringList labels = domain.split(QLatin1Char('.'));
    for (const QString& label : labels) {
        if (!isValidLabel(label))
            return false;
    }
    return true;
}

bool MailAddress::isValid(const QString& address)
{
    if (address.size() > LongestAddress || address.count(QLatin1Char('@')) != 1)
        return false;
    const int at = address.indexOf(QLatin1Char('@'));
    return isValidLocalPart(address.left(at)) && isValidDomain(address.mid(at + 1));
}
