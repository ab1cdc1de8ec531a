#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

namespace testenv {

// A small HTTP/1.1 server on the loopback interface for tests that fetch over the
// network. It lives on the thread that creates it, so that thread must turn its event
// loop (QTRY_*, QSignalSpy::wait) while a client waits. One request per connection;
// every answer closes the connection.
class TestHttpServer : public QObject {
    Q_OBJECT

public:
    struct Response {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers; // sent after the standard ones
        int delayMs = 0;                              // wait this long before answering
        bool neverAnswer = false;                     // read the request, then say nothing
        bool withoutLength = false; // no Content-Length: the body ends with the connection
    };
    struct Request {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
    };

    // Listens on 127.0.0.1 at a free port.
    TestHttpServer();
    ~TestHttpServer() override;

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    // "http://127.0.0.1:<port><path>"
    QString url(const QByteArray& path) const;

    // Unknown paths are answered with 404.
    void setResponse(const QByteArray& path, const Response& response);
    void clearResponses();
    static Response redirect(const QByteArray& location, int status = 302);

    // While held, requests are read but not answered until releaseAnswers(): a test
    // can have several clients in flight at once, or prove that a caller did not wait.
    void holdAnswers();
    void releaseAnswers();

    QList<Request> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

signals:
    void requestReceived();

private:
    void readFrom(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Response& response);

    QTcpServer m_server;
    QHash<QByteArray, Response> m_responses;
    QList<Request> m_requests;
    bool m_holding = false;
    QList<QPair<QPointer<QTcpSocket>, Response>> m_held;
};

} // namespace testenv
