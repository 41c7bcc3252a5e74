#pragma once

#include <QString>

#include <memory>

class ServerProcess;

// A mosquitto broker of the test's own on free loopback ports, configured in `folder`:
//
//   MosquittoBroker broker(dir.path());
//   QVERIFY2(broker.start(), qPrintable(broker.error()));
//   ... 127.0.0.1 : broker.port() ...
//   broker.stop();   // an outage; start() again listens on the same ports
//
// Every connection attempt shows in log() as "New connection from".
class MosquittoBroker
{
public:
    struct Options
    {
        QString user; // set: only this login is let in (a password file), no anonymous
        QString password;
        bool persistence = false; // sessions and queued messages kept across stop() and start()
        // A second listener with TLS (tlsPort()) using these files; the plain one stays.
        QString caFile;
        QString certFile;
        QString keyFile;
        bool logAll = true; // every packet in the log; off for benchmarks
    };

    explicit MosquittoBroker(const QString& folder);
    MosquittoBroker(const QString& folder, const Options& options);
    ~MosquittoBroker();

    bool start();
    void stop();
    void killHard();
    bool isRunning() const;

    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; }
    QString log() const;
    int countInLog(const QString& text) const;
    // Waits until the log holds `text` `count` times.
    bool waitForLog(const QString& text, int count, int timeoutMs) const;
    const QString& error() const { return m_error; }

private:
    bool writeConfig();

    QString m_folder;
    Options m_options;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    std::unique_ptr<ServerProcess> m_process;
    QString m_error;
};
