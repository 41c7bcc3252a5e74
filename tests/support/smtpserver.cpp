#include "smtpserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>

namespace {

const QString Python = QStringLiteral("/usr/bin/python3");

} // namespace

SmtpServer::SmtpServer(const QString& folder) : m_folder(folder) {}

quint16 SmtpServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

SmtpServer::~SmtpServer()
{
    stop();
}

QString SmtpServer::caFile() const
{
    return m_folder + QStringLiteral("/ca.pem");
}

QString SmtpServer::otherCaFile() const
{
    return m_folder + QStringLiteral("/other-ca.pem");
}

bool SmtpServer::run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        m_error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) +
                  QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

bool SmtpServer::makeCertificates()
{
    if (QFile::exists(caFile()))
        return true;
    const QString openssl = QStringLiteral("openssl");
    const QStringList key = {QStringLiteral("-newkey"), QStringLiteral("ec"),
                             QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:P-256"),
                             QStringLiteral("-nodes")};
    const auto ca = [&](const QString& name, const QString& subject) {
        return run(openssl,
                   QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + key +
                       QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                                   QStringLiteral("-out"), name + QStringLiteral(".pem"),
                                   QStringLiteral("-days"), QStringLiteral("2"),
                                   QStringLiteral("-subj"), subject, QStringLiteral("-addext"),
                                   QStringLiteral("basicConstraints=critical,CA:TRUE"),
                                   QStringLiteral("-addext"),
                                   QStringLiteral("keyUsage=critical,keyCertSign")});
    };
    QFile extensions(m_folder + QStringLiteral("/server.ext"));
    if (!extensions.open(QIODevice::WriteOnly))
        return false;
    extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                     "extendedKeyUsage=serverAuth\n");
    extensions.close();
    return ca(QStringLiteral("ca"), QStringLiteral("/CN=Test CA of the notification tests")) &&
           ca(QStringLiteral("other-ca"), QStringLiteral("/CN=Some other CA")) &&
           run(openssl,
               QStringList{QStringLiteral("req")} + key +
                   QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"),
                               QStringLiteral("-out"), QStringLiteral("server.csr"),
                               QStringLiteral("-subj"), QStringLiteral("/CN=localhost")}) &&
           run(openssl,
               {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
                QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("2"),
                QStringLiteral("-extfile"), QStringLiteral("server.ext"), QStringLiteral("-out"),
                QStringLiteral("server.pem")});
}

bool SmtpServer::start(Mode mode, const QString& user, const QString& password, quint16 port)
{
    stop();
    static int runs = 0;
    m_mailFolder = m_folder + QStringLiteral("/mail-") + QString::number(++runs);
    QDir().mkpath(m_mailFolder);
    QStringList arguments = {QStringLiteral(SMTPSINK_SCRIPT), m_mailFolder};
    if (mode == Mode::Plain) {
        arguments << QStringLiteral("plain");
    } else {
        if (!makeCertificates())
            return false;
        arguments << (mode == Mode::StartTls ? QStringLiteral("starttls") : QStringLiteral("smtps"))
                  << QStringLiteral("--cert") << m_folder + QStringLiteral("/server.pem")
                  << QStringLiteral("--key") << m_folder + QStringLiteral("/server.key");
    }
    if (!user.isEmpty())
        arguments << QStringLiteral("--user") << user << QStringLiteral("--password") << password;
    if (port != 0)
        arguments << QStringLiteral("--port") << QString::number(port);
    for (const QString& address : qAsConst(m_refused))
        arguments << QStringLiteral("--refuse") << address;
    for (const QString& address : qAsConst(m_deferred))
        arguments << QStringLiteral("--defer") << address;
    if (m_longReply > 0)
        arguments << QStringLiteral("--long-reply") << QString::number(m_longReply);
    if (m_silentQuit)
        arguments << QStringLiteral("--silent-quit");

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(Python, arguments);
    // The server names its port once it listens.
    const QDeadlineTimer deadline(20000);
    QByteArray output;
    while (!output.contains('\n') && !deadline.hasExpired() &&
           m_process->state() != QProcess::NotRunning) {
        m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        output += m_process->readAllStandardOutput();
    }
    const QByteArray line = output.left(output.indexOf('\n')).trimmed();
    if (!line.startsWith("PORT ")) {
        m_error = QStringLiteral("The SMTP server did not start: ") + QString::fromUtf8(output);
        stop();
        return false;
    }
    m_port = quint16(line.mid(5).toUInt());
    return m_port != 0;
}

void SmtpServer::stop()
{
    if (!m_process)
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(5000)) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process.reset();
    m_port = 0;
}

void SmtpServer::clearMisbehaviour()
{
    m_refused.clear();
    m_deferred.clear();
    m_longReply = 0;
    m_silentQuit = false;
}

QList<QByteArray> SmtpServer::messages() const
{
    QList<QByteArray> result;
    const QStringList files =
        QDir(m_mailFolder).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        QFile file(m_mailFolder + QLatin1Char('/') + name);
        if (file.open(QIODevice::ReadOnly))
            result << file.readAll();
    }
    return result;
}
