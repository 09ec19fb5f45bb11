#include "cef_test_browser.h"

#include <gtest/gtest.h>

#include <thread>

using namespace test_support;
using cef_backend::ScriptValue;

namespace {

class CefMessageRouterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = new RecordingApp(&log);
        client = new RecordingClient(&log);
        ASSERT_TRUE(cef_test::StartRuntime(app.get()));
        id = CreateTestBrowser(host, client.get());
        ASSERT_GT(id, 0);
        ctx = host.CreateContext(id);
        onSuccess = host.MakePageFunction("onSuccess");
        onFailure = host.MakePageFunction("onFailure");
    }
    void TearDown() override
    {
        cef_test::StopRuntime();
        client->Forget();
    }

    ScriptValue query(const std::string& request, bool persistent = false, std::string* exception = nullptr)
    {
        ScriptValue arg = ScriptValue::MakeObject({{"request", ScriptValue::MakeString(request)},
                                                   {"persistent", ScriptValue::MakeBool(persistent)},
                                                   {"onSuccess", onSuccess},
                                                   {"onFailure", onFailure}});
        ScriptValue r = host.CallGlobal(id, ctx, "cefQuery", {arg}, exception);
        cef_test::WaitForIdle();
        return r;
    }

    // Page-function calls as (name, args).
    std::vector<std::pair<std::string, std::vector<ScriptValue>>> pageCalls()
    {
        std::vector<std::pair<std::string, std::vector<ScriptValue>>> out;
        for (const auto& c : host.PageCalls(id))
            out.push_back({c.function_id == onSuccess.function_id ? "onSuccess" : "onFailure", c.args});
        return out;
    }

    EventLog log;
    cef_test::TestHost host;
    CefRefPtr<RecordingApp> app;
    CefRefPtr<RecordingClient> client;
    int id = 0;
    int64 ctx = 0;
    ScriptValue onSuccess, onFailure;
};

TEST_F(CefMessageRouterTest, QueryFunctionsAreExposedToThePage)
{
    const auto globals = host.Record(id).globals[ctx];
    EXPECT_NE(std::find(globals.begin(), globals.end(), "cefQuery"), globals.end());
    EXPECT_NE(std::find(globals.begin(), globals.end(), "cefQueryCancel"), globals.end());
}

TEST_F(CefMessageRouterTest, RoundTripWithTheAnswerFromAnotherThread)
{
    EXPECT_EQ(query("hello"), ScriptValue::MakeInt(1));
    EXPECT_EQ(query("second"), ScriptValue::MakeInt(2)); // ids count per context
    auto queries = client->queries.Held();
    ASSERT_EQ(queries.size(), 2u);
    EXPECT_EQ(queries[0].request, "hello");
    EXPECT_TRUE(log.Has("message:cefQueryMsg@UI"));
    std::thread([cb = queries[0].callback] { cb->Success("world"); }).join();
    cef_test::WaitForIdle();
    auto calls = pageCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first, "onSuccess");
    EXPECT_EQ(calls[0].second, (std::vector<ScriptValue>{ScriptValue::MakeString("world")}));
    std::thread([cb = queries[1].callback] { cb->Failure(0, "no device"); }).join();
    cef_test::WaitForIdle();
    calls = pageCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].first, "onFailure");
    EXPECT_EQ(calls[1].second, (std::vector<ScriptValue>{ScriptValue::MakeInt(0), ScriptValue::MakeString("no device")}));
    EXPECT_EQ(client->router->GetPendingCount(nullptr, nullptr), 0);
}

TEST_F(CefMessageRouterTest, SecondAnswerOfANonPersistentQueryIsIgnored)
{
    query("once");
    auto cb = client->queries.Held().at(0).callback;
    cb->Success("first");
    cb->Success("second");
    cb->Failure(1, "late");
    cef_test::WaitForIdle();
    ASSERT_EQ(pageCalls().size(), 1u);
    EXPECT_EQ(pageCalls()[0].second[0], ScriptValue::MakeString("first"));
}

TEST_F(CefMessageRouterTest, AnswersRacingFromManyThreadsCompleteTheQueryOnce)
{
    for (int round = 0; round < 20; ++round)
        query("race");
    std::vector<std::thread> threads;
    for (const auto& q : client->queries.Held()) {
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([cb = q.callback, t] {
                if (t % 2)
                    cb->Failure(t, "f");
                else
                    cb->Success("s");
            });
    }
    for (auto& t : threads)
        t.join();
    cef_test::WaitForIdle();
    EXPECT_EQ(host.PageCalls(id).size(), 20u); // one answer per query
    EXPECT_EQ(client->router->GetPendingCount(nullptr, nullptr), 0);
}

TEST_F(CefMessageRouterTest, PersistentQueryAnswersUntilFailure)
{
    query("watch", true);
    auto q = client->queries.Held().at(0);
    EXPECT_TRUE(q.persistent);
    q.callback->Success("a");
    q.callback->Success("b");
    q.callback->Failure(2, "stop");
    q.callback->Success("c");
    cef_test::WaitForIdle();
    const auto calls = pageCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].second[0], ScriptValue::MakeString("b"));
    EXPECT_EQ(calls[2].first, "onFailure");
}

TEST_F(CefMessageRouterTest, UnhandledQueryFails)
{
    query("decline");
    const auto calls = pageCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first, "onFailure");
    EXPECT_EQ(calls[0].second[0], ScriptValue::MakeInt(-1));
}

TEST_F(CefMessageRouterTest, InvalidCallsThrowAndUseNoId)
{
    std::string exception;
    EXPECT_EQ(host.CallGlobal(id, ctx, "cefQuery", {ScriptValue::MakeString("x")}, &exception), ScriptValue());
    EXPECT_FALSE(exception.empty());
    exception.clear();
    host.CallGlobal(id, ctx, "cefQuery", {ScriptValue::MakeObject({{"request", ScriptValue::MakeInt(1)}})}, &exception);
    EXPECT_FALSE(exception.empty());
    EXPECT_EQ(query("valid"), ScriptValue::MakeInt(1));
}

TEST_F(CefMessageRouterTest, NavigationCancelsPendingQueriesAndLaterAnswersAreDropped)
{
    query("pending");
    auto q = client->queries.Held().at(0);
    int64 newCtx = 0;
    EXPECT_FALSE(host.Navigate(id, "velmora://settings/other.html", false, &newCtx));
    cef_test::WaitForIdle();
    EXPECT_EQ(client->queries.Canceled(), std::vector<int64>{q.id});
    q.callback->Success("too late");
    cef_test::WaitForIdle();
    EXPECT_TRUE(pageCalls().empty());
    EXPECT_NE(newCtx, ctx);
}

TEST_F(CefMessageRouterTest, ContextReleaseCancelsItsQueries)
{
    query("pending");
    auto q = client->queries.Held().at(0);
    host.ReleaseContext(id, ctx);
    cef_test::WaitForIdle();
    EXPECT_EQ(client->queries.Canceled(), std::vector<int64>{q.id});
    q.callback->Success("too late");
    cef_test::WaitForIdle();
    EXPECT_TRUE(pageCalls().empty());
}

TEST_F(CefMessageRouterTest, PageCancelAndBrowserCloseCancel)
{
    query("a");
    query("b");
    auto qs = client->queries.Held();
    EXPECT_EQ(host.CallGlobal(id, ctx, "cefQueryCancel", {ScriptValue::MakeInt(1)}), ScriptValue::MakeBool(true));
    cef_test::WaitForIdle();
    EXPECT_EQ(client->queries.Canceled(), std::vector<int64>{qs[0].id});
    host.Browser(id)->GetHost()->CloseBrowser(false);
    cef_test::WaitForIdle();
    EXPECT_EQ(client->queries.Canceled(), (std::vector<int64>{qs[0].id, qs[1].id}));
}

TEST_F(CefMessageRouterTest, RendererTerminationCancels)
{
    query("a");
    host.TerminateRenderer(id);
    cef_test::WaitForIdle();
    EXPECT_EQ(client->queries.Canceled().size(), 1u);
}

TEST_F(CefMessageRouterTest, BrowsersWhoseContextsShareAnIdKeepTheirQueriesApart)
{
    // Context ids are chosen by the engine per browser: two browsers may use the same one.
    const int other = CreateTestBrowser(host, client.get());
    ASSERT_GT(other, 0);
    const int64 shared = 500;
    host.Core(id)->ContextCreated(shared, "velmora://settings/a.html");
    host.Core(other)->ContextCreated(shared, "velmora://settings/b.html");
    cef_test::WaitForIdle();
    auto ask = [&](int browser, const std::string& request) {
        return host.CallGlobal(browser, shared, "cefQuery",
                               {ScriptValue::MakeObject({{"request", ScriptValue::MakeString(request)},
                                                         {"onSuccess", onSuccess}})});
    };
    EXPECT_EQ(ask(id, "from a"), ScriptValue::MakeInt(1));
    EXPECT_EQ(ask(other, "from b"), ScriptValue::MakeInt(1));
    cef_test::WaitForIdle();
    const auto queries = client->queries.Held();
    ASSERT_EQ(queries.size(), 2u);
    queries[0].callback->Success("to a");
    queries[1].callback->Success("to b");
    cef_test::WaitForIdle();
    const auto callsA = host.PageCalls(id), callsB = host.PageCalls(other);
    ASSERT_EQ(callsA.size(), 1u);
    ASSERT_EQ(callsB.size(), 1u);
    EXPECT_EQ(callsA[0].args, std::vector<ScriptValue>{ScriptValue::MakeString("to a")});
    EXPECT_EQ(callsB[0].args, std::vector<ScriptValue>{ScriptValue::MakeString("to b")});

    // Releasing one browser's context cancels only its own query.
    ask(id, "pending a");
    ask(other, "pending b");
    cef_test::WaitForIdle();
    host.Core(other)->ContextReleased(shared);
    cef_test::WaitForIdle();
    EXPECT_EQ(client->queries.Canceled(), std::vector<int64>{client->queries.Held().back().id});
}

TEST_F(CefMessageRouterTest, AnswerAfterTheRouterIsGoneIsHarmless)
{
    query("kept");
    CefRefPtr<CefMessageRouterBrowserSide::Callback> cb = client->queries.Held().at(0).callback;
    client->router = nullptr; // destroyed with the query pending
    std::thread([cb] {
        cb->Success("nobody listens");
        cb->Failure(0, "nobody listens");
    }).join();
    cef_test::WaitForIdle();
    EXPECT_TRUE(pageCalls().empty());
}

TEST(CefMessageRouterLifetimeTest, ManualReferenceKeepsTheCallbackAcrossRouterDestruction)
{
    const int before = cef_test::LiveObjectCount();
    {
        EventLog log;
        cef_test::TestHost host;
        CefRefPtr<RecordingApp> app = new RecordingApp(&log);
        CefRefPtr<RecordingClient> client = new RecordingClient(&log);
        ASSERT_TRUE(cef_test::StartRuntime(app.get()));
        const int id = CreateTestBrowser(host, client.get());
        const int64 ctx = host.CreateContext(id);
        const ScriptValue ok = host.MakePageFunction();
        host.CallGlobal(id, ctx, "cefQuery",
                        {ScriptValue::MakeObject({{"request", ScriptValue::MakeString("q")}, {"onSuccess", ok}})});
        cef_test::WaitForIdle();
        ASSERT_EQ(client->queries.Held().size(), 1u);

        CefMessageRouterBrowserSide::Callback* raw = client->queries.Held()[0].callback.get();
        raw->AddRef();  // the forwarding handler's manual reference
        client->queries.Clear(); // drop every counted reference
        client->router->RemoveHandler(&client->queries); // cancels: the router drops its reference
        client->router = nullptr;
        cef_test::WaitForIdle();

        std::thread([raw] { raw->Success("after the router"); }).join();
        cef_test::WaitForIdle();
        EXPECT_TRUE(host.PageCalls(id).empty());
        EXPECT_TRUE(raw->HasOneRef());
        raw->Release(); // balances AddRef: the callback is deleted here
        cef_test::StopRuntime();
        client->Forget();
    }
    EXPECT_EQ(cef_test::LiveObjectCount(), before);
}

} // namespace
