#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <memory>

class ServerProcess;

// An InfluxDB 1.x server (influxd) of the test's own: its meta, data and WAL folders in
// `folder`, both listeners on free loopback ports, reporting off, every HTTP request in log().
//
//   InfluxServer influx(dir.path());
//   QVERIFY2(influx.start(), qPrintable(influx.error()));
//   QVERIFY(influx.createDatabase("site"));
//   ... influx.url() ...
//   influx.stop();   // an outage; start() again keeps the data and the ports
//
// With `authentication` on, the server asks every request for a login; the fixture's own
// requests use the administrator it makes at the first start (adminUser(), adminPassword()).
class InfluxServer
{
public:
    explicit InfluxServer(const QString& folder, bool authentication = false);
    ~InfluxServer();

    bool start();
    void stop();
    void killHard();

    QString url() const;
    quint16 httpPort() const { return m_httpPort; }
    static QString adminUser() { return QStringLiteral("admin"); }
    static QString adminPassword() { return QStringLiteral("admin-secret"); }

    // HTTP to the server; the status code (0 when it did not answer), the body in *body.
    int request(const QByteArray& method, const QString& pathAndQuery, const QByteArray& payload,
                QByteArray* body = nullptr, bool asAdmin = true) const;
    bool createDatabase(const QString& name) const;
    // Lines as they are, as another client would write them.
    int write(const QString& database, const QByteArray& lines) const;
    // One InfluxQL statement, times in Unix seconds; the first result object (with "series" or
    // "error").
    QJsonObject query(const QString& database, const QString& statement) const;

    QString log() const;
    int countInLog(const QString& text) const;
    const QString& error() const { return m_error; }

private:
    bool writeConfig();

    QString m_folder;
    bool m_authentication;
    bool m_adminMade = false;
    quint16 m_bindPort = 0;
    quint16 m_httpPort = 0;
    std::unique_ptr<ServerProcess> m_process;
    QString m_error;
};
