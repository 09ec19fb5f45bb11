// The runtime's UI and renderer on the page engine's own thread, as the QtWebEngine backend
// runs them on the GUI thread: here the test's thread is the engine's, and the test drains
// the queue where the engine's event loop would.
#include "cef_test_browser.h"
#include "cef_control/backend.h"
#include "cef_extras/closure_task.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using cef_backend::ScriptValue;
using namespace test_support;

namespace {

class EngineThreadBackend : public cef_backend::Backend {
public:
    struct Invocation {
        int64 function;
        std::vector<ScriptValue> args;
    };

    class View : public cef_backend::BrowserView {
    public:
        View(EngineThreadBackend* backend, CefRefPtr<cef_backend::BrowserCore> core) : backend_(backend), core_(core) {}
        void LoadURL(const std::string&) override {}
        void GoBack() override {}
        void GoForward() override {}
        void Reload(bool) override {}
        void StopLoad() override {}
        void ExecuteJavaScript(const std::string&, const std::string&, int) override {}
        void SetFocus(bool) override {}
        void Close() override { core_->Closed(); }
        void ExposeGlobalFunctions(int64, const std::vector<std::string>&) override {}
        bool InvokeFunction(int64, int64 functionId, const std::vector<ScriptValue>& args, ScriptValue*) override
        {
            backend_->invocations.push_back({functionId, args});
            return false;
        }

    private:
        EngineThreadBackend* backend_;
        CefRefPtr<cef_backend::BrowserCore> core_;
    };

    std::function<void()> EngineThreadScheduler() override
    {
        return [this] { ++scheduled; };
    }
    std::unique_ptr<cef_backend::BrowserView> CreateBrowser(CefRefPtr<cef_backend::BrowserCore> core,
                                                            const cef_backend::CreateParams&) override
    {
        cores.push_back(core);
        core->Created(CefWindowHandle(0x100 + core->Id()));
        return std::unique_ptr<cef_backend::BrowserView>(new View(this, core));
    }

    std::atomic<int> scheduled{0};
    std::vector<Invocation> invocations; // engine thread only
    std::vector<CefRefPtr<cef_backend::BrowserCore>> cores;
};

class CefEngineThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cef_backend::SetBackend(&backend);
        app = new RecordingApp(&log);
        CefMainArgs args;
        ASSERT_TRUE(CefInitialize(args, CefSettings(), app.get(), nullptr));
        ASSERT_TRUE(runUntil([&] { return log.Has("OnWebKitInitialized@UI"); })); // the renderer shares the thread
    }
    void TearDown() override
    {
        CefShutdown();
        cef_backend::SetBackend(nullptr);
        backend.cores.clear();
        if (client)
            client->Forget();
    }

    // Runs the engine thread's tasks until done() holds (bounded).
    bool runUntil(const std::function<bool()>& done)
    {
        for (int i = 0; i < 2000 && !done(); ++i) {
            cef_backend::RunEngineThreadTasks();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return done();
    }

    CefRefPtr<cef_backend::BrowserCore> openBrowser()
    {
        client = new RecordingClient(&log);
        CefWindowInfo info;
        info.SetAsChild(0x77, WindowRect{0, 0, 800, 600});
        EXPECT_TRUE(CefBrowserHost::CreateBrowser(info, client.get(), "about:blank", CefBrowserSettings()));
        cef_backend::RunEngineThreadTasks();
        return backend.cores.empty() ? nullptr : backend.cores.back();
    }

    ScriptValue query(const std::string& request, int64 onSuccess)
    {
        return ScriptValue::MakeObject({{"request", ScriptValue::MakeString(request)},
                                        {"onSuccess", ScriptValue::MakeFunction(onSuccess)}});
    }

    EngineThreadBackend backend;
    EventLog log;
    CefRefPtr<RecordingApp> app;
    CefRefPtr<RecordingClient> client;
};

TEST_F(CefEngineThreadTest, UiAndRendererTasksRunOnTheEngineThreadInPostingOrder)
{
    EXPECT_TRUE(CefCurrentlyOn(TID_UI));
    EXPECT_TRUE(CefCurrentlyOn(TID_RENDERER));
    EXPECT_FALSE(CefCurrentlyOn(TID_IO));
    EXPECT_FALSE(CefCurrentlyOn(TID_FILE));
    EXPECT_TRUE(log.Has("OnContextInitialized@UI"));

    const std::thread::id engine = std::this_thread::get_id();
    std::vector<std::string> order; // engine thread only
    std::atomic<int> elsewhere{0};
    std::function<std::function<void()>(const std::string&)> task = [&](const std::string& name) {
        return [&, name] {
            if (std::this_thread::get_id() != engine || !CefCurrentlyOn(TID_UI) || !CefCurrentlyOn(TID_RENDERER))
                ++elsewhere;
            order.push_back(name);
            if (name == "b")
                cef_extras::PostTask(TID_UI, task("posted by b"));
        };
    };
    const int scheduledBefore = backend.scheduled;
    cef_extras::PostTask(TID_UI, task("a"));
    cef_extras::PostTask(TID_RENDERER, task("b"));
    cef_extras::PostTask(TID_IO, [&] {
        cef_extras::PostTask(TID_UI, task("c"));
        cef_extras::PostTask(TID_RENDERER, task("d"));
    });
    ASSERT_TRUE(cef_test::WaitForThread(TID_IO));
    EXPECT_TRUE(order.empty()); // nothing runs until the engine's loop asks
    EXPECT_GT(backend.scheduled, scheduledBefore);

    cef_backend::RunEngineThreadTasks(); // the tasks queued now; what they post waits a round
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "d"}));
    cef_backend::RunEngineThreadTasks();
    EXPECT_EQ(order.back(), "posted by b");

    cef_extras::PostDelayedTask(TID_RENDERER, task("delayed"), 5);
    ASSERT_TRUE(runUntil([&] { return order.back() == "delayed"; }));
    EXPECT_EQ(elsewhere.load(), 0);
    CefRefPtr<CefTaskRunner> runner = CefTaskRunner::GetForCurrentThread();
    ASSERT_TRUE(runner);
    EXPECT_TRUE(runner->BelongsToThread(TID_UI));

    // Shutdown runs what is still queued, on this thread.
    cef_extras::PostTask(TID_UI, task("last"));
    CefShutdown();
    EXPECT_EQ(order.back(), "last");
    EXPECT_FALSE(CefCurrentlyOn(TID_UI));
    EXPECT_FALSE(cef_extras::PostTask(TID_UI, [] {}));
}

TEST_F(CefEngineThreadTest, PageQueryAnsweredAtOnceCompletesWithinThePageCall)
{
    CefRefPtr<cef_backend::BrowserCore> core = openBrowser();
    ASSERT_TRUE(core);
    ASSERT_TRUE(log.Has("OnAfterCreated@UI"));
    client->queries.answerInline = true;
    // The context is only queued when the page calls: the call comes after it.
    core->ContextCreated(1, "velmora://settings/index.html");
    ScriptValue id;
    bool answered = false;
    core->CallGlobalFunction(1, "cefQuery", {query("ping:1", 11)}, [&](const ScriptValue& r, const std::string& e) {
        id = r;
        answered = e.empty();
    });
    ASSERT_TRUE(answered);
    EXPECT_EQ(id, ScriptValue::MakeInt(1));
    ASSERT_EQ(backend.invocations.size(), 1u);
    EXPECT_EQ(backend.invocations[0].function, 11);
    EXPECT_EQ(backend.invocations[0].args, std::vector<ScriptValue>{ScriptValue::MakeString("pong:1")});
    EXPECT_TRUE(client->queries.onUi);

    // Answered later from another thread: the call returns without it, the answer follows.
    client->queries.answerInline = false;
    core->CallGlobalFunction(1, "cefQuery", {query("ping:2", 12)}, nullptr);
    ASSERT_TRUE(runUntil([&] { return backend.invocations.size() == 2; }));
    EXPECT_EQ(backend.invocations[1].function, 12);
    EXPECT_EQ(backend.invocations[1].args, std::vector<ScriptValue>{ScriptValue::MakeString("pong:2")});

    client->First()->GetHost()->CloseBrowser(false);
    ASSERT_TRUE(runUntil([&] { return client->closed == 1; }));
}

TEST_F(CefEngineThreadTest, EngineDecisionsRunAtOnceAfterWhatWasQueued)
{
    CefRefPtr<cef_backend::BrowserCore> core = openBrowser();
    ASSERT_TRUE(core);
    client->blockedUrl = "http://blocked/";
    core->LoadEnded(200); // a queued notification
    // The decision is answered at once, on this thread, after the queued notification.
    EXPECT_TRUE(core->BeforeBrowse("http://blocked/", false));
    EXPECT_FALSE(core->BeforeBrowse("http://ok/", false));
    const std::vector<std::string> events = log.Get();
    const auto loadEnd = std::find(events.begin(), events.end(), "OnLoadEnd:200:@UI");
    const auto browse = std::find(events.begin(), events.end(), "OnBeforeBrowse:http://ok/@UI");
    ASSERT_NE(browse, events.end());
    EXPECT_LT(loadEnd, browse);

    // Popups: the client decides on IO, the answer comes back to this thread.
    bool cancelled = false;
    bool onEngine = false;
    core->BeforePopup("http://popup/", std::string(), [&](const cef_backend::PopupDecision& d) {
        cancelled = d.cancel;
        onEngine = CefCurrentlyOn(TID_UI);
    });
    ASSERT_TRUE(runUntil([&] { return log.Has("OnBeforePopup:http://popup/@IO") && onEngine; }));
    EXPECT_TRUE(cancelled);

    client->First()->GetHost()->CloseBrowser(false);
    ASSERT_TRUE(runUntil([&] { return client->closed == 1; }));
}

} // namespace
