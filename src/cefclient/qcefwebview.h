// A widget that hosts one browser as a native child window, keeps that window's size in step with
// its own and turns the page queries that reach it into the jsMessage signal on the GUI thread.
#pragma once

#include "cefclient/client_handler.h"
#include "cefclient/message_event.h"

#include <QSize>
#include <QUrl>
#include <QVariant>
#include <QWidget>

#include <atomic>

class QCefWebView : public QWidget, public ClientHandler::Listener {
    Q_OBJECT
public:
    // The life of the view's browser; there is no way back to kNone.
    enum BrowserState { kNone, kCreating, kCreated };

    // popup: the browser gets a top-level popup window instead of a child window.
    explicit QCefWebView(QWidget* parent = nullptr, bool popup = false);
    ~QCefWebView() override;

    // Stores the address; creates the browser with it when there is none yet, navigates the
    // view's browser once it exists.
    void load(const QUrl& url);
    // Asks for the browser at size (non-empty) and makes this view the listener; false when the
    // browser exists or is being created.
    bool CreateBrowser(const QSize& size);
    // The browser created for this view; empty until it is reported created.
    CefRefPtr<CefBrowser> GetBrowser() const;
    bool BrowserLoadUrl(const QUrl& url);
    // The address the view's browser shows; empty without a browser.
    QUrl url() const;
    // Sizes the view's browser window.
    void ResizeBrowser(const QSize& size);
    BrowserState browserState() const { return BrowserState(m_state.load()); }

    // ClientHandler::Listener, called on the runtime's UI thread for every browser created while
    // this view is the listener: the browser goes to the view whose window it was created in.
    void OnBrowserCreated(CefRefPtr<CefBrowser> browser) override;
    void PostMessageEvent(MessageEvent* event) override;
    void DeliverMessageEvent(const MessageEvent& event) override;

public slots:
    void back();
    void forward();
    void reload();
    void stop();
    // Runs the script in the main frame; false without a browser.
    QVariant evaluateJavaScript(const QString& scriptSource);

signals:
    void jsMessage(const QString& name, const CefRefPtr<CefMessageRouterBrowserSide::Callback> callbackPtr);
    void titleChanged(QString title);
    void urlChanged(QUrl url);
    void loadStarted();
    void loadFinished(bool ok);
    void navStateChanged(bool canGoBack, bool canGoForward);

protected:
    void customEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    std::atomic<int> m_state{kNone};
    const bool m_popup;
    QUrl m_url;
    // The window the browser was asked for in (set on the GUI thread before the request) and the
    // browser itself; both guarded by the lock of the views that wait for their browser.
    HWND m_hostWindow = 0;
    CefRefPtr<CefBrowser> m_browser;
};

// Something that can name a browser.
class OSRBrowserProvider {
public:
    virtual CefRefPtr<CefBrowser> GetBrowser() = 0;
    virtual ~OSRBrowserProvider() {}
};

// The handler's main browser.
class MainBrowserProvider : public OSRBrowserProvider {
public:
    CefRefPtr<CefBrowser> GetBrowser() override;
};
