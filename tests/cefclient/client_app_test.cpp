// The application object: the delegates it creates, and how it hands the runtime's
// callbacks on to its render delegates.
#include "renderer_host.h"

#include "cefclient/renderer/page_bridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace renderer_test;

namespace {

// Records every callback with the application it was given and the thread it ran on;
// answers the stop-at-first questions as told.
class RecordingDelegate : public ClientApp::RenderDelegate {
public:
    void OnRenderThreadCreated(CefRefPtr<ClientApp> app, CefRefPtr<CefListValue> extra_info) override
    {
        note("RenderThreadCreated", app);
        extraInfoSize = int(extra_info->GetSize());
    }
    void OnWebKitInitialized(CefRefPtr<ClientApp> app) override { note("WebKitInitialized", app); }
    void OnBrowserCreated(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser>) override { note("BrowserCreated", app); }
    void OnBrowserDestroyed(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser>) override
    {
        note("BrowserDestroyed", app);
    }
    CefRefPtr<CefLoadHandler> GetLoadHandler(CefRefPtr<ClientApp> app) override
    {
        note("GetLoadHandler", app);
        return loadHandler;
    }
    bool OnBeforeNavigation(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                            CefRefPtr<CefRequest>, cef_navigation_type_t, bool) override
    {
        note("BeforeNavigation", app);
        return answer;
    }
    void OnContextCreated(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                          CefRefPtr<CefV8Context>) override
    {
        note("ContextCreated", app);
    }
    void OnContextReleased(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                           CefRefPtr<CefV8Context>) override
    {
        note("ContextReleased", app);
    }
    void OnUncaughtException(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                             CefRefPtr<CefV8Context>, CefRefPtr<CefV8Exception>, CefRefPtr<CefV8StackTrace>) override
    {
        note("UncaughtException", app);
    }
    void OnFocusedNodeChanged(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame>,
                              CefRefPtr<CefDOMNode>) override
    {
        note("FocusedNodeChanged", app);
    }
    bool OnProcessMessageReceived(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser>, CefProcessId,
                                  CefRefPtr<CefProcessMessage>) override
    {
        note("ProcessMessage", app);
        return answer;
    }

    void note(const std::string& what, CefRefPtr<ClientApp> app)
    {
        calls.push_back(what + (CefCurrentlyOn(TID_RENDERER) ? "@REN" : "@other"));
        if (app.get() != expectedApp)
            ++wrongApp;
    }

    ClientApp* expectedApp = nullptr;
    bool answer = false;
    CefRefPtr<CefLoadHandler> loadHandler;
    std::vector<std::string> calls;
    int wrongApp = 0;
    int extraInfoSize = -1;
    IMPLEMENT_REFCOUNTING(RecordingDelegate);
};

class LoadHandler : public CefLoadHandler {
    IMPLEMENT_REFCOUNTING(LoadHandler);
};

// The render delegates of app in the order the application asks them.
std::vector<RecordingDelegate*> InSetOrder(OpenClientApp* app)
{
    std::vector<RecordingDelegate*> out;
    for (const auto& d : app->render_delegates_)
        out.push_back(dynamic_cast<RecordingDelegate*>(d.get()));
    return out;
}

TEST(ClientAppTest, ARendererGetsThePageBridgeAsItsOnlyDelegate)
{
    CefRefPtr<OpenClientApp> app = new OpenClientApp;
    EXPECT_TRUE(app->render_delegates_.empty());
    RendererHost rt(app.get());
    ASSERT_TRUE(rt.Started());
    ASSERT_EQ(app->render_delegates_.size(), 1u);
    EXPECT_NE(dynamic_cast<performance_test::RenderDelegate*>(app->render_delegates_.begin()->get()), nullptr);
    EXPECT_TRUE(app->browser_delegates_.empty());

    // Through the application, every script context gets the router's functions and the
    // bridge's registration function.
    int64 context = 0;
    const int id = rt.OpenBrowser(&context);
    ASSERT_NE(id, 0);
    EXPECT_EQ(rt.host.Record(id).globals[context],
              (std::vector<std::string>{"cefQuery", "cefQueryCancel", "setMessageCallback"}));
}

TEST(ClientAppTest, BrowserSideSetsTheCookieSchemesAndAddsNothingElse)
{
    CefRefPtr<OpenClientApp> app = new OpenClientApp;
    CefRefPtr<RecordingDelegate> probe = new RecordingDelegate;
    probe->expectedApp = app.get();
    app->render_delegates_.insert(probe);
    RendererHost rt(app.get());
    ASSERT_TRUE(rt.Started());
    const std::vector<CefString> schemes = cef_test::SupportedCookieSchemes();
    ASSERT_EQ(schemes.size(), 2u);
    EXPECT_EQ(schemes[0].ToString(), "http");
    EXPECT_EQ(schemes[1].ToString(), "https");
    EXPECT_EQ(app->GetPrintHandler(), nullptr);
    EXPECT_EQ(app->GetBrowserProcessHandler().get(), static_cast<CefBrowserProcessHandler*>(app.get()));
    EXPECT_EQ(app->GetRenderProcessHandler().get(), static_cast<CefRenderProcessHandler*>(app.get()));
    // No browser delegate: nothing is handed to a renderer at its start.
    EXPECT_EQ(probe->extraInfoSize, 0);
}

TEST(ClientAppTest, EveryDelegateHearsEveryNotificationOnTheRendererThread)
{
    CefRefPtr<OpenClientApp> app = new OpenClientApp;
    CefRefPtr<RecordingDelegate> a = new RecordingDelegate, b = new RecordingDelegate;
    for (RecordingDelegate* d : {a.get(), b.get()}) {
        d->expectedApp = app.get();
        app->render_delegates_.insert(d);
    }
    {
        RendererHost rt(app.get());
        ASSERT_TRUE(rt.Started());
        // The bridge joined the two.
        EXPECT_EQ(app->render_delegates_.size(), 3u);
        int64 context = 0;
        const int id = rt.OpenBrowser(&context);
        ASSERT_NE(id, 0);
        rt.host.ReleaseContext(id, context);
        OnRenderer([&] {
            app->OnUncaughtException(rt.host.Browser(id), nullptr, nullptr, nullptr, nullptr);
            app->OnFocusedNodeChanged(rt.host.Browser(id), nullptr, nullptr);
        });
        rt.host.DestroyView(id);
        cef_test::WaitForIdle();
    }
    const std::vector<std::string> expected{"RenderThreadCreated@REN", "WebKitInitialized@REN",
                                            "BrowserCreated@REN",      "ContextCreated@REN",
                                            "ContextReleased@REN",     "UncaughtException@REN",
                                            "FocusedNodeChanged@REN",  "BrowserDestroyed@REN"};
    for (RecordingDelegate* d : {a.get(), b.get()}) {
        EXPECT_EQ(d->calls, expected);
        EXPECT_EQ(d->wrongApp, 0);
    }
}

// The three questions stop at the first delegate that says yes, in the set's order.
TEST(ClientAppTest, QuestionsStopAtTheFirstDelegateThatAnswers)
{
    struct Case {
        std::vector<bool> answers; // by position in the set
        bool result;
        size_t asked;
    };
    const Case cases[] = {
        {{false, false, false}, false, 3},
        {{true, false, false}, true, 1},
        {{false, true, true}, true, 2},
        {{false, false, true}, true, 3},
    };
    CefRefPtr<LoadHandler> handler = new LoadHandler;
    for (size_t c = 0; c < sizeof(cases) / sizeof(cases[0]); ++c) {
        const Case& k = cases[c];
        CefRefPtr<OpenClientApp> app = new OpenClientApp;
        std::vector<CefRefPtr<RecordingDelegate>> keep;
        for (int i = 0; i < 3; ++i) {
            keep.push_back(new RecordingDelegate);
            keep.back()->expectedApp = app.get();
            app->render_delegates_.insert(keep.back());
        }
        const std::vector<RecordingDelegate*> order = InSetOrder(app.get());
        for (size_t i = 0; i < order.size(); ++i) {
            order[i]->answer = k.answers[i];
            order[i]->loadHandler = k.answers[i] ? handler.get() : nullptr;
        }

        EXPECT_EQ(app->OnBeforeNavigation(nullptr, nullptr, nullptr, NAVIGATION_OTHER, false), k.result) << c;
        EXPECT_EQ(app->OnProcessMessageReceived(nullptr, PID_BROWSER, CefProcessMessage::Create("x")), k.result)
            << c;
        EXPECT_EQ(app->GetLoadHandler().get(), k.result ? handler.get() : nullptr) << c;
        for (size_t i = 0; i < order.size(); ++i) {
            const size_t times = i < k.asked ? 1 : 0;
            const auto count = [&](const std::string& what) {
                return size_t(std::count(order[i]->calls.begin(), order[i]->calls.end(), what));
            };
            EXPECT_EQ(count("BeforeNavigation@other"), times) << c << " delegate " << i;
            EXPECT_EQ(count("ProcessMessage@other"), times) << c << " delegate " << i;
            EXPECT_EQ(count("GetLoadHandler@other"), times) << c << " delegate " << i;
            EXPECT_EQ(order[i]->wrongApp, 0);
        }
    }
}

TEST(ClientAppTest, WithoutDelegatesEverythingHasItsDefault)
{
    CefRefPtr<ClientApp> app = new ClientApp;
    EXPECT_FALSE(app->OnBeforeNavigation(nullptr, nullptr, nullptr, NAVIGATION_LINK_CLICKED, false));
    EXPECT_FALSE(app->OnProcessMessageReceived(nullptr, PID_BROWSER, CefProcessMessage::Create("devicesChanged")));
    EXPECT_EQ(app->GetLoadHandler(), nullptr);
}

} // namespace
