// The application on the test host: a runtime started with a ClientApp, browsers of a
// recording client, and work run on the renderer thread.
#pragma once

#include "cefclient/client_app.h"
#include "cef_test/cef_test_host.h"
#include "cef_extras/closure_task.h"
#include "cef_recording_client.h"

#include <functional>

namespace renderer_test {

// Runs f on the renderer thread and waits for it.
inline void OnRenderer(const std::function<void()>& f)
{
    cef_extras::PostTask(TID_RENDERER, f);
    cef_test::WaitForThread(TID_RENDERER);
}

// A ClientApp whose delegate sets tests may fill and read.
class OpenClientApp : public ClientApp {
public:
    using ClientApp::browser_delegates_;
    using ClientApp::render_delegates_;
};

// Runtime and browsers for one test; browsers still open at the end are closed (their
// contexts released) before the runtime stops.
class RendererHost {
public:
    explicit RendererHost(CefRefPtr<ClientApp> app) : app_(app), client_(new test_support::RecordingClient)
    {
        started_ = cef_test::StartRuntime(app_.get());
    }
    ~RendererHost()
    {
        for (int id : host.BrowserIds()) {
            if (!host.Record(id).closed)
                host.DestroyView(id);
        }
        cef_test::WaitForIdle();
        cef_test::StopRuntime();
        client_->Forget();
    }
    bool Started() const { return started_; }

    // A new browser with one script context; answers its id (0: refused).
    int OpenBrowser(int64* context = nullptr)
    {
        CefWindowInfo info;
        info.SetAsChild(0x77, test_support::WindowRect{0, 0, 800, 600});
        if (!CefBrowserHost::CreateBrowser(info, client_.get(), "about:blank", CefBrowserSettings()))
            return 0;
        cef_test::WaitForIdle();
        const int id = host.LastBrowserId();
        if (context)
            *context = host.CreateContext(id);
        return id;
    }

    // Sends a page event to the browser's renderer and waits until it was handled there.
    void Send(int id, CefRefPtr<CefProcessMessage> message)
    {
        host.Browser(id)->SendProcessMessage(PID_RENDERER, message);
        cef_test::WaitForIdle();
    }

    cef_test::TestHost host;

private:
    CefRefPtr<ClientApp> app_;
    CefRefPtr<test_support::RecordingClient> client_;
    bool started_ = false;
};

} // namespace renderer_test
