// The runtime layer on the real engine (pages without a view): pages served by a scheme
// factory, page queries through the message router, page functions registered through V8
// functions, context lifetime, popups, renderer termination and load errors.
#include "layer_client.h"

#include "include/cef_browser.h"
#include "include/cef_process_message.h"
#include "include/cef_values.h"
#include "cefqt/engine.h"
#include "cefqt/engine_page.h"
#include "cefqt/script_json.h"
#include "idle_wakeups.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>
#include <QWidget>
#include <QWebEnginePage>
#include <QWebEngineUrlScheme>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <limits>

extern CefRefPtr<test_support::RecordingApp> g_app;
extern CefRefPtr<test_support::SiteFactory> g_site;

using namespace layer_test;
using namespace test_support;

namespace {

// Browser callbacks on the GUI thread: they may use widgets directly.
class GuiThreadClient : public RecordingClient {
public:
    bool OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefRequest> request,
                        bool redirect) override
    {
        note();
        QWidget probe; // widgets exist on the GUI thread only
        probe.resize(10, 10);
        return RecordingClient::OnBeforeBrowse(browser, frame, request, redirect);
    }
    void OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int status) override
    {
        note();
        RecordingClient::OnLoadEnd(browser, frame, status);
    }
    void note()
    {
        ++calls;
        if (QThread::currentThread() != qApp->thread() || !CefCurrentlyOn(TID_UI) || !CefCurrentlyOn(TID_RENDERER))
            ++elsewhere;
    }
    std::atomic<int> calls{0}, elsewhere{0};
    IMPLEMENT_REFCOUNTING(GuiThreadClient);
};

class QtLayerTest : public ::testing::Test {
protected:
    void open(const std::string& path, const std::string& html, CefRefPtr<RecordingClient> with = nullptr)
    {
        g_site->Put(path, html);
        client = with ? with : CefRefPtr<RecordingClient>(new RecordingClient);
        CefWindowInfo info;
        info.SetAsWindowless(0, false);
        openBrowser(info, client.get(), "velmora://test" + path, &browser);
    }

    void TearDown() override
    {
        if (browser) {
            browser->GetHost()->CloseBrowser(true);
            EXPECT_TRUE(waitFor([&] { return client->closed == 1; }));
        }
    }

    void sendToPage(const std::string& text)
    {
        CefRefPtr<CefProcessMessage> m = CefProcessMessage::Create("callPage");
        m->GetArgumentList()->SetString(0, text);
        ASSERT_TRUE(browser->SendProcessMessage(PID_RENDERER, m));
    }

    CefRefPtr<RecordingClient> client;
    CefRefPtr<CefBrowser> browser;
};

const char kQueryPage[] = R"(<html><body><script>
    try { cefQuery("not an object"); } catch (e) { document.title = "refused"; }
    var first = cefQuery({request: "ping:1",
        onSuccess: function (r) {
            document.title = "ok:" + first + ":" + r;
            cefQuery({request: "fail", onSuccess: function () { document.title = "wrong"; },
                      onFailure: function (code, text) { document.title = "bad:" + code + ":" + text; }});
        },
        onFailure: function (code, text) { document.title = "unexpected:" + code; }});
</script></body></html>)";

TEST_F(QtLayerTest, PageQueryIsAnsweredOnTheUiThreadAndThePageSeesTheAnswer)
{
    open("/query.html", kQueryPage);
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("bad:7:nope"); }));
    EXPECT_TRUE(client->HasTitle("ok:1:pong:1")); // the synchronous id and the answer from another thread
    EXPECT_FALSE(client->HasTitle("wrong"));
    EXPECT_TRUE(client->HasTitle("refused")); // a refused call throws and uses no id
    EXPECT_TRUE(client->queries.onUi);
    EXPECT_EQ(client->queries.taken, 2);
}

// The runtime's UI and renderer are the GUI thread: callbacks run there (and so may call
// window functions), and a page query answered at once needs no thread hop.
TEST_F(QtLayerTest, BrowserCallbacksAndPageQueriesRunOnTheGuiThread)
{
    CefRefPtr<GuiThreadClient> gui = new GuiThreadClient;
    gui->queries.answerInline = true;
    open("/gui.html", R"(<html><body><script>
        cefQuery({request: "ping:gui", onSuccess: function (r) { document.title = r; }});
    </script></body></html>)", gui.get());
    // The answer can reach the page before its load has ended.
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("pong:gui") && client->loadEnds > 0; }));
    EXPECT_GE(gui->calls, 2);
    EXPECT_EQ(gui->elsewhere, 0);
    EXPECT_TRUE(client->queries.onUi);
    EXPECT_TRUE(g_app->onRendererThread);
}

TEST_F(QtLayerTest, NativeCodeCallsAPageFunctionRegisteredThroughAV8Function)
{
    const int before = g_app->registered;
    open("/callback.html", R"(<html><body><script>
        registerCallback(function (text) { document.title = "called:" + text; });
    </script></body></html>)");
    ASSERT_TRUE(waitFor([&] { return g_app->registered == before + 1; }));
    EXPECT_TRUE(g_app->onRendererThread);
    sendToPage("hello");
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("called:hello"); }));
    sendToPage("again");
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("called:again"); }));
}

// Text the JSON encoders must escape, and characters outside the Basic Multilingual Plane.
const char kAwkward[] = "q\"b\\s/n\nt\tc\x01 \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 <b>&amp;";

TEST_F(QtLayerTest, AwkwardTextCrossesBothWaysUnchanged)
{
    const std::string awkward = kAwkward;
    // The same text as a script literal in ASCII (pages are served without a character set).
    const std::string html = R"(<html><body><script>
        var awkward = "q\"b\\s/n\nt\tc\u0001 \u00e9\u20ac\ud83d\ude00 <b>&amp;";
        registerCallback(function (text) { document.title = text === awkward ? "called:same" : "called:differs"; });
        cefQuery({request: "ping:" + awkward, onSuccess: function (r) {
            document.title = r === "pong:" + awkward ? "answer:same" : "answer:differs"; }});
    </script></body></html>)";
    const int before = g_app->registered;
    open("/awkward.html", html);
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("answer:same") || client->HasTitle("answer:differs"); }));
    EXPECT_TRUE(client->HasTitle("answer:same"));
    ASSERT_TRUE(waitFor([&] { return g_app->registered == before + 1; }));
    sendToPage(awkward);
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("called:same") || client->HasTitle("called:differs"); }));
    EXPECT_TRUE(client->HasTitle("called:same"));
}

// Values for page functions as the page bridge's JSON text.
TEST(QtLayerScriptJson, ValuesEncodeAsThePageBridgeDecodesThem)
{
    using cef_backend::ScriptValue;
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        ScriptValue value;
        const char* json;
    } cases[] = {
        {ScriptValue::MakeUndefined(), R"({"$u":1})"},
        {ScriptValue::MakeNull(), "null"},
        {ScriptValue::MakeBool(true), "true"},
        {ScriptValue::MakeInt(-42), "-42"},
        {ScriptValue::MakeNumber(0.1), "0.1"},
        {ScriptValue::MakeNumber(1e300), "1e+300"},
        {ScriptValue::MakeNumber(std::nan("")), R"({"$d":"NaN"})"},
        {ScriptValue::MakeNumber(-inf), R"({"$d":"-Infinity"})"},
        {ScriptValue::MakeString(CefString(std::u16string(u"a\"\\\n\x1f\u00e9"))), "\"a\\\"\\\\\\n\\u001f\xC3\xA9\""},
        {ScriptValue::MakeString(CefString(std::u16string(u"\U0001F600"))), "\"\xF0\x9F\x98\x80\""},
        {ScriptValue::MakeString(CefString(std::u16string(1, char16_t(0xD800)) + u"x")), "\"\\ud800x\""},
        {ScriptValue::MakeArray({ScriptValue::MakeInt(1), ScriptValue::MakeArray({})}), "[1,[]]"},
        {ScriptValue::MakeObject({{CefString("z"), ScriptValue::MakeInt(1)}, {CefString("a"), ScriptValue::MakeNull()}}),
         R"({"$o":{"z":1,"a":null}})"},
        {ScriptValue::MakeFunction(7), R"({"$f":7})"},
    };
    for (const auto& c : cases) {
        const QByteArray json = cefqt::ScriptValuesJson({c.value});
        EXPECT_EQ(json, QByteArray("[") + c.json + "]");
        EXPECT_FALSE(QJsonDocument::fromJson(json).isNull()) << json.constData();
    }
    EXPECT_EQ(cefqt::ScriptValuesJson({}), QByteArray("[]"));
}

TEST_F(QtLayerTest, ReloadReleasesAndRecreatesTheContext)
{
    const int registered = g_app->registered;
    open("/reload.html", R"(<html><body><script>
        registerCallback(function (text) { document.title = "v:" + text; });
    </script></body></html>)");
    ASSERT_TRUE(waitFor([&] { return g_app->registered == registered + 1; }));
    const int created = g_app->created, released = g_app->released;
    browser->Reload();
    ASSERT_TRUE(waitFor([&] { return g_app->registered == registered + 2; }));
    EXPECT_EQ(g_app->created, created + 1);
    EXPECT_EQ(g_app->released, released + 1);
    // The new document's function is the one called.
    sendToPage("new");
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("v:new"); }));
}

TEST_F(QtLayerTest, PendingQueryIsCancelledByNavigation)
{
    open("/hold.html", R"(<html><body><script>
        cefQuery({request: "hold", onSuccess: function () { document.title = "late"; }});
    </script></body></html>)");
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> l(client->m);
        return client->queries.Held().size() == 1;
    }));
    g_site->Put("/next.html", "<html><head><title>next</title></head></html>");
    browser->GetMainFrame()->LoadURL("velmora://test/next.html");
    ASSERT_TRUE(waitFor([&] { return client->queries.Canceled().size() == 1 && client->HasTitle("next"); }));
    client->queries.Held().front().callback->Success("too late"); // ignored, and harmless
    client->queries.Clear();
    EXPECT_FALSE(client->HasTitle("late"));
}

TEST_F(QtLayerTest, PageCancelsItsOwnQuery)
{
    open("/cancel.html", R"(<html><body><script>
        var id = cefQuery({request: "hold", onSuccess: function () { document.title = "late"; }});
        setTimeout(function () {
            var first = cefQueryCancel(id), again = cefQueryCancel(id);
            document.title = "cancelled:" + id + ":" + first + ":" + again;
        }, 50);
    </script></body></html>)");
    ASSERT_TRUE(waitFor([&] { return client->queries.Canceled().size() == 1 && client->LastTitle().rfind("cancelled", 0) == 0; }));
    EXPECT_EQ(client->LastTitle(), "cancelled:1:true:false");
    std::lock_guard<std::mutex> l(client->m);
    ASSERT_EQ(client->queries.Held().size(), 1u);
    client->queries.Held().front().callback->Success("ignored");
    client->queries.Clear();
}

TEST_F(QtLayerTest, WindowOpenReachesOnBeforePopupWithItsUrl)
{
    open("/popup.html", R"(<html><body><script>
        window.open("velmora://test/target.html?a=1");
    </script></body></html>)");
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> l(client->m);
        return !client->popups.empty();
    }));
    std::lock_guard<std::mutex> l(client->m);
    EXPECT_EQ(client->popups.front(), "velmora://test/target.html?a=1");
    EXPECT_TRUE(client->Log().Has("OnBeforePopup:velmora://test/target.html?a=1@IO"));
    EXPECT_EQ(client->browsers.size(), 1u); // cancelled: no browser made
}

// The renderer process of a page killed from outside (not a crash of its own).
TEST_F(QtLayerTest, RendererKilledFromOutsideReachesOnRenderProcessTerminated)
{
    const int registered = g_app->registered;
    open("/kill.html", R"(<html><body><script>registerCallback(function () {});</script></body></html>)");
    ASSERT_TRUE(waitFor([&] { return g_app->registered == registered + 1; }));
    qint64 pid = 0;
    for (cefqt::PageHost* host : qApp->findChildren<cefqt::PageHost*>())
        if (host->page() && host->page()->url() == QUrl("velmora://test/kill.html"))
            pid = host->renderProcessPid();
    ASSERT_GT(pid, 0);
    const int released = g_app->released;
    ASSERT_EQ(::kill(pid_t(pid), SIGKILL), 0);
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> l(client->m);
        return !client->terminations.empty();
    }));
    {
        std::lock_guard<std::mutex> l(client->m);
        EXPECT_EQ(client->terminations.front(), int(TS_PROCESS_WAS_KILLED));
    }
    EXPECT_EQ(g_app->released, released + 1); // its context is released before the callback
    browser->Reload();
    ASSERT_TRUE(waitFor([&] { return g_app->registered == registered + 2; }));
}

// The program's scheme is a standard one: URLs arrive canonical (dot segments resolved) and
// pages have a real origin, and it is local, with local access and CORS.
TEST_F(QtLayerTest, FactorySchemeIsRegisteredAsAStandardLocalScheme)
{
    const QWebEngineUrlScheme scheme = QWebEngineUrlScheme::schemeByName("velmora");
    EXPECT_EQ(scheme.syntax(), QWebEngineUrlScheme::Syntax::Host);
    const QWebEngineUrlScheme::Flags flags = scheme.flags();
    EXPECT_TRUE(flags.testFlag(QWebEngineUrlScheme::LocalScheme));
    EXPECT_TRUE(flags.testFlag(QWebEngineUrlScheme::LocalAccessAllowed));
    EXPECT_TRUE(flags.testFlag(QWebEngineUrlScheme::CorsEnabled));

    g_site->Put("/canon.html", "<html><body><script>document.title = 'origin:' + location.origin;</script>"
                               "</body></html>");
    client = new RecordingClient;
    CefWindowInfo info;
    info.SetAsWindowless(0, false);
    ASSERT_NO_FATAL_FAILURE(openBrowser(info, client.get(), "velmora://test/sub/../canon.html", &browser));
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("origin:velmora://test"); })) << client->LastTitle();
    EXPECT_EQ(browser->GetMainFrame()->GetURL().ToString(), "velmora://test/canon.html");
}

TEST_F(QtLayerTest, KilledRendererReachesOnRenderProcessTerminated)
{
    const int registered = g_app->registered;
    open("/crash.html", R"(<html><body><script>registerCallback(function () {});</script></body></html>)");
    ASSERT_TRUE(waitFor([&] { return g_app->registered == registered + 1; }));
    const int released = g_app->released;
    browser->GetMainFrame()->LoadURL("chrome://crash");
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> l(client->m);
        return !client->terminations.empty();
    }));
    {
        std::lock_guard<std::mutex> l(client->m);
        const int status = client->terminations.front();
        EXPECT_TRUE(status == TS_PROCESS_CRASHED || status == TS_ABNORMAL_TERMINATION) << status;
    }
    EXPECT_GE(g_app->released, released + 1);
    // The page is dead: no function to call.
    const int undelivered = g_app->undelivered;
    sendToPage("x");
    ASSERT_TRUE(waitFor([&] { return g_app->undelivered == undelivered + 1; }));
    // A new load brings a new renderer.
    browser->GetMainFrame()->LoadURL("velmora://test/crash.html");
    ASSERT_TRUE(waitFor([&] { return g_app->registered == registered + 2; }));
}

TEST_F(QtLayerTest, ServedBodiesArriveWholeAndMissingPagesFail)
{
    // Far larger than one read buffer.
    std::string big(300000, 'x');
    open("/big.html", "<html><body><pre id=p>" + big + "</pre><script>"
                      "cefQuery({request: 'ping:' + document.getElementById('p').textContent.length,"
                      " onSuccess: function (r) { document.title = r; }});</script></body></html>");
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("pong:300000"); }));
    // The page's answer may come before the engine reports the load finished.
    EXPECT_TRUE(waitFor([&] { return client->loadEnds >= 1; }));
    browser->GetMainFrame()->LoadURL("velmora://test/missing.html");
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> l(client->m);
        return !client->errors.empty();
    }));
    std::lock_guard<std::mutex> l(client->m);
    EXPECT_EQ(client->errors.front().first, int(ERR_FAILED));
    EXPECT_EQ(client->errors.front().second, "velmora://test/missing.html");
}

// Once a page has settled, the GUI thread sleeps about as much as with a bare page of the engine:
// the page bridge's channel must not keep a timer running while nothing is to be sent.
TEST_F(QtLayerTest, SettledPageWakesTheGuiThreadNoMoreThanABarePage)
{
    const std::string html = R"(<html><body>idle<script>
        cefQuery({request: "ping:idle", onSuccess: function (r) { document.title = r; }});
    </script></body></html>)";
    const int kCountMs = 3000;
    const int kSettleMs = 1000;
    int floor = 0;
    {
        QWebEnginePage bare(cefqt::Profile());
        bool loaded = false;
        QObject::connect(&bare, &QWebEnginePage::loadFinished, [&loaded] { loaded = true; });
        bare.setHtml(QString::fromStdString(html), QUrl(QStringLiteral("velmora://test/bare.html")));
        ASSERT_TRUE(waitFor([&] { return loaded; }));
        test_support::countWakeups(kSettleMs);
        floor = test_support::countWakeups(kCountMs);
    }
    // Only the layer's page is left on the thread now.
    open("/idle.html", html);
    ASSERT_TRUE(waitFor([&] { return client->HasTitle("pong:idle") && client->loadEnds > 0; }));
    test_support::countWakeups(kSettleMs);
    const int layer = test_support::countWakeups(kCountMs);

    // A generous bound: a channel that polls wakes the thread about 20 times a second.
    EXPECT_LE(double(layer + 1) / double(floor + 1), 3.0) << "layer page " << layer << ", bare page " << floor;
}

// A child process leaves browsers open when its application object ends, with and without
// an event loop that quit; the runtime then stops after the application is gone. Also in a
// fresh process: no engine profile exists before the first browser, and it keeps its files
// in the settings' cache path, or nothing on disk without one.
TEST(QtLayerExit, BrowsersStillOpenWhenTheApplicationEndsShutDownCleanly)
{
    for (const char* mode : {"--exit-with-open-browsers", "--quit-with-open-browsers", "--profile-at-first-browser",
                             "--profile-without-cache-path"}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {mode});
        ASSERT_TRUE(child.waitForFinished(60000)) << mode;
        const QByteArray output = child.readAll();
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << mode;
        EXPECT_EQ(child.exitCode(), 0) << mode << "\n" << output.constData();
        // Pages go before their profile, and both before the engine.
        EXPECT_FALSE(output.contains("still not deleted")) << mode << "\n" << output.constData();
    }
}

} // namespace
