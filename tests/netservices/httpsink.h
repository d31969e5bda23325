#pragma once
// A local HTTP listener standing in for the viewer bridge: it keeps every
// request's path and body in arrival order and answers 200 (or, when told,
// never answers).
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

class HttpSink
{
public:
    bool answer = true;
    QList<QPair<QString, QByteArray>> requests; // path, body

    HttpSink()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection())
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { read(s); });
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort())); }
    QStringList paths() const
    {
        QStringList p;
        for (const auto& r : requests)
            p << r.first;
        return p;
    }

private:
    void read(QTcpSocket* s)
    {
        QByteArray& buf = m_buf[s];
        buf += s->readAll();
        for (;;) {
            const int end = buf.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = buf.left(end).split('\n');
            int length = 0;
            for (const QByteArray& l : lines)
                if (l.toLower().startsWith("content-length:"))
                    length = l.mid(15).trimmed().toInt();
            if (buf.size() < end + 4 + length)
                return;
            requests.append({QString::fromLatin1(lines.first().split(' ').value(1)), buf.mid(end + 4, length)});
            buf.remove(0, end + 4 + length);
            if (answer)
                s->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        }
    }
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buf;
};
