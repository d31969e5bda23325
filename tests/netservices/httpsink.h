#pragma once
// A local HTTP listener standing in for the viewer bridge: it keeps every
// request's path and body in arrival order (heartbeats only counted) and
// answers 200 (or, when told, never answers, answers with another head, or
// streams a long body in small pieces).
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

class HttpSink
{
public:
    bool answer = true;
    QByteArray heartbeatBody;                               // the heartbeat's answer body
    QByteArray head = "HTTP/1.1 200 OK\r\n";                // of the other answers
    qint64 bodyBytes = 0;                                   // the next one's body, zeros, sent as it drains
    QList<QPair<QString, QByteArray>> requests;             // path, body (heartbeats left out)
    int heartbeats = 0;

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
    // Answers what came while it did not answer.
    void answerHeld()
    {
        const auto held = m_held;
        m_held.clear();
        for (const auto& h : held)
            if (h.first)
                reply(h.first, h.second);
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
            const QString path = QString::fromLatin1(lines.first().split(' ').value(1));
            const bool beat = path == QLatin1String("/inline/bymain/heartbeat");
            if (beat)
                ++heartbeats;
            else
                requests.append({path, buf.mid(end + 4, length)});
            buf.remove(0, end + 4 + length);
            if (answer)
                reply(s, beat);
            else
                m_held.append({QPointer<QTcpSocket>(s), beat});
        }
    }
    void reply(QTcpSocket* s, bool beat)
    {
        if (beat) {
            s->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(heartbeatBody.size()) + "\r\n\r\n"
                     + heartbeatBody);
            return;
        }
        const qint64 length = bodyBytes;
        bodyBytes = 0;
        s->write(head + "Content-Length: " + QByteArray::number(length) + "\r\n\r\n");
        if (length <= 0)
            return;
        // A piece at a time as the socket drains: the listener itself never
        // holds the body.
        auto* left = new qint64(length);
        const auto more = [s, left] {
            static const QByteArray piece(1 << 20, '\0');
            while (*left > 0 && s->bytesToWrite() < piece.size()) {
                const qint64 n = qMin<qint64>(*left, piece.size());
                s->write(piece.constData(), n);
                *left -= n;
            }
        };
        QObject::connect(s, &QTcpSocket::bytesWritten, s, more);
        QObject::connect(s, &QObject::destroyed, [left] { delete left; });
        more();
    }
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buf;
    QList<QPair<QPointer<QTcpSocket>, bool>> m_held;
};
