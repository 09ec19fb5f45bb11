#include "http_test_server.h"

#include "wait.h"

#include <QHostAddress>
#include <QMap>
#include <QMutex>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>

namespace test_support {

namespace {

const char kCrlf[] = "\r\n";

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

// The bytes of one whole request at the start of buffer: their count, 0 while incomplete, -1 when
// they cannot be a request.
int parseRequest(const QByteArray& buffer, RecordedRequest* request)
{
    const int headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return buffer.size() > 1024 * 1024 ? -1 : 0;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> start = lines.first().trimmed().split(' ');
    if (start.size() != 3)
        return -1;
    request->method = start.at(0);
    request->target = start.at(1);
    request->version = start.at(2);
    request->headers.clear();
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).endsWith('\r') ? lines.at(i).chopped(1) : lines.at(i);
        const int colon = line.indexOf(':');
        if (colon <= 0)
            return -1;
        request->headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    int pos = headEnd + 4;
    request->body.clear();
    if (request->header("Transfer-Encoding").toLower() == "chunked") {
        for (;;) {
            const int lineEnd = buffer.indexOf(kCrlf, pos);
            if (lineEnd < 0)
                return 0;
            bool ok = false;
            const int size = buffer.mid(pos, lineEnd - pos).split(';').first().trimmed().toInt(&ok, 16);
            if (!ok || size < 0)
                return -1;
            pos = lineEnd + 2;
            if (size == 0) {
                const int trailerEnd = buffer.indexOf(kCrlf, pos);
                if (trailerEnd < 0)
                    return 0;
                pos = trailerEnd + 2;
                break;
            }
            if (buffer.size() < pos + size + 2)
                return 0;
            request->body += buffer.mid(pos, size);
            pos += size + 2;
        }
    } else {
        const QByteArray length = request->header("Content-Length");
        bool ok = true;
        const int size = length.isEmpty() ? 0 : length.toInt(&ok);
        if (!ok || size < 0)
            return -1;
        if (buffer.size() < pos + size)
            return 0;
        request->body = buffer.mid(pos, size);
        pos += size;
    }
    request->raw = buffer.left(pos);
    return pos;
}

// The part of a resource that a Range header asks for: false when the whole resource is served.
// An unsatisfiable range gives start -1.
bool requestedRange(const QByteArray& range, qint64 size, qint64* start, qint64* end)
{
    if (!range.startsWith("bytes=") || range.contains(','))
        return false;
    const QByteArray bounds = range.mid(6).trimmed();
    const int dash = bounds.indexOf('-');
    if (dash < 0)
        return false;
    const QByteArray first = bounds.left(dash).trimmed(), last = bounds.mid(dash + 1).trimmed();
    bool ok = false;
    if (first.isEmpty()) {
        const qint64 suffix = last.toLongLong(&ok);
        if (!ok || suffix < 0)
            return false;
        *start = suffix == 0 ? -1 : qMax<qint64>(0, size - suffix);
        *end = size - 1;
        if (size == 0)
            *start = -1;
        return true;
    }
    *start = first.toLongLong(&ok);
    if (!ok || *start < 0)
        return false;
    *end = size - 1;
    if (!last.isEmpty()) {
        const qint64 e = last.toLongLong(&ok);
        if (!ok || e < *start)
            return false;
        *end = qMin(e, size - 1);
    }
    if (*start >= size)
        *start = -1;
    return true;
}

} // namespace

QByteArray RecordedRequest::path() const
{
    const int q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

QByteArray RecordedRequest::query() const
{
    const int q = target.indexOf('?');
    return q < 0 ? QByteArray() : target.mid(q + 1);
}

QByteArray RecordedRequest::header(const QByteArray& name) const
{
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return QByteArray();
}

bool RecordedRequest::hasHeader(const QByteArray& name) const
{
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

HttpReply HttpReply::ok(const QByteArray& body, const QByteArray& contentType)
{
    HttpReply r;
    r.body = body;
    return r.header("Content-Type", contentType);
}

HttpReply HttpReply::json(const QByteArray& text) { return ok(text, "application/json"); }

HttpReply HttpReply::status(int code, const QByteArray& body)
{
    HttpReply r;
    r.statusCode = code;
    r.body = body;
    return r;
}

HttpReply HttpReply::redirect(const QByteArray& location, int code) { return status(code).header("Location", location); }

HttpReply HttpReply::resource(const QByteArray& bytes)
{
    HttpReply r = ok(bytes, "application/octet-stream");
    r.ranges = true;
    return r.header("Accept-Ranges", "bytes");
}

HttpReply HttpReply::hangs()
{
    HttpReply r;
    r.hang = true;
    return r;
}

HttpReply HttpReply::dropsBeforeHeaders()
{
    HttpReply r;
    r.dropBeforeHeaders = true;
    return r;
}

HttpReply& HttpReply::header(const QByteArray& name, const QByteArray& value)
{
    headers.append({name, value});
    return *this;
}

HttpReply& HttpReply::closeDelimited()
{
    framing = Close;
    return *this;
}

HttpReply& HttpReply::chunked()
{
    framing = Chunked;
    return *this;
}

HttpReply& HttpReply::drip(int bytes, int ms)
{
    dripBytes = bytes;
    dripMs = ms;
    return *this;
}

HttpReply& HttpReply::dropAfterBytes(qint64 bytes, bool byReset)
{
    dropAfter = bytes;
    reset = byReset;
    return *this;
}

HttpReply& HttpReply::stallAfterBytes(qint64 bytes)
{
    stallAfter = bytes;
    return *this;
}

class HttpTestServer::Impl {
public:
    QThread thread;
    QObject* core = nullptr; // lives on the thread; owns the listener and the connections
    quint16 port = 0;

    mutable QMutex lock;
    QList<RecordedRequest> requests;
    int connections = 0;
    QMap<QByteArray, Handler> routes;

    HttpReply answer(const RecordedRequest& request)
    {
        Handler handler;
        {
            QMutexLocker locker(&lock);
            requests.append(request);
            handler = routes.value(request.path());
        }
        return handler ? handler(request) : HttpReply::status(404);
    }
};

namespace {

// One client connection, on the server's thread: its requests are answered one after another.
class Connection : public QObject {
public:
    enum After { KeepOpen, Close, Reset, Stall };

    Connection(QTcpSocket* socket, int serial, std::function<HttpReply(const RecordedRequest&)> answer, QObject* parent)
        : QObject(parent)
        , m_socket(socket)
        , m_serial(serial)
        , m_answer(std::move(answer))
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this] {
            m_buffer += m_socket->readAll();
            next();
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { finishWhenWritten(); });
        connect(socket, &QTcpSocket::disconnected, this, [this] {
            m_drip.stop();
            deleteLater();
        });
        m_drip.setSingleShot(false);
        connect(&m_drip, &QTimer::timeout, this, [this] { sendPiece(); });
    }

private:
    void next()
    {
        while (!m_busy && !m_hung) {
            RecordedRequest request;
            const int used = parseRequest(m_buffer, &request);
            if (used == 0)
                return;
            if (used < 0) {
                m_socket->abort();
                return;
            }
            m_buffer.remove(0, used);
            request.connection = m_serial;
            respond(request, m_answer(request));
        }
    }

    void respond(const RecordedRequest& request, const HttpReply& reply)
    {
        if (reply.hang) {
            m_hung = true;
            return;
        }
        if (reply.dropBeforeHeaders) {
            m_busy = true;
            m_after = reply.reset ? Reset : Close;
            finishWhenWritten();
            return;
        }
        int status = reply.statusCode;
        HttpHeaders headers = reply.headers;
        QByteArray body = reply.body;
        qint64 start = 0, end = 0;
        if (reply.ranges && requestedRange(request.header("Range"), body.size(), &start, &end)) {
            if (start < 0) {
                status = 416;
                headers.append({"Content-Range", "bytes */" + QByteArray::number(body.size())});
                body.clear();
            } else {
                status = 206;
                headers.append({"Content-Range", "bytes " + QByteArray::number(start) + '-' + QByteArray::number(end) + '/'
                                       + QByteArray::number(body.size())});
                body = body.mid(int(start), int(end - start + 1));
            }
        }

        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + kCrlf;
        for (const auto& h : headers)
            head += h.first + ": " + h.second + kCrlf;
        QByteArray wire;
        const bool noBody = request.method == "HEAD";
        switch (reply.framing) {
        case HttpReply::Length:
            head += "Content-Length: " + QByteArray::number(body.size()) + kCrlf;
            wire = body;
            break;
        case HttpReply::Close:
            head += QByteArray("Connection: close") + kCrlf;
            wire = body;
            break;
        case HttpReply::Chunked: {
            head += QByteArray("Transfer-Encoding: chunked") + kCrlf;
            const int piece = reply.dripBytes > 0 ? reply.dripBytes : qMax(1, body.size());
            for (int i = 0; i < body.size(); i += piece) {
                const QByteArray part = body.mid(i, piece);
                wire += QByteArray::number(part.size(), 16) + kCrlf + part + kCrlf;
            }
            wire += QByteArray("0") + kCrlf + kCrlf;
            break;
        }
        }
        head += kCrlf;
        if (noBody)
            wire.clear();

        m_after = KeepOpen;
        if (reply.framing == HttpReply::Close || request.header("Connection").toLower() == "close")
            m_after = Close;
        if (reply.dropAfter >= 0 && reply.dropAfter < wire.size()) {
            wire.truncate(int(reply.dropAfter));
            m_after = reply.reset ? Reset : Close;
        } else if (reply.dropAfter >= 0) {
            m_after = reply.reset ? Reset : Close;
        }
        if (reply.stallAfter >= 0 && reply.stallAfter < wire.size()) {
            wire.truncate(int(reply.stallAfter));
            m_after = Stall;
        }
        m_busy = true;
        m_socket->write(head);
        m_pending = wire;
        m_pieceSize = reply.dripBytes;
        if (reply.dripBytes > 0 && reply.dripMs > 0 && !m_pending.isEmpty()) {
            m_drip.start(reply.dripMs);
        } else {
            m_socket->write(m_pending);
            m_pending.clear();
            finishWhenWritten();
        }
    }

    void sendPiece()
    {
        m_socket->write(m_pending.left(m_pieceSize));
        m_pending.remove(0, m_pieceSize);
        if (m_pending.isEmpty()) {
            m_drip.stop();
            finishWhenWritten();
        }
    }

    // Once everything given to the socket has gone out: the connection's next request, or its end.
    void finishWhenWritten()
    {
        if (!m_busy || !m_pending.isEmpty() || m_drip.isActive() || m_socket->bytesToWrite() > 0)
            return;
        switch (m_after) {
        case KeepOpen:
            m_busy = false;
            next();
            break;
        case Close:
            m_socket->disconnectFromHost();
            break;
        case Stall:
            m_hung = true;
            break;
        case Reset: {
            // No lingering: the close sends a reset.
            struct linger l = {1, 0};
            ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
            m_socket->abort();
            break;
        }
        }
    }

    QTcpSocket* m_socket;
    const int m_serial;
    std::function<HttpReply(const RecordedRequest&)> m_answer;
    QByteArray m_buffer;
    QByteArray m_pending;
    int m_pieceSize = 0;
    QTimer m_drip;
    bool m_busy = false;
    bool m_hung = false;
    After m_after = KeepOpen;
};

} // namespace

HttpTestServer::HttpTestServer()
    : d(new Impl)
{
    // The listener is made and listens here, then moves to the server's thread before it starts,
    // so that its thread sees everything made so far.
    d->core = new QObject;
    Impl* impl = d.get();
    auto* listener = new QTcpServer(impl->core);
    if (!listener->listen(QHostAddress::LocalHost, 0))
        qFatal("the test HTTP server could not listen on 127.0.0.1");
    impl->port = listener->serverPort();
    QObject::connect(listener, &QTcpServer::newConnection, impl->core, [impl, listener] {
        while (QTcpSocket* socket = listener->nextPendingConnection()) {
            int serial;
            {
                QMutexLocker locker(&impl->lock);
                serial = ++impl->connections;
            }
            new Connection(socket, serial, [impl](const RecordedRequest& r) { return impl->answer(r); }, impl->core);
        }
    });
    // The listener and the connections end on their own thread, as it finishes.
    QObject* core = d->core;
    QObject::connect(&d->thread, &QThread::finished, core, [core] { qDeleteAll(core->children()); },
                     Qt::DirectConnection);
    core->moveToThread(&d->thread);
    d->thread.setObjectName(QStringLiteral("http test server"));
    d->thread.start();
}

HttpTestServer::~HttpTestServer()
{
    // The port is closed on return.
    d->thread.quit();
    d->thread.wait();
    delete d->core;
}

quint16 HttpTestServer::port() const { return d->port; }

QString HttpTestServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(d->port) + path;
}

void HttpTestServer::route(const QByteArray& path, const HttpReply& reply)
{
    route(path, [reply](const RecordedRequest&) { return reply; });
}

void HttpTestServer::route(const QByteArray& path, const QList<HttpReply>& replies)
{
    auto next = std::make_shared<int>(0);
    route(path, [replies, next](const RecordedRequest&) {
        if (replies.isEmpty())
            return HttpReply::status(404);
        const HttpReply reply = replies.at(qMin(*next, replies.size() - 1));
        ++*next;
        return reply;
    });
}

void HttpTestServer::route(const QByteArray& path, Handler handler)
{
    QMutexLocker locker(&d->lock);
    d->routes.insert(path, std::move(handler));
}

QList<RecordedRequest> HttpTestServer::requests() const
{
    QMutexLocker locker(&d->lock);
    return d->requests;
}

int HttpTestServer::connections() const
{
    QMutexLocker locker(&d->lock);
    return d->connections;
}

bool HttpTestServer::waitForRequests(int count, int ms) const
{
    return waitFor([&] { return requests().size() >= count; }, ms);
}

} // namespace test_support
