// The program-wide ClientHandler on the runtime layer's test host, with a listener that records
// what the handler hands it, and the application for widgets.
#pragma once

#include "cefclient/client_handler.h"
#include "cefclient/message_event.h"

#include "cef_recording_client.h"
#include "cef_test/cef_test_host.h"
#include "page_events.h"
#include "test_app.h"
#include "wait.h"

#include <gtest/gtest.h>

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cefclient_test {

// Records the browsers reported created and keeps the page queries posted to it.
class RecordingListener : public ClientHandler::Listener {
public:
    void OnBrowserCreated(CefRefPtr<CefBrowser> b) override
    {
        std::lock_guard<std::mutex> lock(m);
        created.push_back(b->GetIdentifier());
    }
    void PostMessageEvent(MessageEvent* event) override
    {
        std::lock_guard<std::mutex> lock(m);
        posted.emplace_back(event);
    }
    std::vector<int> Created()
    {
        std::lock_guard<std::mutex> lock(m);
        return created;
    }
    size_t PostedCount()
    {
        std::lock_guard<std::mutex> lock(m);
        return posted.size();
    }
    // Releases the reference the handler added to each query's callback, as the main window's
    // reply does, and drops the events.
    void ReleaseQueries()
    {
        std::lock_guard<std::mutex> lock(m);
        for (const std::unique_ptr<MessageEvent>& event : posted)
            event->callback()->Release();
        posted.clear();
    }

    std::mutex m;
    std::vector<int> created;
    std::vector<std::unique_ptr<MessageEvent>> posted;
};

class HandlerTest : public ::testing::Test {
protected:
    // argv: the process's command line as the runtime sees it.
    void StartWith(const std::vector<std::string>& argv)
    {
        app = new test_support::RecordingApp;
        ASSERT_TRUE(cef_test::StartRuntime(app.get(), argv));
        handler = new ClientHandler();
        g_handler = handler;
    }
    void SetUp() override { StartWith({"test"}); }
    void TearDown() override
    {
        for (int id : host.BrowserIds())
            if (!host.Record(id).closed)
                host.DestroyView(id);
        cef_test::WaitForIdle();
        EXPECT_EQ(ClientHandler::GetBrowserCount(), 0);
        // A quit left behind makes every later event loop of the process return at once.
        EXPECT_FALSE(isQuitRequested());
        cef_test::StopRuntime();
        if (g_handler == handler)
            g_handler = nullptr;
        handler = nullptr;
        app = nullptr;
    }

    // A browser of the handler; its id.
    int Create(const std::string& url = "about:blank")
    {
        CefBrowserHost::CreateBrowser(CefWindowInfo(), handler.get(), url, CefBrowserSettings());
        cef_test::WaitForIdle();
        return host.LastBrowserId();
    }
    void Close(int id)
    {
        host.Browser(id)->GetHost()->CloseBrowser(true);
        cef_test::WaitForIdle();
    }
    // The browser's main frame shows url and has finished loading it.
    void Loaded(int id, const std::string& url)
    {
        host.SetAddress(id, url);
        host.LoadEnd(id);
        cef_test::WaitForIdle();
    }
    // Names and arguments of the page events that reached browser id.
    QList<test_support::PageEvent> EventsOf(int id)
    {
        cef_test::WaitForIdle();
        QList<test_support::PageEvent> out;
        for (const cef_test::ProcessMessageRecord& m : host.MessagesTo(id, PID_RENDERER))
            out.append({QString::fromStdString(m.name), test_support::ToVariantList(m.args)});
        return out;
    }
    int MainId() { return handler->GetBrowser() ? handler->GetBrowser()->GetIdentifier() : 0; }

    // First: widgets of derived fixtures need the application.
    TestApplication* application = TestApplication::get();
    cef_test::TestHost host;
    CefRefPtr<test_support::RecordingApp> app;
    CefRefPtr<ClientHandler> handler;
};

} // namespace cefclient_test
