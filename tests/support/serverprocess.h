#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// A server program a test starts (broker, database): its output is kept for the test to read,
// it is stopped with SIGTERM (killed when it does not quit) and never outlives the test process
// (the kernel ends it when the test dies).
class ServerProcess : public QProcess
{
public:
    ServerProcess();
    ~ServerProcess() override;

    // Starts `program` and waits until its output holds `readyText`; false with error() filled
    // when it ends, or the text does not come within `timeoutMs`.
    bool startAndWait(const QString& program, const QStringList& arguments,
                      const QString& readyText, int timeoutMs = 20000);
    // Waits until the output holds `text` `count` times; false after `timeoutMs`.
    bool waitForOutput(const QString& text, int count, int timeoutMs);
    // SIGTERM and wait; SIGKILL after a few seconds.
    void stop();
    // SIGKILL: the program gets no chance to write anything.
    void killHard();

    QString output();
    int countInOutput(const QString& text);
    const QString& error() const { return m_error; }

    // A TCP port on 127.0.0.1 that nothing listens on now.
    static quint16 freeLoopbackPort();

protected:
    void setupChildProcess() override;

private:
    void collect();

    QByteArray m_output;
    QString m_error;
};
