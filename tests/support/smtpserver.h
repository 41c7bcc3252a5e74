#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;

// A real SMTP server for tests (tests/support/smtpsink.py on Debian's aiosmtpd), on a free
// loopback port, storing every message it accepts. With TLS it presents a certificate signed by
// a CA the test makes with openssl in its own folder.
class SmtpServer
{
public:
    enum class Mode
    {
        Plain,
        StartTls,
        Smtps
    };

    // `folder` holds the certificates and the received messages; it must exist.
    explicit SmtpServer(const QString& folder);
    ~SmtpServer();

    // Makes, once per folder, a CA, a certificate for 127.0.0.1 and localhost signed by it, and
    // a second CA that signed nothing here.
    bool makeCertificates();
    // Starts the server; with a user, only a login with that password is let in.
    // A `port` of 0 takes a free one; a server started again after an outage gives the one it
    // had. Each start stores into a folder of its own.
    bool start(Mode mode, const QString& user = QString(), const QString& password = QString(),
               quint16 port = 0);
    void stop();

    // Misbehaviour for the next start(): RCPT TO for `address` is answered 550 (refused) or 450
    // (deferred); every message is answered with a 554 reply `lines` lines long instead of being
    // taken; QUIT is never answered. clearMisbehaviour() makes the next start a good server.
    void refuseRecipient(const QString& address) { m_refused << address; }
    void deferRecipient(const QString& address) { m_deferred << address; }
    void clearMisbehaviour();
    void setLongReply(int lines) { m_longReply = lines; }
    void setSilentQuit(bool silent) { m_silentQuit = silent; }

    quint16 port() const { return m_port; }
    // A loopback port on which nothing listens: a mail server that is down.
    static quint16 closedPort();
    QString caFile() const;
    QString otherCaFile() const;
    QString errorString() const { return m_error; }
    // The stored messages in the order received, each starting with the X-MailFrom, X-RcptTo,
    // X-Auth-User and X-Tls lines the server adds.
    QList<QByteArray> messages() const;

private:
    bool run(const QString& program, const QStringList& arguments);

    QString m_folder;
    QString m_mailFolder;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
    QStringList m_refused;
    QStringList m_deferred;
    int m_longReply = 0;
    bool m_silentQuit = false;
};
