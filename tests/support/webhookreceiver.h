#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>

class QTcpServer;
class QTcpSocket;

// An HTTP server for webhook tests on a free loopback port, in the test's own thread: stores
// each request and answers it with the status the test sets (200 OK unless told otherwise).
// With setEndlessBody() it plays a hostile server instead: requests to paths starting with the
// given text are answered "200 OK" with a body that never ends (written as fast as the client
// reads it, until the client hangs up).
class WebhookReceiver : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        // Names in lower case.
        QHash<QByteArray, QByteArray> headers;
        QByteArray body;
    };

    explicit WebhookReceiver(QObject* parent = nullptr);

    bool listen();
    quint16 port() const;
    // "http://127.0.0.1:<port><path>"
    QString url(const QString& path) const;
    void setAnswer(int status, const QByteArray& reason, const QByteArray& body = QByteArray());
    const QList<Request>& requests() const { return m_requests; }

    void setEndlessBody(const QByteArray& pathPrefix);
    // Bytes of endless bodies handed to the sockets so far, and connections the client ended
    // while one was being written.
    qint64 endlessBytes() const { return m_endlessBytes; }
    int endlessHangUps() const { return m_endlessHangUps; }

signals:
    void received();

private:
    void readFrom(QTcpSocket* socket);
    void feedEndless(QTcpSocket* socket);

    QTcpServer* m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QList<Request> m_requests;
    int m_status = 200;
    QByteArray m_reason = "OK";
    QByteArray m_body = "{\"ok\":true}";
    QByteArray m_endlessPrefix;
    qint64 m_endlessBytes = 0;
    int m_endlessHangUps = 0;
};
