// The engine side of the backend against the real QtWebEngine: serving pages from a
// custom scheme, the page bridge in both directions, context lifetime, popups and
// renderer termination.
#include "cefqt/engine.h"
#include "cefqt/engine_page.h"
#include "test_util.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPointer>
#include <QTemporaryDir>
#include <QWebEngineDownloadItem>
#include <QWebEngineProfile>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>

using namespace cefqt;
using namespace cefqt_test;

namespace {

struct Recorder : PageEvents {
    struct Call {
        int context;
        QString name;
        int callId;
        QJsonArray args;
    };
    QList<int> created, released;
    QList<Call> calls;
    QList<QUrl> popups;
    QList<QPair<bool, int>> finished;
    QList<int> terminated;
    QString title;
    std::function<void(const Call&)> onCall; // while the page's call is answered

    void contextCreated(int id, const QUrl&) override { created.append(id); }
    void contextReleased(int id) override { released.append(id); }
    void scriptCall(int ctx, const QString& name, int callId, const QJsonArray& args) override
    {
        calls.append({ctx, name, callId, args});
        if (onCall)
            onCall(calls.last());
    }
    void popupRequested(const QUrl& url, QWebEnginePage::WebWindowType) override { popups.append(url); }
    void loadFinished(bool ok, int code, const QUrl&) override { finished.append({ok, code}); }
    void renderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status, int) override
    {
        terminated.append(int(status));
    }
    void titleChanged(const QString& t) override { title = t; }
};

class QtEngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        SetGlobalFunctions({{"nativeCall", GlobalFunction::Plain}, {"nativeQuery", GlobalFunction::Query}});
        serveSite();
    }

    std::unique_ptr<PageHost> open(const QString& path, const QByteArray& html)
    {
        site().insert(path, html);
        auto host = std::make_unique<PageHost>(&events, PageHost::Options());
        host->load(QUrl(QStringLiteral("velmora://settings") + path));
        return host;
    }

    Recorder events;
};

TEST_F(QtEngineTest, PageCallsNativeAndNativeCallsPageFunction)
{
    // The call is made while the document is parsed, before the channel is up.
    auto host = open("/call.html", R"(<html><body><script>
        nativeCall("hello", 42, 2.5, true, null, [1, "x"], {k: "v"},
                   function (a, b) { document.title = "answer:" + a + ":" + b; });
    </script></body></html>)");
    ASSERT_TRUE(waitFor([&] { return !events.calls.isEmpty(); }));
    ASSERT_EQ(events.created.size(), 1);
    const Recorder::Call call = events.calls.first();
    EXPECT_EQ(call.context, events.created.first());
    EXPECT_EQ(call.name, "nativeCall");
    EXPECT_EQ(call.callId, 0);
    ASSERT_EQ(call.args.size(), 8);
    EXPECT_EQ(call.args[0].toString(), "hello");
    EXPECT_EQ(call.args[1].toDouble(), 42);
    EXPECT_EQ(call.args[2].toDouble(), 2.5);
    EXPECT_TRUE(call.args[3].toBool());
    EXPECT_TRUE(call.args[4].isNull());
    EXPECT_EQ(call.args[5].toArray().size(), 2);
    EXPECT_EQ(call.args[6].toObject()["$o"].toObject()["k"].toString(), "v");
    const int handle = call.args[7].toObject()["$f"].toInt();
    ASSERT_GT(handle, 0);

    host->invokeFunction(call.context, handle, QJsonArray{"yes", 7});
    ASSERT_TRUE(waitFor([&] { return events.title == "answer:yes:7"; }));

    // A stale context id reaches nothing.
    host->invokeFunction(call.context + 1000, handle, QJsonArray{"no", 0});
    host->runJavaScript("document.title = 'after'");
    ASSERT_TRUE(waitFor([&] { return events.title == "after"; }));
}

TEST_F(QtEngineTest, QueryFunctionsAnswerIdsAtOnceAndRefuseBadArguments)
{
    auto host = open("/ids.html", R"(<html><body><script>
        function attempt(f) { try { return f(); } catch (e) { return e.message; } }
        var a = nativeQuery({request: "one"});
        var bad = [attempt(function () { return nativeQuery("text"); }),
                   attempt(function () { return nativeQuery({request: 5}); }),
                   attempt(function () { return nativeQuery({request: "x", onSuccess: 1}); }),
                   attempt(function () { return nativeQuery({request: "x", persistent: "yes"}); }),
                   attempt(function () { return nativeQuery({request: "x"}, 2); })];
        var b = nativeQuery({request: "two", persistent: true, onSuccess: function () {}});
        nativeCall(a, b, bad);
    </script></body></html>)");
    ASSERT_TRUE(waitFor([&] { return events.calls.size() == 3; }));
    EXPECT_EQ(events.calls[0].callId, 1);
    EXPECT_EQ(events.calls[1].callId, 2);
    const QJsonArray args = events.calls[2].args;
    EXPECT_EQ(args[0].toInt(), 1);
    EXPECT_EQ(args[1].toInt(), 2);
    const QJsonArray bad = args[2].toArray();
    ASSERT_EQ(bad.size(), 5);
    EXPECT_EQ(bad[0].toString(), "Invalid arguments; expecting a single object");
    EXPECT_EQ(bad[1].toString(), "Invalid arguments; object member 'request' is required and must be a string");
    EXPECT_EQ(bad[2].toString(), "Invalid arguments; 'onSuccess' and 'onFailure' must be functions");
    EXPECT_EQ(bad[3].toString(), "Invalid arguments; 'persistent' must be a boolean");
    EXPECT_EQ(bad[4].toString(), "Invalid arguments; expecting a single object");
}

TEST_F(QtEngineTest, QueryCallbacksLiveUntilTheLastAnswer)
{
    auto host = open("/forget.html", R"(<html><body><script>
        var count = 0;
        function bump(tag) { count++; document.title = tag + count; }
        nativeQuery({request: "once", onSuccess: function () { bump("s"); }});
        nativeQuery({request: "kept", persistent: true, onSuccess: function () { bump("p"); },
                     onFailure: function () { bump("f"); }});
    </script></body></html>)");
    ASSERT_TRUE(waitFor([&] { return events.calls.size() == 2; }));
    auto handle = [&](int call, const char* member) {
        return events.calls[call].args[0].toObject()["$o"].toObject()[member].toObject()["$f"].toInt();
    };
    const int ctx = events.calls[0].context;
    // A one-shot query answers once: the second answer finds no callback.
    host->invokeFunction(ctx, handle(0, "onSuccess"), {});
    host->invokeFunction(ctx, handle(0, "onSuccess"), {});
    // A persistent one answers many times until its failure.
    host->invokeFunction(ctx, handle(1, "onSuccess"), {});
    host->invokeFunction(ctx, handle(1, "onSuccess"), {});
    host->invokeFunction(ctx, handle(1, "onFailure"), {});
    host->invokeFunction(ctx, handle(1, "onSuccess"), {});
    host->runJavaScript("document.title = 'done' + count");
    ASSERT_TRUE(waitFor([&] { return events.title.startsWith("done"); }));
    EXPECT_EQ(events.title, "done4");
}

TEST_F(QtEngineTest, FunctionCallsMadeWhileAPageCallIsAnsweredTravelWithItsReply)
{
    PageHost* host = nullptr;
    events.onCall = [&](const Recorder::Call& call) {
        const QJsonObject query = call.args[0].toObject()["$o"].toObject();
        const int ok = query["onSuccess"].toObject()["$f"].toInt();
        if (query["request"].toString() == "now") {
            host->invokeFunction(call.context, ok, QJsonArray{"first"});
            host->invokeFunction(call.context, ok, QJsonArray{"second"});
        }
    };
    auto page = open("/reply.html", R"(<html><body><script>
        var seen = [];
        nativeQuery({request: "now", persistent: true,
                     onSuccess: function (r) { seen.push(r); document.title = seen.join(","); }});
        nativeQuery({request: "later", onSuccess: function (r) { document.title = "later:" + r; }});
    </script></body></html>)");
    host = page.get();
    ASSERT_TRUE(waitFor([&] { return events.title == "first,second"; }));
    EXPECT_EQ(host->invocationMessages(), 0); // both came with the call's reply, in order

    // Answered after its call returned: a message of its own.
    ASSERT_EQ(events.calls.size(), 2);
    const Recorder::Call later = events.calls[1];
    host->invokeFunction(later.context, later.args[0].toObject()["$o"].toObject()["onSuccess"].toObject()["$f"].toInt(),
                         QJsonArray{"x"});
    ASSERT_TRUE(waitFor([&] { return events.title == "later:x"; }));
    EXPECT_EQ(host->invocationMessages(), 1);
}

TEST_F(QtEngineTest, ReloadReleasesAndRecreatesContext)
{
    auto host = open("/reload.html", "<html><body><script>nativeCall('loaded')</script></body></html>");
    ASSERT_TRUE(waitFor([&] { return events.calls.size() == 1; }));
    const int first = events.created.value(0);
    host->reload();
    ASSERT_TRUE(waitFor([&] { return events.calls.size() == 2; }));
    ASSERT_EQ(events.created.size(), 2);
    EXPECT_NE(events.created[1], first);
    EXPECT_EQ(events.released, QList<int>{first});
    EXPECT_EQ(events.calls[1].context, events.created[1]);
}

TEST_F(QtEngineTest, WindowOpenReportsTargetUrl)
{
    auto host = open("/popup.html", R"(<html><body><script>
        window.open("velmora://settings/target.html?x=1");
        window.open("https://example.invalid/page");
    </script></body></html>)");
    ASSERT_TRUE(waitFor([&] { return events.popups.size() == 2; }));
    EXPECT_EQ(events.popups[0].toString(), "velmora://settings/target.html?x=1");
    EXPECT_EQ(events.popups[1].toString(), "https://example.invalid/page");
}

TEST_F(QtEngineTest, KilledRendererIsReported)
{
    auto host = open("/kill.html", "<html><body><script>nativeCall('up')</script></body></html>");
    ASSERT_TRUE(waitFor([&] { return !events.calls.isEmpty(); }));
    const qint64 pid = host->renderProcessPid();
    ASSERT_GT(pid, 0);
    ::kill(pid_t(pid), SIGKILL);
    ASSERT_TRUE(waitFor([&] { return !events.terminated.isEmpty(); }));
    EXPECT_EQ(events.terminated.first(), int(QWebEnginePage::KilledTerminationStatus));
    EXPECT_EQ(events.released.size(), 1);
}

TEST_F(QtEngineTest, MissingPageFailsTheLoad)
{
    auto host = std::make_unique<PageHost>(&events, PageHost::Options());
    host->load(QUrl("velmora://settings/nothing-here.html"));
    ASSERT_TRUE(waitFor([&] { return !events.finished.isEmpty(); }));
    EXPECT_FALSE(events.finished.first().first);
    EXPECT_EQ(events.finished.first().second, -2);
}

} // namespace

namespace {

TEST_F(QtEngineTest, ProfileCarriesUserAgentLocaleAndPersistentCookies)
{
    SetSchemeServer("velmora", [&](const ResourceRequest&, ReplyFn reply) -> CancelFn {
        ResourceReply r;
        r.kind = ResourceReply::Data;
        r.body = "<script>nativeCall(navigator.userAgent, navigator.language)</script>";
        reply(r);
        return {};
    });
    auto host = std::make_unique<PageHost>(&events, PageHost::Options());
    host->load(QUrl("velmora://settings/ua.html"));
    ASSERT_TRUE(waitFor([&] { return !events.calls.isEmpty(); }));
    serveSite();
    EXPECT_EQ(events.calls[0].args[0].toString(), "TarquilMervane-Test/2.1");
    EXPECT_EQ(events.calls[0].args[1].toString(), "en");
    QWebEngineProfile* profile = Profile();
    EXPECT_FALSE(profile->isOffTheRecord());
    EXPECT_EQ(profile->persistentCookiesPolicy(), QWebEngineProfile::ForcePersistentCookies);
    EXPECT_TRUE(profile->cachePath().startsWith(profile->persistentStoragePath()));
}

TEST_F(QtEngineTest, DownloadReachesTheObserverAndCompletes)
{
    QTemporaryDir target;
    site().insert("/dl.html", R"(<html><body><a id="a" download="data.bin" href="velmora://settings/data.bin">x</a>
        <script>document.getElementById('a').click()</script></body></html>)");
    site().insert("/data.bin", QByteArray("\x00\x01" "binary\xff", 9));
    QPointer<QWebEngineDownloadItem> seen;
    QUrl seenUrl;
    SetDownloadObserver([&](QWebEngineDownloadItem* item) {
        seen = item;
        seenUrl = item->url();
        item->setDownloadDirectory(target.path());
        item->setDownloadFileName("saved.bin");
        item->accept();
    });
    auto host = std::make_unique<PageHost>(&events, PageHost::Options());
    host->load(QUrl("velmora://settings/dl.html"));
    ASSERT_TRUE(waitFor([&] { return seen && seen->isFinished(); }));
    SetDownloadObserver({});
    EXPECT_EQ(seen->state(), QWebEngineDownloadItem::DownloadCompleted);
    EXPECT_EQ(seen->page(), host->page());
    EXPECT_EQ(seenUrl.toString(), "velmora://settings/data.bin");
    QFile file(target.path() + "/saved.bin");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("\x00\x01" "binary\xff", 9));
}

TEST_F(QtEngineTest, CrashUrlTerminatesTheRenderer)
{
    auto host = open("/before-crash.html", "<html><body><script>nativeCall('up')</script></body></html>");
    ASSERT_TRUE(waitFor([&] { return !events.calls.isEmpty(); }));
    host->load(QUrl("chrome://crash"));
    ASSERT_TRUE(waitFor([&] { return !events.terminated.isEmpty(); }));
    EXPECT_NE(events.terminated.first(), int(QWebEnginePage::NormalTerminationStatus));
}

} // namespace

namespace {

TEST(QtEngineCachePath, IsTheSettingsPathWithForwardSlashes)
{
    struct Case {
        QString requested, expected;
    };
    const Case cases[] = {
        {"", ""},
        {"/tmp/Cache", "/tmp/Cache"},
        {"/tmp/private/Other/", "/tmp/private/Other"},
        {"\\tmp\\private\\Cache", "/tmp/private/Cache"},
        {"C:\\Users\\x\\AppData\\Local\\Temp\\Cache", "C:/Users/x/AppData/Local/Temp/Cache"},
        {"/home/someone/app/./Cache", "/home/someone/app/Cache"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CachePathFromSettings(c.requested), c.expected) << c.requested.toStdString();
}

} // namespace
