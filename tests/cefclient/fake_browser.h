// A browser whose window is a given Qt window, a frame of a browser showing a given address, and
// a reply callback that records its answers: for calling the query handler and the browser
// callbacks directly.
#pragma once

#include "include/cef_browser.h"
#include "include/cef_frame.h"
#include "include/wrapper/cef_message_router.h"

#include <QRect>
#include <QThread>
#include <QWidget>

#include <functional>
#include <mutex>
#include <string>

namespace cefclient_test {

class FakeHost : public CefBrowserHost {
public:
    FakeHost(CefWindowHandle window, CefWindowHandle opener) : window_(window), opener_(opener) {}
    CefRefPtr<CefBrowser> GetBrowser() override { return nullptr; }
    void CloseBrowser(bool) override {}
    void SetFocus(bool) override {}
    void SetWindowVisibility(bool) override {}
    CefWindowHandle GetWindowHandle() override { return window_; }
    CefWindowHandle GetOpenerWindowHandle() override { return opener_; }
    CefRefPtr<CefClient> GetClient() override { return nullptr; }
    CefRefPtr<CefRequestContext> GetRequestContext() override { return nullptr; }
    double GetZoomLevel() override { return 0; }
    void SetZoomLevel(double) override {}
    void StartDownload(const CefString&) override {}
    void Print() override {}
    void ShowDevTools(const CefWindowInfo&, CefRefPtr<CefClient>, const CefBrowserSettings&, const CefPoint&) override {}
    void CloseDevTools() override {}
    void SetMouseCursorChangeDisabled(bool) override {}
    bool IsMouseCursorChangeDisabled() override { return false; }
    bool IsWindowRenderingDisabled() override { return false; }
    void WasResized() override {}
    void WasHidden(bool) override {}
    void NotifyScreenInfoChanged() override {}
    void Invalidate(cef_paint_element_type_t) override {}

private:
    CefWindowHandle window_;
    CefWindowHandle opener_;
    IMPLEMENT_REFCOUNTING(FakeHost);
};

// A frame of browser (main or a subframe) that shows a page at url.
class FakeFrame : public CefFrame {
public:
    FakeFrame(CefRefPtr<CefBrowser> browser, bool main, const std::string& url)
        : browser_(browser), main_(main), url_(url) {}
    bool IsValid() override { return true; }
    void Undo() override {}
    void Redo() override {}
    void Cut() override {}
    void Copy() override {}
    void Paste() override {}
    void Delete() override {}
    void SelectAll() override {}
    void ViewSource() override {}
    void LoadRequest(CefRefPtr<CefRequest>) override {}
    void LoadURL(const CefString&) override {}
    void LoadString(const CefString&, const CefString&) override {}
    void ExecuteJavaScript(const CefString&, const CefString&, int) override {}
    bool IsMain() override { return main_; }
    bool IsFocused() override { return false; }
    CefString GetName() override { return main_ ? "" : "sub"; }
    int64 GetIdentifier() override { return main_ ? 1 : 2; }
    CefRefPtr<CefFrame> GetParent() override { return nullptr; }
    CefString GetURL() override { return url_; }
    CefRefPtr<CefBrowser> GetBrowser() override { return browser_; }
    CefRefPtr<CefV8Context> GetV8Context() override { return nullptr; }

private:
    CefRefPtr<CefBrowser> browser_;
    bool main_;
    std::string url_;
    IMPLEMENT_REFCOUNTING(FakeFrame);
};

// The start page of the program, a page whose queries the query handler serves.
inline const char* programPage() { return "velmora://settings/local/client/main/index.html"; }

class FakeBrowser : public CefBrowser {
public:
    // opener: the window the browser was asked for in; url: the page its main frame shows (none:
    // the browser has no main frame).
    FakeBrowser(int id, CefWindowHandle window, CefWindowHandle opener = 0, const std::string& url = std::string())
        : id_(id), host_(new FakeHost(window, opener)), frame_(url.empty() ? nullptr : new FakeFrame(nullptr, true, url)) {}
    CefRefPtr<CefBrowserHost> GetHost() override { return host_; }
    bool CanGoBack() override { return false; }
    void GoBack() override {}
    bool CanGoForward() override { return false; }
    void GoForward() override {}
    bool IsLoading() override { return false; }
    void Reload() override {}
    void ReloadIgnoreCache() override {}
    void StopLoad() override {}
    int GetIdentifier() override { return id_; }
    bool IsSame(CefRefPtr<CefBrowser> that) override { return that && that->GetIdentifier() == id_; }
    bool IsPopup() override { return false; }
    bool HasDocument() override { return true; }
    CefRefPtr<CefFrame> GetMainFrame() override { return frame_; }
    CefRefPtr<CefFrame> GetFocusedFrame() override { return frame_; }
    CefRefPtr<CefFrame> GetFrame(int64) override { return nullptr; }
    CefRefPtr<CefFrame> GetFrame(const CefString&) override { return nullptr; }
    size_t GetFrameCount() override { return 1; }
    void GetFrameIdentifiers(std::vector<int64>&) override {}
    void GetFrameNames(std::vector<CefString>&) override {}
    bool SendProcessMessage(CefProcessId, CefRefPtr<CefProcessMessage>) override { return false; }

private:
    int id_;
    CefRefPtr<CefBrowserHost> host_;
    CefRefPtr<CefFrame> frame_;
    IMPLEMENT_REFCOUNTING(FakeBrowser);
};

// Records every answer with the thread it came from; onAnswer runs first (to look at windows then).
class RecordingCallback : public CefMessageRouterBrowserSide::Callback {
public:
    void Success(const CefString& response) override { record("ok:" + response.ToString()); }
    void Failure(int code, const CefString& message) override
    {
        record("fail:" + std::to_string(code) + ":" + message.ToString());
    }
    std::vector<std::string> Answers()
    {
        std::lock_guard<std::mutex> lock(m_);
        return answers_;
    }
    QThread* answerThread = nullptr;
    std::function<void()> onAnswer;

private:
    void record(const std::string& answer)
    {
        if (onAnswer)
            onAnswer();
        std::lock_guard<std::mutex> lock(m_);
        answerThread = QThread::currentThread();
        answers_.push_back(answer);
    }
    std::mutex m_;
    std::vector<std::string> answers_;
    IMPLEMENT_REFCOUNTING(RecordingCallback);
};

} // namespace cefclient_test
