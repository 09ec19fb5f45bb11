// The HTTP request worker against the local test server: the request bytes as the server got them
// for each variable layout and verb, the multipart body read apart from the worker, the answer and
// error fields, the answer size limit, redirects and the time-out.
#include "http_test_server.h"
#include "row_name.h"
#include "test_app.h"
#include "test_files.h"
#include "wait.h"

#include "update/http_request_worker.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

using test_support::HttpReply;
using test_support::HttpTestServer;
using test_support::RecordedRequest;
using test_support::RowName;

// Runs one request to its end.
bool run(HttpRequestWorker& worker, HttpRequestSpec& input)
{
    bool finished = false;
    const auto c = QObject::connect(&worker, &HttpRequestWorker::on_execution_finished, [&] { finished = true; });
    worker.execute(&input);
    const bool ok = test_support::waitFor([&] { return finished; });
    QObject::disconnect(c);
    return ok;
}

class WorkerTest : public ::testing::Test {
protected:

    // The one request the server got for the request input describes.
    RecordedRequest sent(HttpRequestSpec& input)
    {
        EXPECT_TRUE(run(worker, input));
        EXPECT_EQ(server.requests().size(), 1);
        return server.requests().value(0);
    }

    TestApplication* app = TestApplication::get();
    HttpTestServer server;
    HttpRequestWorker worker;
};

// The header lines of the request, in order, as "Name: value".
QList<QByteArray> headerLines(const RecordedRequest& r)
{
    QList<QByteArray> lines;
    for (const auto& h : r.headers)
        lines.append(h.first + ": " + h.second);
    return lines;
}

struct Attribute {
    const char* name;
    const char* value;
    const char* expected;
};

void PrintTo(const Attribute& row, std::ostream* os) { *os << row.name; }

class HeaderAttribute : public ::testing::TestWithParam<Attribute> {};

TEST_P(HeaderAttribute, PlainAndExtendedForms)
{
    EXPECT_EQ(HttpRequestWorker::encodeHeaderAttribute("name", QString::fromUtf8(GetParam().value)),
              QString::fromUtf8(GetParam().expected))
        << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, HeaderAttribute,
    ::testing::Values(Attribute{"Plain", "abc", "name=\"abc\""},
        Attribute{"Slash", "a/b.txt", "name=\"ab.txt\"; name*=utf-8''a%2Fb%2Etxt"},
        Attribute{"Empty", "", "name=\"\"; name*=utf-8''"},
        Attribute{"Quotes", "say \"hi\"", "name=\"say \\\"hi\\\"\""},
        Attribute{"Umlaut", "ä.txt", "name=\".txt\"; name*=utf-8''%C3%A4%2Etxt"},
        Attribute{"LineBreak", "a\r\nb", "name=\"ab\"; name*=utf-8''a%0D%0Ab"},
        Attribute{"Backslash", "a\\b", "name=\"ab\"; name*=utf-8''a%5Cb"},
        Attribute{"NothingPlain", "\xE4\xB8\xAD", "name=\"\"; name*=utf-8''%E4%B8%AD"},
        Attribute{"PlainPunctuation", "a~b-c_d e", "name=\"a~b-c_d e\""}),
    RowName());

TEST_F(WorkerTest, AGetSendsTheVariablesAsTheQueryInKeyOrder)
{
    server.route("/api/system/upgrade", HttpReply::json("{}"));
    HttpRequestSpec input(server.url("/api/system/upgrade"), "GET");
    input.addVar("version", "2.1 beta/é+&");
    input.addVar("fwversion", "");
    input.addVar("noencrypt", "0");
    input.addVar("noencrypt", "1"); // replaces the first value
    const RecordedRequest r = sent(input);
    const QByteArray target = "/api/system/upgrade?fwversion=&noencrypt=1&version=2.1%20beta%2F%C3%A9%2B%26";
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, target);
    EXPECT_EQ(input.layout, HttpVarLayoutQuery);
    EXPECT_EQ(input.url, server.url(QString::fromLatin1(target)));
    EXPECT_EQ(r.header("User-Agent"), "Agent name goes here");
    EXPECT_EQ(r.header("Host"), "127.0.0.1:" + QByteArray::number(server.port()));
    EXPECT_FALSE(r.hasHeader("Content-Type"));
    EXPECT_FALSE(r.hasHeader("Content-Length"));
    EXPECT_TRUE(r.body.isEmpty());
    // The whole request: its line, the header lines that the network layer adds and nothing else.
    QByteArray raw = "GET " + target + " HTTP/1.1\r\n";
    for (const QByteArray& line : headerLines(r))
        raw += line + "\r\n";
    EXPECT_EQ(r.raw, raw + "\r\n");
    QList<QByteArray> names;
    for (const auto& h : r.headers)
        names.append(h.first.toLower());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (QList<QByteArray>{"accept-encoding", "accept-language", "connection", "host", "user-agent"}));
    EXPECT_EQ(r.header("Connection"), "Keep-Alive");
    EXPECT_EQ(r.header("Accept-Encoding"), "gzip, deflate");
    EXPECT_EQ(worker.errorCode, 0);
    EXPECT_EQ(worker.response, "{}");
}

struct QueryUrl {
    const char* name;
    const char* path;
    bool vars;
    const char* method;
    const char* target;
};

void PrintTo(const QueryUrl& row, std::ostream* os) { *os << row.name; }

class QueryUrls : public WorkerTest, public ::testing::WithParamInterface<QueryUrl> {};

TEST_P(QueryUrls, WithoutVariablesOrWithAQueryAlready)
{
    const QueryUrl& c = GetParam();
    HttpRequestSpec input(server.url(c.path), c.method);
    if (c.vars)
        input.addVar("k", "v");
    const RecordedRequest r = sent(input);
    EXPECT_EQ(r.method, c.method);
    EXPECT_EQ(r.target, c.target) << c.path;
    EXPECT_EQ(input.layout, HttpVarLayoutQuery);
}

INSTANTIATE_TEST_SUITE_P(WorkerTest, QueryUrls,
    ::testing::Values(QueryUrl{"NoVariablesNoQuestionMark", "/a", false, "GET", "/a"},
        QueryUrl{"Head", "/a", true, "HEAD", "/a?k=v"},
        QueryUrl{"AfterAQuery", "/a?x=1", true, "GET", "/a?x=1&k=v"},
        QueryUrl{"AfterAnEmptyQuery", "/a?", true, "GET", "/a?k=v"},
        QueryUrl{"AfterAQueryEndingInAnAmpersand", "/a?x=1&", true, "GET", "/a?x=1&k=v"}),
    RowName());

struct Verb {
    const char* name;
    const char* method;
    bool bodySent;
};

void PrintTo(const Verb& row, std::ostream* os) { *os << row.name; }

class OtherVerbs : public WorkerTest, public ::testing::WithParamInterface<Verb> {};

TEST_P(OtherVerbs, SendTheVariablesAsAUrlEncodedBody)
{
    const Verb& c = GetParam();
    HttpRequestSpec input(server.url("/form"), c.method);
    input.addVar("b", "x y");
    input.addVar("a", "ä&=");
    const RecordedRequest r = sent(input);
    const QByteArray body = "a=%C3%A4%26%3D&b=x%20y";
    EXPECT_EQ(input.layout, HttpVarLayoutUrlEncoded);
    EXPECT_EQ(r.method, c.method);
    EXPECT_EQ(r.target, "/form");
    EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.body, c.bodySent ? body : QByteArray());
    if (c.bodySent) {
        EXPECT_EQ(r.header("Content-Length"), QByteArray::number(body.size()));
        EXPECT_TRUE(r.raw.endsWith("\r\n\r\n" + body));
    }
    EXPECT_EQ(r.header("User-Agent"), "Agent name goes here");
}

INSTANTIATE_TEST_SUITE_P(WorkerTest, OtherVerbs,
    ::testing::Values(Verb{"Post", "POST", true}, Verb{"Put", "PUT", true},
        Verb{"LowerCaseGet", "get", true}, // not exactly "GET": a custom verb with the body
        Verb{"Patch", "PATCH", true},
        Verb{"Delete", "DELETE", false}), // the body is built, its content type set, but nothing sent
    RowName());

TEST_F(WorkerTest, ACustomVerbsBodyOutlivesTheRecordAndTheCall)
{
    bool finished = false;
    QObject::connect(&worker, &HttpRequestWorker::on_execution_finished, [&] { finished = true; });
    {
        auto input = std::make_unique<HttpRequestSpec>(server.url("/custom"), "REPORT");
        input->addVar("key", QString(100000, 'v'));
        worker.execute(input.get());
    }
    ASSERT_TRUE(test_support::waitFor([&] { return finished; }));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].method, "REPORT");
    EXPECT_EQ(server.requests()[0].body, "key=" + QByteArray(100000, 'v'));
}

// A multipart body read apart from the worker: the parts between the boundary lines that the
// content type names, each as its header lines and its content.
struct Part {
    QList<QByteArray> headers;
    QByteArray content;
};
bool parseMultipart(const QByteArray& contentType, const QByteArray& body, QList<Part>* parts, QByteArray* boundary)
{
    const QByteArray prefix = "multipart/form-data; boundary=";
    if (!contentType.startsWith(prefix))
        return false;
    *boundary = contentType.mid(prefix.size());
    const QByteArray delimiter = "--" + *boundary;
    if (!body.startsWith(delimiter) || !body.endsWith(delimiter + "--"))
        return false;
    int pos = delimiter.size();
    while (body.mid(pos, 2) == "\r\n") {
        const int next = body.indexOf("\r\n" + delimiter, pos);
        if (next < 0)
            return false;
        const QByteArray part = body.mid(pos + 2, next - pos - 2);
        const int blank = part.indexOf("\r\n\r\n");
        if (blank < 0)
            return false;
        parts->append({part.left(blank).split('\n'), part.mid(blank + 4)});
        for (QByteArray& h : parts->last().headers)
            h = h.trimmed();
        pos = next + 2 + delimiter.size();
    }
    return pos == body.size() - 2 && body.mid(pos) == "--";
}

TEST_F(WorkerTest, MultipartBodyWithVariablesAndFiles)
{
    QTemporaryDir dir;
    const QByteArray binary("\x00\x01\r\n--\xFF end", 11);
    ASSERT_TRUE(test_support::writeFile(dir.path() + "/data.bin", binary));
    ASSERT_TRUE(test_support::writeFile(dir.path() + "/notes.txt", "plain"));
    ASSERT_TRUE(test_support::writeFile(dir.path() + "/evil.txt", "x"));
    HttpRequestSpec input(server.url("/upload"), "POST");
    input.addVar("title", "Grüße");
    input.addVar("a", "1");
    input.addFile("file", dir.path() + "/data.bin", "", "application/octet-stream");
    input.addFile("notes", dir.path() + "/notes.txt", "über.txt", "");
    input.addFile("missing", dir.path() + "/none.bin", "n", "text/plain"); // skipped: no such file
    input.addFile("folder", dir.path(), "d", "text/plain"); // skipped: not a file
    input.addFile("", dir.path() + "/notes.txt", "n", "text/plain"); // skipped: no name
    input.addFile("evil", dir.path() + "/evil.txt", "e", "text/plain\r\nX-Injected: 1"); // skipped: a line break
    const RecordedRequest r = sent(input);

    EXPECT_EQ(input.layout, HttpVarLayoutMultipart);
    EXPECT_EQ(input.files[0].requestFileName, "data.bin"); // the default, written back
    QList<Part> parts;
    QByteArray boundary;
    ASSERT_TRUE(parseMultipart(r.header("Content-Type"), r.body, &parts, &boundary)) << r.body.toStdString();
    EXPECT_TRUE(boundary.startsWith("__-----------------------"));
    EXPECT_GE(boundary.size(), 25 + 32); // 16 random bytes in hexadecimal
    ASSERT_EQ(parts.size(), 4);
    EXPECT_EQ(parts[0].headers, (QList<QByteArray>{"Content-Disposition: form-data; name=\"a\"", "Content-Type: text/plain"}));
    EXPECT_EQ(parts[0].content, "1");
    EXPECT_EQ(parts[1].headers,
              (QList<QByteArray>{"Content-Disposition: form-data; name=\"title\"", "Content-Type: text/plain"}));
    EXPECT_EQ(parts[1].content, "Grüße");
    EXPECT_EQ(parts[2].headers, (QList<QByteArray>{"Content-Disposition: form-data; name=\"file\"; filename=\"data.bin\"",
                                                   "Content-Type: application/octet-stream",
                                                   "Content-Transfer-Encoding: binary"}));
    EXPECT_EQ(parts[2].content, binary);
    EXPECT_EQ(parts[3].headers,
              (QList<QByteArray>{"Content-Disposition: form-data; name=\"notes\"; filename=\"ber.txt\"; filename*=utf-8''%C3%BCber%2Etxt",
                                 "Content-Transfer-Encoding: binary"}));
    EXPECT_EQ(parts[3].content, "plain");
    EXPECT_FALSE(r.body.contains("X-Injected"));
}

TEST_F(WorkerTest, AFilePartMakesAGetMultipartWithoutABody)
{
    QTemporaryDir dir;
    ASSERT_TRUE(test_support::writeFile(dir.path() + "/f", "x"));
    HttpRequestSpec input(server.url("/g"), "GET");
    input.addVar("k", "v");
    input.addFile("f", dir.path() + "/f", "", "");
    const RecordedRequest r = sent(input);
    EXPECT_EQ(input.layout, HttpVarLayoutMultipart);
    EXPECT_EQ(r.target, "/g");
    EXPECT_TRUE(r.header("Content-Type").startsWith("multipart/form-data; boundary=__-----------------------"));
    EXPECT_TRUE(r.body.isEmpty());
}

// Gives the boundaries it is handed, in turn.
class FixedBoundaryWorker : public HttpRequestWorker {
public:
    mutable QList<QByteArray> boundaries;

protected:
    QByteArray makeBoundary() const override { return boundaries.takeFirst(); }
};

TEST_F(WorkerTest, ABoundaryThatThePartsHoldIsReplaced)
{
    FixedBoundaryWorker fixed;
    fixed.boundaries = {"__-----------------------A", "__-----------------------B"};
    HttpRequestSpec input(server.url("/m"), "POST");
    input.addVar("v", "text\r\n--__-----------------------A--\r\n");
    input.layout = HttpVarLayoutMultipart;
    ASSERT_TRUE(run(fixed, input));
    const RecordedRequest r = server.requests().value(0);
    QList<Part> parts;
    QByteArray boundary;
    ASSERT_TRUE(parseMultipart(r.header("Content-Type"), r.body, &parts, &boundary));
    EXPECT_EQ(boundary, "__-----------------------B");
    ASSERT_EQ(parts.size(), 1);
    EXPECT_EQ(parts[0].content, "text\r\n--__-----------------------A--\r\n");

    // Without collisions every request gets a boundary of its own.
    HttpRequestSpec again(server.url("/m"), "POST");
    again.layout = HttpVarLayoutMultipart;
    ASSERT_TRUE(run(worker, again));
    ASSERT_TRUE(run(worker, again));
    ASSERT_EQ(server.requests().size(), 3);
    EXPECT_NE(server.requests()[1].header("Content-Type"), server.requests()[2].header("Content-Type"));
}

// An answer as the server gives it, and what the worker makes of it.
struct Answer {
    const char* name;
    HttpReply reply;
    int code;
    QByteArray response;
};

void PrintTo(const Answer& row, std::ostream* os) { *os << row.name; }

class Answers : public WorkerTest, public ::testing::WithParamInterface<Answer> {};

TEST_P(Answers, GiveTheResponseAndTheErrorFields)
{
    const Answer& c = GetParam();
    server.route("/answer", c.reply);
    HttpRequestSpec input(server.url("/answer"), "GET");
    ASSERT_TRUE(run(worker, input));
    EXPECT_EQ(worker.errorCode, c.code);
    EXPECT_EQ(worker.response, c.response);
    EXPECT_EQ(worker.errorText.isEmpty(), c.code == 0) << worker.errorText.toStdString();
}

const QByteArray kLimit(HttpRequestWorker::DefaultMaxResponseSize, 'b');

INSTANTIATE_TEST_SUITE_P(WorkerTest, Answers,
    ::testing::Values(Answer{"Json", HttpReply::json("{\"code\":0}"), 0, "{\"code\":0}"},
        Answer{"Chunked", HttpReply::ok("chunked body").chunked().drip(3, 5), 0, "chunked body"},
        Answer{"EndedByTheClose", HttpReply::ok("until close").closeDelimited(), 0, "until close"},
        Answer{"AtTheLimit", HttpReply::ok(kLimit), 0, kLimit},
        Answer{"NotFound", HttpReply::status(404, "not here"), QNetworkReply::ContentNotFoundError, ""},
        Answer{"ServerError", HttpReply::status(500, "broken"), QNetworkReply::InternalServerError, ""},
        Answer{"OverTheLimit", HttpReply::ok(kLimit + "x"), QNetworkReply::OperationCanceledError, ""},
        Answer{"OverTheLimitEndedByTheClose", HttpReply::ok(kLimit + "x").closeDelimited(),
               QNetworkReply::OperationCanceledError, ""},
        Answer{"OverTheLimitChunked", HttpReply::ok(kLimit + kLimit).chunked().drip(65536, 1),
               QNetworkReply::OperationCanceledError, ""},
        Answer{"Cut", HttpReply::ok("0123456789").dropAfterBytes(4), QNetworkReply::RemoteHostClosedError, ""},
        Answer{"DroppedBeforeTheHeaders", HttpReply::dropsBeforeHeaders(), QNetworkReply::RemoteHostClosedError, ""}),
    RowName());

TEST_F(WorkerTest, AnAnswerOverTheLimitSaysSo)
{
    server.route("/over", HttpReply::ok(kLimit + "x"));
    HttpRequestSpec over(server.url("/over"), "GET");
    ASSERT_TRUE(run(worker, over));
    EXPECT_EQ(worker.errorText, "the answer is larger than 1048576 bytes");
}

// A port where nothing listens, then a request that succeeds: each run starts clean.
TEST_F(WorkerTest, EachRunStartsClean)
{
    server.route("/ok", HttpReply::json("{\"code\":0}"));
    HttpTestServer* closed = new HttpTestServer;
    const QString refused = closed->url("/x");
    delete closed;
    HttpRequestSpec none(refused, "GET");
    ASSERT_TRUE(run(worker, none));
    EXPECT_EQ(worker.errorCode, QNetworkReply::ConnectionRefusedError);
    EXPECT_FALSE(worker.errorText.isEmpty());
    HttpRequestSpec ok(server.url("/ok"), "GET");
    ASSERT_TRUE(run(worker, ok));
    EXPECT_EQ(worker.errorCode, 0);
    EXPECT_EQ(worker.errorText, "");
}

TEST_F(WorkerTest, ARedirectIsNotFollowed)
{
    server.route("/moved", HttpReply::redirect(server.url("/target").toUtf8()).header("Content-Type", "application/json"));
    server.route("/target", HttpReply::json("{\"code\":0}"));
    HttpRequestSpec input(server.url("/moved"), "GET");
    ASSERT_TRUE(run(worker, input));
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_EQ(worker.errorCode, QNetworkReply::ProtocolFailure);
    EXPECT_EQ(worker.errorText, "HTTP 302 to '" + server.url("/target") + "' not followed");
    EXPECT_TRUE(worker.response.isEmpty());
}

TEST_F(WorkerTest, ASilentServerEndsInTheTimeOut)
{
    server.route("/hang", HttpReply::hangs());
    worker.timeoutMs = 200;
    HttpRequestSpec input(server.url("/hang"), "GET");
    ASSERT_TRUE(run(worker, input));
    EXPECT_EQ(worker.errorCode, QNetworkReply::OperationCanceledError);
    EXPECT_EQ(worker.errorText, "no answer data for 200 ms");
    EXPECT_TRUE(worker.response.isEmpty());
}

// The silence time-out and the deadline of the whole answer, each ending a request the other lets go on.
struct Deadline {
    const char* name;
    bool trickle; // 200 bytes, one each 50 ms: 10 s in all, never silent for long; else 50 each 20 ms
    int timeoutMs, deadlineMs;
    int code;
    const char* text;
};

void PrintTo(const Deadline& row, std::ostream* os) { *os << row.name; }

class AnAnswer : public WorkerTest, public ::testing::WithParamInterface<Deadline> {};

TEST_P(AnAnswer, EndsByItsDeadline)
{
    const Deadline& c = GetParam();
    const QByteArray body(200, 't');
    server.route("/answer", c.trickle ? HttpReply::ok(body).drip(1, 50) : HttpReply::ok(body).drip(50, 20));
    worker.timeoutMs = c.timeoutMs;
    worker.deadlineMs = c.deadlineMs;
    HttpRequestSpec input(server.url("/answer"), "GET");
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(run(worker, input));
    EXPECT_LT(timer.elapsed(), 8000);
    EXPECT_EQ(worker.errorCode, c.code);
    EXPECT_EQ(worker.errorText, c.text);
    EXPECT_EQ(worker.response, c.code ? QByteArray() : body);
}

INSTANTIATE_TEST_SUITE_P(WorkerTest, AnAnswer,
    ::testing::Values(
        Deadline{"TrickleWithATimeOut", true, 2000, 600, QNetworkReply::OperationCanceledError, "no whole answer within 600 ms"},
        Deadline{"TrickleWithoutATimeOut", true, 0, 600, QNetworkReply::OperationCanceledError,
                 "no whole answer within 600 ms"},
        Deadline{"QuickWithinBoth", false, 2000, 10000, 0, ""},
        Deadline{"QuickWithNeither", false, 0, 0, 0, ""}),
    RowName());

} // namespace
