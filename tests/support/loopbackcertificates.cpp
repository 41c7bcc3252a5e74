#include "loopbackcertificates.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

LoopbackCertificates::LoopbackCertificates(const QString& folder) : m_folder(folder) {}

bool LoopbackCertificates::run(const QStringList& arguments)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral(OPENSSL_PROGRAM), arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl ") + arguments.join(QLatin1Char(' ')) +
                  QStringLiteral(": ") + QString::fromUtf8(openssl.readAll());
        return false;
    }
    return true;
}

bool LoopbackCertificates::make()
{
    QDir().mkpath(m_folder);
    const QString extensions = m_folder + QStringLiteral("/server.ext");
    QFile ext(extensions);
    if (!ext.open(QIODevice::WriteOnly) ||
        ext.write("basicConstraints=CA:FALSE\n"
                  "keyUsage=digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\n"
                  "subjectAltName=DNS:localhost,IP:127.0.0.1\n") < 0) {
        m_error = ext.errorString();
        return false;
    }
    ext.close();
    const QString caKey = m_folder + QStringLiteral("/ca.key");
    const QString request = m_folder + QStringLiteral("/server.csr");
    return run({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                QStringLiteral("-keyout"), caKey, QStringLiteral("-out"), caFile(),
                QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                QStringLiteral("/CN=Loopback test CA ") + QFileInfo(m_folder).fileName(),
                QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                QStringLiteral("-addext"),
                QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")}) &&
           run({QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                QStringLiteral("-nodes"), QStringLiteral("-keyout"), keyFile(),
                QStringLiteral("-out"), request, QStringLiteral("-subj"),
                QStringLiteral("/CN=localhost")}) &&
           run({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), request,
                QStringLiteral("-CA"), caFile(), QStringLiteral("-CAkey"), caKey,
                QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), certFile(),
                QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"),
                extensions});
}
