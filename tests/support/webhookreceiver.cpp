#include "webhookreceiver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

WebhookReceiver::WebhookReceiver(QObject* parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

bool WebhookReceiver::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 WebhookReceiver::port() const
{
    return m_server->serverPort();
}

QString WebhookReceiver::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(port()) + path;
}

void WebhookReceiver::setAnswer(int status, const QByteArray& reason, const QByteArray& body)
{
    m_status = status;
    m_reason = reason;
    m_body = body;
}

void WebhookReceiver::readFrom(QTcpSocket* socket)
{
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    const int end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    Request request;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                   lines.at(i).mid(colon + 1).trimmed());
    }
    const int length = request.headers.value("content-length").toInt();
    if (buffer.size() < end + 4 + length)
        return;
    request.body = buffer.mid(end + 4, length);
    buffer.remove(0, end + 4 + length);
    m_requests << request;
    if (!m_endlessPrefix.isEmpty() && request.path.startsWith(m_endlessPrefix)) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n");
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { feedEndless(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { ++m_endlessHangUps; });
        feedEndless(socket);
        emit received();
        return;
    }
    socket->write("HTTP/1.1 " + QByteArray::number(m_status) + ' ' + m_reason +
                  "\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body);
    socket->disconnectFromHost();
    emit received();
}

void WebhookReceiver::setEndlessBody(const QByteArray& pathPrefix)
{
    m_endlessPrefix = pathPrefix;
}

// Keeps a little in the socket's buffer, so that the body goes out as fast as it is read and
// this side's memory stays small.
void WebhookReceiver::feedEndless(QTcpSocket* socket)
{
    static const QByteArray chunk(64 * 1024, 'x');
    // Without end for any client that keeps no more than a few MB; the limit only spares the
    // machine a client that keeps it all.
    constexpr qint64 Limit = qint64(256) << 20;
    while (socket->state() == QAbstractSocket::ConnectedState &&
           socket->bytesToWrite() < chunk.size() && m_endlessBytes < Limit) {
        socket->write(chunk);
        m_endlessBytes += chunk.size();
    }
}
