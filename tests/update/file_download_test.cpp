// The page download against the local test server: fresh and resumed transfers, the answers that
// end a download, stalled and failing transfers, two requests for one file and a download cut short
// by its wrapper's end. Every query is answered once, on the GUI thread, with its references
// balanced.
#include "file_size_limit.h"
#include "http_test_server.h"
#include "streaming_server.h"
#include "recording_callback.h"
#include "row_name.h"
#include "test_app.h"
#include "test_files.h"
#include "wait.h"

#include "app/application.h"
#include "update/file_download.h"

#include "cef_extras/logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <memory>
#include <string>

namespace {

using test_support::HttpReply;
using test_support::HttpTestServer;
using test_support::RecordedRequest;
using test_support::RecordingCallback;
using test_support::RowName;
using test_support::readFile;
using test_support::waitFor;
using test_support::writeFile;

// Bytes that differ from block to block, so that a misplaced block shows.
QByteArray resourceBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x);
    }
    return bytes;
}

const int kSize = 300000; // two whole blocks and a part of a third
const QByteArray kResource = resourceBytes(kSize);

// One page query handed to a download, as the dispatcher hands it over.
struct Query {
    CefRefPtr<RecordingCallback> cb;
    std::unique_ptr<wrapFileDownload> download;
    QPointer<commonFileDownloader> downloader;
    QPointer<QThread> thread;
    // finishPart's reports, in order.
    QList<QPair<qint64, qint64>> parts;

    QString answer() const
    {
        QStringList out;
        for (const RecordingCallback::Answer& a : cb->answers())
            out << (a.success ? "S:" + a.text : QString("F:%1:%2").arg(a.code).arg(a.text));
        return out.join('\n');
    }
};

class PageDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldApp = appDirPath();
        ASSERT_TRUE(QDir().mkpath(program()));
        setAppDirPath(program() + "/");
        cef_logging::SetLogDestination((log.path() + "/app.log").toStdString(), LOGSEVERITY_INFO);
    }
    void TearDown() override
    {
        queries.clear();
        setAppDirPath(oldApp);
        cef_logging::SetLogDestination(std::string(), LOGSEVERITY_INFO);
    }

    QString program() const { return root.path() + "/program"; }
    QString path(const QString& relative) const { return program() + "/" + relative; }
    QString logText() const { return QString::fromUtf8(readFile(log.path() + "/app.log")); }

    // The path's requests are answered while the gate is open: it is shut while a download starts,
    // so that its reports are listened to before any can come.
    void serve(const QByteArray& urlPath, const QList<HttpReply>& replies)
    {
        auto next = std::make_shared<int>(0);
        server.route(urlPath, [this, replies, next](const RecordedRequest&) {
            QElapsedTimer waited;
            waited.start();
            while (!gateOpen && waited.elapsed() < 20000)
                QThread::msleep(2);
            const HttpReply reply = replies.at(qMin(*next, replies.size() - 1));
            ++*next;
            return reply;
        });
    }
    void serve(const QByteArray& urlPath, const HttpReply& reply) { serve(urlPath, QList<HttpReply>{reply}); }

    // Starts the download of url into relativeDir with the query handler's reference added; the
    // gate stays shut when held.
    Query& start(const QString& url, const QString& relativeDir = "dl/", int stallMs = RangedDownload::DefaultStallTimeoutMs,
        bool hold = false, qint64 maxSize = RangedDownload::DefaultMaxSize)
    {
        gateOpen = false;
        queries.push_back(std::make_unique<Query>());
        Query& q = *queries.back();
        q.cb = new RecordingCallback;
        q.cb->AddRef();
        q.download = std::make_unique<wrapFileDownload>();
        q.download->stallTimeoutMs = stallMs;
        q.download->maxSize = maxSize;
        q.download->setCallback(q.cb);
        q.download->start(url, relativeDir);
        q.downloader = q.download->downloader;
        q.thread = q.download->thread;
        if (q.downloader) {
            QObject::connect(q.downloader.data(), &RangedDownload::finishPart, &context,
                [&q](qint64 got, qint64 total) { q.parts.append({got, total}); });
        }
        gateOpen = !hold;
        return q;
    }

    // Waits for the answer and for the download's thread and downloader to be gone; every signal
    // the downloader sent has been handled by then.
    static void waitForEnd(Query& q)
    {
        ASSERT_TRUE(waitFor([&] { return !q.cb->answers().empty(); }, 30000)) << "no answer";
        ASSERT_TRUE(waitFor([&] { return q.thread.isNull() && q.downloader.isNull(); }, 30000)) << "thread left";
    }

    // One answer, given on the GUI thread; only the test's own reference is left.
    static void expectAnsweredOnce(const Query& q, const QString& answer)
    {
        EXPECT_EQ(q.answer().toStdString(), answer.toStdString());
        for (const RecordingCallback::Answer& a : q.cb->answers())
            EXPECT_EQ(a.thread, QCoreApplication::instance()->thread());
        EXPECT_EQ(q.cb->refs(), 1);
    }

    QString target() const { return path("dl/a.bin"); }
    QString url(const QString& p = "/f/a.bin") const { return server.url(p); }
    QString success() const { return "S:" + target(); }

    TestApplication* app = TestApplication::get();
    QTemporaryDir root, log;
    QString oldApp;
    QObject context;
    std::atomic<bool> gateOpen{false};
    HttpTestServer server;
    std::vector<std::unique_ptr<Query>> queries;
};

struct FileNameRow {
    const char* name;
    const char* url;
    const char* fileName;
};

void PrintTo(const FileNameRow& row, std::ostream* os) { *os << row.name; }

class DownloadFileName : public ::testing::TestWithParam<FileNameRow> {};

TEST_P(DownloadFileName, FromTheUrlsLastSegment)
{
    EXPECT_EQ(downloadFileName(GetParam().url), QString(GetParam().fileName)) << GetParam().url;
}

INSTANTIATE_TEST_SUITE_P(Urls, DownloadFileName,
    ::testing::Values(FileNameRow{"QueryAfterTheName", "http://h/dir/setup.zip?v=2", "setup.zip"},
        FileNameRow{"SlashInTheQuery", "http://h/a?b=/c", "a"},
        FileNameRow{"HostOnly", "http://h", "h"},
        FileNameRow{"RootPath", "http://h/", ""},
        FileNameRow{"FolderPath", "http://h/dir/", ""},
        FileNameRow{"FragmentKept", "http://h/a#x", "a#x"},
        FileNameRow{"EscapesKept", "http://h/a%20b.bin", "a%20b.bin"}),
    RowName());

// What lies at the target's part file before the download, what the server does, and what the
// request must ask for.
struct Transfer {
    const char* name;
    qint64 partSize; // -1: no part file
    bool partIsPrefix; // the part holds the resource's first bytes; otherwise other bytes
    HttpReply reply;
    qint64 rangeStart;
    qint64 replyBytes; // bytes of the answer's body
};

void PrintTo(const Transfer& t, std::ostream* os) { *os << t.name; }

class Transfers : public PageDownload, public ::testing::WithParamInterface<Transfer> {};

TEST_P(Transfers, EndWithTheWholeFileAndOneAnswer)
{
    const Transfer& t = GetParam();
    if (t.partSize >= 0) {
        QFile part(target() + ".part");
        ASSERT_TRUE(QDir().mkpath(path("dl")));
        ASSERT_TRUE(part.open(QIODevice::WriteOnly));
        if (t.partSize > kSize) {
            ASSERT_TRUE(part.resize(t.partSize)); // sparse
        } else {
            const QByteArray bytes = t.partIsPrefix ? kResource.left(int(t.partSize)) : QByteArray(int(t.partSize), 'x');
            ASSERT_EQ(part.write(bytes), bytes.size());
        }
    }
    serve("/f/a.bin", t.reply);
    Query& q = start(url());
    waitForEnd(q);
    expectAnsweredOnce(q, success());
    EXPECT_TRUE(readFile(target()) == kResource);
    EXPECT_FALSE(QFileInfo::exists(target() + ".part"));

    // The network layer may send a request again on a new connection when the first one closed
    // before the answer was read: each asks for the same.
    ASSERT_GE(server.requests().size(), 1);
    for (const RecordedRequest& request : server.requests()) {
        EXPECT_EQ(request.header("Range").toStdString(), "bytes=" + std::to_string(t.rangeStart) + "-");
        EXPECT_EQ(request.header("Accept-Encoding").toStdString(), "identity");
    }
    // The reports count this transfer's bytes only.
    ASSERT_FALSE(q.parts.isEmpty());
    EXPECT_EQ(q.parts.last(), qMakePair(t.replyBytes, t.replyBytes));
    for (const auto& part : q.parts)
        EXPECT_LE(part.first, t.replyBytes);
}

HttpReply wholeAsPartial()
{
    return HttpReply::status(206, kResource).header("Content-Range", "bytes 0-299999/300000");
}

INSTANTIATE_TEST_SUITE_P(PageDownload, Transfers,
    ::testing::Values(Transfer{"Fresh", -1, true, HttpReply::resource(kResource), 0, kSize},
        Transfer{"EmptyPartIsDropped", 0, true, HttpReply::resource(kResource), 0, kSize},
        Transfer{"PartBelowOneBlockIsDropped", 50000, true, HttpReply::resource(kResource), 0, kSize},
        Transfer{"TwoWholeBlocksStay", 204800, true, HttpReply::resource(kResource), 204800, kSize - 204800},
        Transfer{"PartOfAThirdBlockIsCut", 250000, true, HttpReply::resource(kResource), 204800, kSize - 204800},
        Transfer{"PartTooLargeToResumeIsDropped", 2147483647, false, HttpReply::resource(kResource), 0, kSize},
        Transfer{"WholeAnswerToARangeStartsOver", 204800, false, HttpReply::ok(kResource), 204800, kSize},
        Transfer{"PartialAnswerFromTheStartStartsOver", 204800, false, wholeAsPartial(), 204800, kSize},
        Transfer{"AnswerWithoutLength", 102400, true, HttpReply::resource(kResource).closeDelimited(), 102400,
            kSize - 102400},
        Transfer{"ChunkedAnswer", -1, true, HttpReply::resource(kResource).chunked(), 0, kSize}), RowName());

TEST_F(PageDownload, SlowAnswerReportsEachPiece)
{
    // The network layer reports progress every 100 ms at most.
    serve("/f/a.bin", HttpReply::resource(kResource).drip(30000, 50));
    Query& q = start(url());
    waitForEnd(q);
    expectAnsweredOnce(q, success());
    EXPECT_TRUE(readFile(target()) == kResource);
    EXPECT_GT(q.parts.size(), 2);
    EXPECT_TRUE(logText().contains("Update Info:part 300000 of 300000"));
}

// A first answer that ends before the whole resource: what arrived stays for the next attempt,
// under a name that is not the file's, and the next request goes on from its whole blocks.
struct Resume {
    const char* name;
    HttpReply first;
    qint64 kept; // the bytes the first answer leaves in the part
    qint64 from; // where the next request goes on
};

void PrintTo(const Resume& r, std::ostream* os) { *os << r.name; }

class Resumes : public PageDownload, public ::testing::WithParamInterface<Resume> {};

TEST_P(Resumes, GoOnFromTheWholeBlocksOfThePart)
{
    const Resume& r = GetParam();
    serve("/f/a.bin", {r.first, HttpReply::resource(kResource)});
    Query& first = start(url());
    waitForEnd(first);
    expectAnsweredOnce(first, "F:0:downloadFaild");
    EXPECT_FALSE(QFileInfo::exists(target()));
    EXPECT_TRUE(readFile(target() + ".part") == kResource.left(int(r.kept)));

    Query& second = start(url());
    waitForEnd(second);
    expectAnsweredOnce(second, success());
    EXPECT_TRUE(readFile(target()) == kResource);
    // After a cut answer the network layer may send the first request again on its own, to no one.
    ASSERT_GE(server.requests().size(), 2);
    EXPECT_EQ(server.requests().last().header("Range"), "bytes=" + QByteArray::number(r.from) + "-");
    // A 206 that carried only the rest.
    EXPECT_EQ(second.parts.last(), qMakePair(qint64(kSize - r.from), qint64(kSize - r.from)));
}

INSTANTIATE_TEST_SUITE_P(
    PageDownload, Resumes,
    ::testing::Values(Resume{"DroppedTransfer", HttpReply::resource(kResource).dropAfterBytes(250000), 250000, 204800},
                      // A 206 that ends without error before the end of the resource.
                      Resume{"PartialAnswerThatEndsEarly",
                             HttpReply::status(206, kResource.left(150000)).header("Content-Range", "bytes 0-149999/300000"),
                             150000, 102400}), RowName());

// The network layer reports a cut answer without a length as if it had ended.
TEST_F(PageDownload, CutAnswerWithoutALengthIsNoWholeFile)
{
    for (const HttpReply& whole : {HttpReply::ok(kResource), HttpReply::resource(kResource)}) {
        serve("/f/a.bin", HttpReply(whole).chunked().drip(65536, 20).dropAfterBytes(150000));
        Query& q = start(url());
        waitForEnd(q);
        expectAnsweredOnce(q, "F:0:downloadFaild");
        EXPECT_FALSE(QFileInfo::exists(target()));
        // Kept for a resume only from a server that serves ranges.
        EXPECT_EQ(QFileInfo(target() + ".part").size() > 0, whole.ranges);
        QFile::remove(target() + ".part");
        QFile::remove(target());
    }
}

struct Unsatisfiable {
    const char* name;
    qint64 partSize;
    HttpReply reply;
    bool finishes;
};

void PrintTo(const Unsatisfiable& u, std::ostream* os) { *os << u.name; }

class RangeNotSatisfiable : public PageDownload, public ::testing::WithParamInterface<Unsatisfiable> {};

TEST_P(RangeNotSatisfiable, FinishesOnlyWhenTheKeptPartIsTheWholeResource)
{
    const Unsatisfiable& u = GetParam();
    const QByteArray kept = kResource.left(int(u.partSize));
    if (u.partSize > 0) {
        ASSERT_TRUE(writeFile(target() + ".part", kept));
    }
    serve("/f/a.bin", u.reply);
    Query& q = start(url());
    waitForEnd(q);
    expectAnsweredOnce(q, u.finishes ? success() : "F:0:downloadFaild");
    EXPECT_EQ(QFileInfo::exists(target()), u.finishes);
    if (u.finishes) {
        EXPECT_TRUE(readFile(target()) == kept); // nothing of the answer's body
    }
    EXPECT_FALSE(QFileInfo::exists(target() + ".part"));
}

INSTANTIATE_TEST_SUITE_P(PageDownload, RangeNotSatisfiable,
    ::testing::Values(Unsatisfiable{"KeptPartIsWhole", 204800, HttpReply::resource(kResource.left(204800)), true},
        Unsatisfiable{"KeptPartIsWholeAnswerHasABody", 204800,
            HttpReply::status(416, "not this").header("Content-Range", "bytes */204800"), true},
        Unsatisfiable{"EmptyResource", 0, HttpReply::resource(QByteArray()), true},
        Unsatisfiable{"NothingKeptOfALongerResource", 0,
            HttpReply::status(416).header("Content-Range", "bytes */500"), false},
        Unsatisfiable{"ResourceShorterThanTheKeptPart", 204800, HttpReply::resource(kResource.left(102400)), false},
        Unsatisfiable{"NoSizeGiven", 204800, HttpReply::status(416), false}), RowName());

// Answers that the part file cannot go on from: a status other than 200, 206 or 416, or a part that
// does not start where the kept part ends. Redirects are not followed.
struct Discontinued {
    const char* name;
    HttpReply reply;
    int partSize; // 0: none
    QString log;
};

void PrintTo(const Discontinued& row, std::ostream* os) { *os << row.name; }

QString badStatus(int status)
{
    return "Update Error:Bad HTTP status received in partFinished():" + QString::number(status);
}

class AnswerThatCannotContinue : public PageDownload, public ::testing::WithParamInterface<Discontinued> {};

TEST_P(AnswerThatCannotContinue, EndsOnceAndDropsThePart)
{
    const Discontinued& c = GetParam();
    server.route("/f/b.bin", HttpReply::resource(kResource));
    if (c.partSize) {
        ASSERT_TRUE(writeFile(target() + ".part", kResource.left(c.partSize)));
    }
    serve("/f/a.bin", c.reply);
    Query& q = start(url());
    waitForEnd(q);
    expectAnsweredOnce(q, "F:0:downloadFaild");
    EXPECT_FALSE(QFileInfo::exists(target()));
    EXPECT_FALSE(QFileInfo::exists(target() + ".part"));
    EXPECT_TRUE(logText().contains(c.log)) << logText().toStdString();
    EXPECT_EQ(server.requests().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(PageDownload, AnswerThatCannotContinue,
    ::testing::Values(Discontinued{"NotFoundWithABody", HttpReply::status(404, "<html>missing</html>"), 0, badStatus(404)},
        Discontinued{"NotFoundResumed", HttpReply::status(404, "<html>missing</html>"), 102400, badStatus(404)},
        Discontinued{"ServerError", HttpReply::status(500), 0, badStatus(500)},
        Discontinued{"ServerErrorResumed", HttpReply::status(500), 102400, badStatus(500)},
        Discontinued{"Redirect", HttpReply::redirect("/f/b.bin"), 0, badStatus(302)},
        Discontinued{"NoContent", HttpReply::status(204), 0, badStatus(204)},
        Discontinued{"CreatedResumed", HttpReply::status(201, "made"), 102400, badStatus(201)},
        Discontinued{"PartWithTheWrongStart",
            HttpReply::status(206, kResource.mid(102400)).header("Content-Range", "bytes 102400-299999/300000"), 204800,
            "Update Error: the part starts at byte 102400 instead of 204800"},
        Discontinued{"PartWithoutARange", HttpReply::status(206, kResource.mid(204800)), 204800,
            "Update Error: no valid Content-Range"}),
    RowName());

TEST_F(PageDownload, EmptyAnswerGivesAnEmptyFile)
{
    for (const HttpReply& reply : {HttpReply::ok(QByteArray()), HttpReply::ok(QByteArray()).closeDelimited()}) {
        QFile::remove(target());
        serve("/f/a.bin", reply);
        Query& q = start(url());
        waitForEnd(q);
        expectAnsweredOnce(q, success());
        EXPECT_TRUE(QFileInfo(target()).isFile());
        EXPECT_EQ(QFileInfo(target()).size(), 0);
    }
}

TEST_F(PageDownload, ConnectionDroppedBeforeTheAnswerFailsOnce)
{
    server.route("/f/a.bin", HttpReply::dropsBeforeHeaders());
    Query& q = start(url());
    waitForEnd(q);
    expectAnsweredOnce(q, "F:0:downloadFaild");
    EXPECT_FALSE(QFileInfo::exists(target()));
    EXPECT_TRUE(logText().contains("Update Error: failed to download part starting from 0, error"));
}

TEST_F(PageDownload, StalledTransferEndsByTheTimeOut)
{
    const struct {
        const char* name;
        HttpReply reply;
        qint64 kept;
    } cases[] = {
        {"no answer at all", HttpReply::hangs(), -1},
        {"the answer stops within the first block", HttpReply::resource(kResource).stallAfterBytes(1000), -1},
        {"the answer stops after a whole block", HttpReply::resource(kResource).stallAfterBytes(150000), 150000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.route("/f/a.bin", c.reply);
        QElapsedTimer timer;
        timer.start();
        Query& q = start(url(), "dl/", 300);
        waitForEnd(q);
        expectAnsweredOnce(q, "F:0:downloadFaild");
        EXPECT_LT(timer.elapsed(), 20000);
        EXPECT_FALSE(QFileInfo::exists(target()));
        EXPECT_EQ(QFileInfo(target() + ".part").exists() ? QFileInfo(target() + ".part").size() : -1, c.kept);
        QFile::remove(target() + ".part");
    }
}

TEST_F(PageDownload, FailedWriteIsAFailureAndLeavesNoFile)
{
    serve("/f/a.bin", HttpReply::resource(kResource));
    FileSizeLimit limit(150000);
    ASSERT_TRUE(limit.set());
    Query& q = start(url());
    waitForEnd(q);
    expectAnsweredOnce(q, "F:0:downloadFaild");
    EXPECT_FALSE(QFileInfo::exists(target()));
    EXPECT_FALSE(QFileInfo::exists(target() + ".part"));
    EXPECT_TRUE(logText().contains("Update Error: could not write to '" + target() + ".part'"));
}

TEST_F(PageDownload, SecondRequestForTheFileGetsTheSameAnswer)
{
    serve("/f/a.bin", HttpReply::resource(kResource));
    Query& first = start(url(), "dl/", RangedDownload::DefaultStallTimeoutMs, true);
    ASSERT_TRUE(server.waitForRequests(1));
    Query& same = start(url(), "dl/./", RangedDownload::DefaultStallTimeoutMs, true);
    EXPECT_FALSE(same.downloader);
    // Another address for the same file while it is being written.
    Query& other = start(server.url("/g/a.bin"), "dl/", RangedDownload::DefaultStallTimeoutMs, true);
    expectAnsweredOnce(other, "F:0:downloadFaild");
    EXPECT_TRUE(same.cb->answers().empty());

    gateOpen = true;
    waitForEnd(first);
    ASSERT_TRUE(waitFor([&] { return !same.cb->answers().empty(); }));
    expectAnsweredOnce(first, success());
    expectAnsweredOnce(same, success());
    EXPECT_TRUE(readFile(target()) == kResource);
    EXPECT_EQ(server.requests().size(), 1);
}

// A request refused before anything is asked or written. "{program}" in the address stands for the
// program's folder, "{server}" for the test server.
struct Refused {
    const char* name;
    const char* url;
    const char* dir;
};

void PrintTo(const Refused& row, std::ostream* os) { *os << row.name; }

class RefusedRequest : public PageDownload, public ::testing::WithParamInterface<Refused> {};

TEST_P(RefusedRequest, TouchesNothing)
{
    const QString address =
        QString(GetParam().url).replace("{program}", program()).replace("{server}", server.url());
    ASSERT_TRUE(writeFile(path("conf.txt"), "settings"));
    Query& q = start(address, GetParam().dir);
    waitForEnd(q);
    expectAnsweredOnce(q, "F:0:downloadFaild");
    // The log escapes the control bytes of the address.
    EXPECT_TRUE(logText().contains("Update Error: refused to download '" + QString(address).replace("\n", "\\n") + "'"))
        << logText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(root.path() + "/outside"));
    EXPECT_FALSE(QFileInfo::exists(path("dl")));
    EXPECT_EQ(readFile(path("conf.txt")), QByteArray("settings"));
    EXPECT_EQ(server.requests().size(), 0);
}

INSTANTIATE_TEST_SUITE_P(PageDownload, RefusedRequest,
    ::testing::Values(Refused{"LocalFile", "file://{program}/conf.txt", "dl/"},
        Refused{"OtherScheme", "ftp://127.0.0.1/a.bin", "dl/"},
        Refused{"FolderAboveTheProgram", "{server}/f/a.bin", "../outside/"},
        Refused{"FolderLeadingAboveTheProgram", "{server}/f/a.bin", "dl/../../outside/"},
        Refused{"NameOfTheFolderAbove", "{server}/f/..?x=1", "dl/"},
        Refused{"NameWithALineBreak", "{server}/f/a\nb", "dl/"},
        Refused{"NameWithAColon", "{server}/f/a:b", "dl/"}),
    RowName());

TEST_F(PageDownload, UrlWithoutAFileNameAnswersTheFileWritten)
{
    server.route("/dir/", HttpReply::resource("listing"));
    Query& q = start(server.url("/dir/"));
    waitForEnd(q);
    const QStringList written = QDir(path("dl")).entryList(QDir::Files);
    ASSERT_EQ(written.size(), 1);
    EXPECT_TRUE(written.first().startsWith("file-"));
    expectAnsweredOnce(q, "S:" + path("dl/" + written.first()));
    EXPECT_EQ(readFile(path("dl/" + written.first())), QByteArray("listing"));
}

TEST_F(PageDownload, EndOfTheWrapperStopsARunningDownload)
{
    server.route("/f/a.bin", HttpReply::hangs());
    Query& q = start(url());
    ASSERT_TRUE(server.waitForRequests(1));
    ASSERT_TRUE(q.downloader);
    ASSERT_TRUE(q.thread);
    QElapsedTimer timer;
    timer.start();
    q.download.reset();
    EXPECT_LT(timer.elapsed(), wrapFileDownload::StopWaitMs);
    EXPECT_TRUE(q.downloader.isNull());
    EXPECT_TRUE(q.thread.isNull());
    expectAnsweredOnce(q, "F:0:downloadFaild");
    EXPECT_FALSE(QFileInfo::exists(target()));
}

// A failed transfer keeps its part file only where a later request can go on from it.
struct FailedPart {
    const char* name;
    const char* urlPath;
    HttpReply reply;
    bool kept;
};

void PrintTo(const FailedPart& row, std::ostream* os) { *os << row.name; }

class FailedTransfer : public PageDownload, public ::testing::WithParamInterface<FailedPart> {};

TEST_P(FailedTransfer, KeepsItsPartOnlyWhereItCanResume)
{
    const FailedPart& c = GetParam();
    server.route(c.urlPath, c.reply);
    Query& q = start(url(c.urlPath));
    waitForEnd(q);
    expectAnsweredOnce(q, "F:0:downloadFaild");
    EXPECT_EQ(QDir(path("dl")).entryList(QDir::Files), c.kept ? QStringList{"a.bin.part"} : QStringList{});
}

INSTANTIATE_TEST_SUITE_P(PageDownload, FailedTransfer,
    ::testing::Values(
        FailedPart{"WholeBlockFromAServerOfRanges", "/f/a.bin", HttpReply::resource(kResource).dropAfterBytes(250000), true},
        FailedPart{"LessThanABlock", "/f/a.bin", HttpReply::resource(kResource).dropAfterBytes(50000), false},
        FailedPart{"ServerThatIgnoresRanges", "/f/a.bin", HttpReply::ok(kResource).dropAfterBytes(250000), false},
        FailedPart{"MadeUpFileName", "/dir/", HttpReply::resource(kResource).dropAfterBytes(250000), false}),
    RowName());

// Answers beyond the size cap or the free disk space end as failures with no file; a known size
// is refused before anything is written.
struct Oversized {
    const char* name;
    HttpReply reply;
    qint64 maxSize;
    const char* log;
    bool writes; // bytes reach the part file before the failure
};

void PrintTo(const Oversized& row, std::ostream* os) { *os << row.name; }

class AnswerBeyondTheBounds : public PageDownload, public ::testing::WithParamInterface<Oversized> {};

TEST_P(AnswerBeyondTheBounds, LeavesNoFile)
{
    const Oversized& c = GetParam();
    serve("/f/a.bin", c.reply);
    Query& q = start(url(), "dl/", RangedDownload::DefaultStallTimeoutMs, true, c.maxSize);
    bool wrote = false;
    QObject::connect(q.downloader.data(), &RangedDownload::finishPart, &context,
        [&q, &wrote](qint64, qint64) { wrote = wrote || (q.downloader && q.downloader->got() > 0); });
    gateOpen = true;
    waitForEnd(q);
    expectAnsweredOnce(q, "F:0:downloadFaild");
    EXPECT_FALSE(QFileInfo::exists(target()));
    EXPECT_FALSE(QFileInfo::exists(target() + ".part"));
    EXPECT_TRUE(logText().contains(c.log)) << logText().toStdString();
    if (!c.writes) {
        EXPECT_FALSE(wrote);
    }
}

const QByteArray kBig(3000000, 'b');

INSTANTIATE_TEST_SUITE_P(PageDownload, AnswerBeyondTheBounds,
    ::testing::Values(
        Oversized{"NoLengthPastTheCap", HttpReply::ok(kBig).closeDelimited(), 1000000, "would exceed the 1000000 bytes", true},
        Oversized{"ChunkedPastTheCap", HttpReply::ok(kBig).chunked(), 1000000, "would exceed the 1000000 bytes", true},
        Oversized{"LengthOverTheCap", HttpReply::resource(kBig), 1000000, "has 3000000 bytes, more than the 1000000", false},
        Oversized{"RangeOverTheDefaultCap",
            HttpReply::status(206, "0123456789").header("Content-Range", "bytes 0-9/5000000000"),
            RangedDownload::DefaultMaxSize, "has 5000000000 bytes, more than the 1073741824", false},
        Oversized{"LengthOverTheFreeDisk",
            HttpReply::ok("abc").closeDelimited().header("Content-Length", "1125899906842624000"),
            std::numeric_limits<qint64>::max(), "needs 1125899906842624000 more bytes, the disk has", false}),
    RowName());

// Names the program runs or loads are never created or replaced by a download. "{exe}" in a file
// name stands for the running executable's.
struct OwnFile {
    const char* name;
    const char* file;
    const char* dir;
};

void PrintTo(const OwnFile& row, std::ostream* os) { *os << row.name; }

class ProgramsOwnFile : public PageDownload, public ::testing::WithParamInterface<OwnFile> {};

TEST_P(ProgramsOwnFile, IsNeverDownloaded)
{
    const QString exe = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString file = QString(GetParam().file).replace("{exe}", exe);
    const QString dir = GetParam().dir;
    server.route("/f/a.bin", HttpReply::resource(kResource));
    const QString address = server.url("/f/" + file);
    Query& q = start(address, dir);
    waitForEnd(q);
    expectAnsweredOnce(q, "F:0:downloadFaild");
    EXPECT_FALSE(QFileInfo::exists(path(dir + file)));
    EXPECT_TRUE(logText().contains("Update Error: refused to download '" + address + "'")) << logText().toStdString();
    EXPECT_EQ(server.requests().size(), 0);
}

INSTANTIATE_TEST_SUITE_P(PageDownload, ProgramsOwnFile,
    ::testing::Values(OwnFile{"CrashReporter", "CrashReporter.exe", ""},
        OwnFile{"CrashReporterInOtherCase", "crashreporter.EXE", ""},
        OwnFile{"CrashReporterThroughAFolder", "CrashReporter.exe", "dl/../"},
        OwnFile{"Updater", "Updater", ""},
        OwnFile{"UpdaterExe", "Updater.exe", ""},
        OwnFile{"PagePackage", "skn.dat", ""},
        OwnFile{"Executable", "{exe}", ""},
        OwnFile{"ExecutableExe", "{exe}.exe", ""},
        OwnFile{"DeviceLibrary", "libvq.dll", ""},
        OwnFile{"LightingLibraryInOtherCaseBelowAFolder", "Hexlane.DLL", "dl/"},
        OwnFile{"PlatformPlugin", "libqxcb.so", "platforms/"},
        OwnFile{"VersionedLibrary", "libx.so.5", ""},
        OwnFile{"Configuration", "conf.xml", "Resources/"},
        OwnFile{"DeviceDescription", "device-M1.0.xml", "resources/"},
        OwnFile{"AnythingBelowResources", "a.bin", "Resources/sub/"}),
    RowName());

// The same name elsewhere is a file like any other.
TEST_F(PageDownload, TheProgramsFileNamesElsewhereAreDownloaded)
{
    server.route("/f/CrashReporter.exe", HttpReply::resource(kResource));
    Query& q = start(server.url("/f/CrashReporter.exe"), "dl/");
    waitForEnd(q);
    expectAnsweredOnce(q, "S:" + path("dl/CrashReporter.exe"));
}

// The process's peak resident memory since the last reset, in bytes; -1 when the system does not tell.
qint64 peakMemorySinceReset(bool reset)
{
    if (reset) {
        QFile clear("/proc/self/clear_refs");
        if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
            return -1;
    }
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// Answers of hundreds of megabytes, endless or of a known length, pass through a few megabytes of
// the process's memory.
TEST_F(PageDownload, MemoryStaysBoundedWhateverTheAnswer)
{
    const qint64 mib = 1024 * 1024;
    const struct {
        const char* name;
        QByteArray head;
        qint64 bodyBytes;
        bool finishes;
    } cases[] = {
        {"endless, no length", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", 1024 * mib, false},
        {"known length", "HTTP/1.1 200 OK\r\nContent-Length: 157286400\r\n\r\n", 150 * mib, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StreamingServer stream(c.head, c.bodyBytes);
        const qint64 before = peakMemorySinceReset(true);
        ASSERT_GT(before, 0);
        Query& q = start(stream.url("/f/a.bin"), "dl/", RangedDownload::DefaultStallTimeoutMs, false, 200 * mib);
        ASSERT_TRUE(waitFor([&] { return !q.cb->answers().empty(); }, 120000));
        waitForEnd(q);
        const qint64 grown = peakMemorySinceReset(false) - before;
        EXPECT_LT(grown, 48 * mib) << grown;
        if (c.finishes) {
            expectAnsweredOnce(q, success());
            EXPECT_EQ(QFileInfo(target()).size(), c.bodyBytes);
        } else {
            expectAnsweredOnce(q, "F:0:downloadFaild");
            EXPECT_FALSE(QFileInfo::exists(target()));
            EXPECT_FALSE(QFileInfo::exists(target() + ".part"));
        }
        QFile::remove(target());
    }
}

} // namespace
