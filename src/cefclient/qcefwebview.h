// A widget that hosts one browser as a native child window and turns the page queries that reach
// it into the jsMessage signal on the GUI thread.
#pragma once

#include "cefclient/client_handler.h"
#include "cefclient/message_event.h"

#include <QSize>
#include <QUrl>
#include <QWidget>

#include <atomic>

class QCefWebView : public QWidget, public ClientHandler::Listener {
    Q_OBJECT
public:
    enum BrowserState { kNone, kCreating, kCreated };

    explicit QCefWebView(QWidget* parent = nullptr, bool popup = false);
    ~QCefWebView() override;

    // Stores the address; creates the browser with it when there is none yet, else loads it.
    void load(const QUrl& url);
    // Asks for the browser at size (non-empty); false when it exists or is being created.
    bool CreateBrowser(const QSize& size);
    // The handler's main browser.
    CefRefPtr<CefBrowser> GetBrowser() const;
    bool BrowserLoadUrl(const QUrl& url);
    // Sizes the browser window of the current listener.
    void ResizeBrowser(const QSize& size);
    BrowserState browserState() const { return BrowserState(m_state.load()); }

    // ClientHandler::Listener (UI thread).
    void OnBrowserCreated(CefRefPtr<CefBrowser> browser) override;
    void PostMessageEvent(MessageEvent* event) override;

public slots:
    void back();
    void forward();

signals:
    void jsMessage(const QString& name, const CefRefPtr<CefMessageRouterBrowserSide::Callback> callbackPtr);

protected:
    void customEvent(QEvent* event) override;

private:
    std::atomic<int> m_state{kNone};
    const bool m_popup;
    QUrl m_url;
};
