#pragma once

#include <QString>

// A certificate authority of the test's own and a server certificate it signed for
// "localhost" and 127.0.0.1, made with the openssl program in `folder`. Two of them in two
// folders are two authorities that do not trust each other.
class LoopbackCertificates
{
public:
    explicit LoopbackCertificates(const QString& folder);

    bool make();

    QString caFile() const { return m_folder + QStringLiteral("/ca.crt"); }
    QString certFile() const { return m_folder + QStringLiteral("/server.crt"); }
    QString keyFile() const { return m_folder + QStringLiteral("/server.key"); }
    const QString& error() const { return m_error; }

private:
    bool run(const QStringList& arguments);

    QString m_folder;
    QString m_error;
};
