#pragma once

#include <QString>

// What the recorder takes as a mail address for the SMTP envelope and the headers: a plain
// RFC 5321 mailbox "local@domain" in ASCII, with exactly one "@", a dot-atom local part and a
// domain of letters, digits and hyphens (or an IPv4 literal "[192.0.2.1]"). No control
// character, blank, angle bracket or quote can pass, so an address never ends the SMTP command
// or the header it is written into.
class MailAddress
{
public:
    static bool isValid(const QString& address);
    // A host name (labels of letters, digits and inner hyphens) or an IPv4 literal in brackets.
    static bool isValidDomain(const QString& domain);
};
