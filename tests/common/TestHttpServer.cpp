#include "common/TestHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

namespace testenv {
namespace {

QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// Requests larger than this are not ours; drop them.
constexpr qsizetype maxRequestHead = 64 * 1024;

} // namespace

TestHttpServer::TestHttpServer() {
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

TestHttpServer::~TestHttpServer() = default;

QString TestHttpServer::url(const QByteArray& path) const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port()) + QString::fromLatin1(path);
}

void TestHttpServer::setResponse(const QByteArray& path, const Response& response) {
    m_responses.insert(path, response);
}

void TestHttpServer::clearResponses() {
    m_responses.clear();
}

TestHttpServer::Response TestHttpServer::redirect(const QByteArray& location, int status) {
    Response r;
    r.status = status;
    r.headers.append({"Location", location});
    return r;
}

void TestHttpServer::holdAnswers() {
    m_holding = true;
}

void TestHttpServer::releaseAnswers() {
    m_holding = false;
    const auto held = std::exchange(m_held, {});
    for (const auto& [socket, response] : held)
        if (socket)
            answer(socket, response);
}

void TestHttpServer::readFrom(QTcpSocket* socket) {
    // The head so far waits in the socket's property until it is complete.
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    if (socket->property("answered").toBool())
        return;
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() > maxRequestHead)
            socket->abort();
        else
            socket->setProperty("head", head);
        return;
    }
    socket->setProperty("answered", true);

    Request request;
    const QList<QByteArray> lines = head.left(end).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                   lines.at(i).mid(colon + 1).trimmed());
    }
    m_requests.append(request);

    Response response;
    if (const auto it = m_responses.constFind(request.path); it != m_responses.cend())
        response = it.value();
    else
        response.status = 404;
    emit requestReceived();

    if (response.neverAnswer)
        return;
    if (m_holding) {
        m_held.append({QPointer<QTcpSocket>(socket), response});
        return;
    }
    answer(socket, response);
}

void TestHttpServer::answer(QTcpSocket* socket, const Response& response) {
    if (response.delayMs > 0) {
        Response now = response;
        now.delayMs = 0;
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(response.delayMs, this, [this, guard, now] {
            if (guard)
                answer(guard, now);
        });
        return;
    }
    QByteArray out =
        "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reason(response.status) + "\r\n";
    out += "Content-Type: application/xml\r\nConnection: close\r\n";
    if (!response.withoutLength)
        out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    for (const auto& [name, value] : response.headers)
        out += name + ": " + value + "\r\n";
    out += "\r\n";
    out += response.body;
    socket->write(out);
    // Closes once everything written has gone out.
    socket->disconnectFromHost();
}

} // namespace testenv
