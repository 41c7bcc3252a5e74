#include "serverprocess.h"

#include <QDeadlineTimer>
#include <QTcpServer>

#include <csignal>
#include <sys/prctl.h>

ServerProcess::ServerProcess()
{
    setProcessChannelMode(QProcess::MergedChannels);
}

ServerProcess::~ServerProcess()
{
    stop();
}

void ServerProcess::setupChildProcess()
{
    // Runs in the child before exec: it ends with the process that started it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}

bool ServerProcess::startAndWait(const QString& program, const QStringList& arguments,
                                 const QString& readyText, int timeoutMs)
{
    m_output.clear();
    m_error.clear();
    start(program, arguments);
    if (!waitForStarted(timeoutMs)) {
        m_error = program + QStringLiteral(" did not start: ") + errorString();
        return false;
    }
    if (!waitForOutput(readyText, 1, timeoutMs)) {
        m_error = program + QStringLiteral(" did not become ready:\n") + output();
        stop();
        return false;
    }
    return true;
}

bool ServerProcess::waitForOutput(const QString& text, int count, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (countInOutput(text) < count) {
        if (state() != QProcess::Running || deadline.hasExpired())
            return false;
        waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    return true;
}

void ServerProcess::stop()
{
    if (state() == QProcess::NotRunning)
        return;
    terminate();
    if (!waitForFinished(5000)) {
        kill();
        waitForFinished(5000);
    }
    collect();
}

void ServerProcess::killHard()
{
    if (state() == QProcess::NotRunning)
        return;
    kill();
    waitForFinished(5000);
    collect();
}

QString ServerProcess::output()
{
    collect();
    return QString::fromUtf8(m_output);
}

int ServerProcess::countInOutput(const QString& text)
{
    collect();
    return m_output.count(text.toUtf8());
}

void ServerProcess::collect()
{
    m_output += readAll();
}

quint16 ServerProcess::freeLoopbackPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}
