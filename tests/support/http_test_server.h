// An HTTP/1.1 server of the tests: in the test's process, on 127.0.0.1 only and on a thread of its
// own. It keeps every request exactly as it arrived and answers each path from a script.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>

namespace test_support {

typedef QList<QPair<QByteArray, QByteArray>> HttpHeaders;

// One request as the server received it.
struct RecordedRequest {
    QByteArray raw; // every byte of it: request line, header lines, blank line, body as sent
    QByteArray method;
    QByteArray target; // as in the request line: path and query
    QByteArray version;
    HttpHeaders headers; // in the order received, names as sent
    QByteArray body; // decoded when it came in chunks
    int connection = 0; // 1 for the server's first connection, 2 for the next, ...

    QByteArray path() const; // target up to "?"
    QByteArray query() const; // after "?", empty without one
    // The first header of that name (letter case ignored); empty when there is none.
    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;
};

// One answer of the script. The builders give the common answers; the modifiers change how it is sent.
struct HttpReply {
    enum Framing {
        Length, // Content-Length
        Close, // no length: the body ends when the server closes the connection
        Chunked, // Transfer-Encoding: chunked
    };

    int statusCode = 200;
    HttpHeaders headers; // sent as given, before the framing header
    QByteArray body;
    Framing framing = Length;
    // The body is a resource: a request with "Range: bytes=a-b", "a-" or "-n" gets 206 and that part
    // with its Content-Range, one starting at or past its end 416 with "bytes */size".
    bool ranges = false;
    // The body (after the header) goes out in pieces of dripBytes, one every dripMs milliseconds.
    int dripBytes = 0;
    int dripMs = 0;
    // After this many bytes that follow the header the connection is dropped (-1: never).
    qint64 dropAfter = -1;
    // Drops by reset instead of an orderly close.
    bool reset = false;
    // After this many bytes that follow the header nothing more is sent; the connection stays open
    // until the server ends (-1: never).
    qint64 stallAfter = -1;
    // Drops the connection without sending anything.
    bool dropBeforeHeaders = false;
    // Never answers; the connection stays open until the server ends.
    bool hang = false;

    static HttpReply ok(const QByteArray& body, const QByteArray& contentType = "text/plain");
    static HttpReply json(const QByteArray& text);
    // A status with an optional body (404, 416, 500, ...).
    static HttpReply status(int code, const QByteArray& body = QByteArray());
    static HttpReply redirect(const QByteArray& location, int code = 302);
    // Range serving of bytes.
    static HttpReply resource(const QByteArray& bytes);
    static HttpReply hangs();
    static HttpReply dropsBeforeHeaders();

    HttpReply& header(const QByteArray& name, const QByteArray& value);
    HttpReply& closeDelimited();
    HttpReply& chunked();
    HttpReply& drip(int bytes, int ms);
    HttpReply& dropAfterBytes(qint64 bytes, bool byReset = false);
    HttpReply& stallAfterBytes(qint64 bytes);
};

class HttpTestServer {
public:
    // Runs on the server's thread, once per request of its path.
    typedef std::function<HttpReply(const RecordedRequest&)> Handler;

    // Listening on 127.0.0.1 at a free port once constructed (the process's application object must
    // exist). A path without a route gets 404.
    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    quint16 port() const;
    // "http://127.0.0.1:<port>" followed by path.
    QString url(const QString& path = QString()) const;

    // The answer to every request of the path (the target up to "?").
    void route(const QByteArray& path, const HttpReply& reply);
    // The answers in turn; the last one answers every later request.
    void route(const QByteArray& path, const QList<HttpReply>& replies);
    void route(const QByteArray& path, Handler handler);

    // The requests received so far, in order; a request counts once it has arrived whole.
    QList<RecordedRequest> requests() const;
    int connections() const;
    // Runs the caller's event loop until count requests have arrived; false after ms without.
    bool waitForRequests(int count, int ms = 20000) const;

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

} // namespace test_support
