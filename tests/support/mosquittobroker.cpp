#include "mosquittobroker.h"

#include "serverprocess.h"

#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <pwd.h>
#include <unistd.h>

MosquittoBroker::MosquittoBroker(const QString& folder) : MosquittoBroker(folder, Options()) {}

MosquittoBroker::MosquittoBroker(const QString& folder, const Options& options)
    : m_folder(folder), m_options(options), m_process(std::make_unique<ServerProcess>())
{
}

MosquittoBroker::~MosquittoBroker() = default;

bool MosquittoBroker::writeConfig()
{
    if (m_port == 0) {
        m_port = ServerProcess::freeLoopbackPort();
        if (!m_options.certFile.isEmpty())
            m_tlsPort = ServerProcess::freeLoopbackPort();
    }
    QFile file(m_folder + QStringLiteral("/mosquitto.conf"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = file.errorString();
        return false;
    }
    QTextStream conf(&file);
    // Started as root the broker would become the user "mosquitto", who cannot read the
    // test's folder; as anyone else this changes nothing.
    if (const passwd* user = getpwuid(geteuid()))
        conf << "user " << user->pw_name << "\n";
    // stderr: the broker does not flush its standard output after each line.
    conf << "log_dest stderr\n";
    conf << (m_options.logAll ? "log_type all\n"
                              : "log_type error\nlog_type warning\n"
                                "log_type notice\nlog_type information\n");
    conf << "connection_messages true\n";
    // Whatever a subscriber away for a while missed is kept for it, however much.
    conf << "max_queued_messages 0\n";
    conf << "persistence " << (m_options.persistence ? "true" : "false") << "\n";
    if (m_options.persistence)
        conf << "persistence_location " << m_folder << "/\n";
    if (m_options.user.isEmpty()) {
        conf << "allow_anonymous true\n";
    } else {
        const QString passwords = m_folder + QStringLiteral("/passwords");
        QFile::remove(passwords);
        const int rc = QProcess::execute(QStringLiteral(MOSQUITTO_PASSWD_PROGRAM),
                                         {QStringLiteral("-c"), QStringLiteral("-b"), passwords,
                                          m_options.user, m_options.password});
        if (rc != 0) {
            m_error = QStringLiteral("mosquitto_passwd failed");
            return false;
        }
        conf << "allow_anonymous false\n";
        conf << "password_file " << passwords << "\n";
    }
    conf << "listener " << m_port << " 127.0.0.1\n";
    if (m_tlsPort) {
        conf << "listener " << m_tlsPort << " 127.0.0.1\n";
        conf << "cafile " << m_options.caFile << "\n";
        conf << "certfile " << m_options.certFile << "\n";
        conf << "keyfile " << m_options.keyFile << "\n";
    }
    return true;
}

bool MosquittoBroker::start()
{
    m_error.clear();
    if (!writeConfig())
        return false;
    if (!m_process->startAndWait(
            QStringLiteral(MOSQUITTO_PROGRAM),
            {QStringLiteral("-c"), m_folder + QStringLiteral("/mosquitto.conf")},
            QStringLiteral(" running"))) {
        m_error = m_process->error();
        return false;
    }
    return true;
}

void MosquittoBroker::stop()
{
    m_process->stop();
}

void MosquittoBroker::killHard()
{
    m_process->killHard();
}

bool MosquittoBroker::isRunning() const
{
    return m_process->state() == QProcess::Running;
}

QString MosquittoBroker::log() const
{
    return m_process->output();
}

int MosquittoBroker::countInLog(const QString& text) const
{
    return m_process->countInOutput(text);
}

bool MosquittoBroker::waitForLog(const QString& text, int count, int timeoutMs) const
{
    return m_process->waitForOutput(text, count, timeoutMs);
}
