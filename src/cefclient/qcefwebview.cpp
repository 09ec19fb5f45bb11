#include "cefclient/qcefwebview.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QResizeEvent>
#include <QShowEvent>

#include <map>
#include <mutex>

namespace {

// Views by the window their browser is asked for in: the runtime reports every created browser to
// whichever view is the listener at that moment, which need not be the view that asked.
std::mutex g_viewsLock;
std::map<HWND, QCefWebView*> g_viewsByWindow;

} // namespace

MainBrowserProvider g_mainBrowserProvider;

CefRefPtr<CefBrowser> MainBrowserProvider::GetBrowser() { return g_handler ? g_handler->GetBrowser() : nullptr; }

QCefWebView::QCefWebView(QWidget* parent, bool popup)
    : QWidget(parent)
    , m_popup(popup)
{
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_DontCreateNativeAncestors);
}

QCefWebView::~QCefWebView()
{
    {
        std::lock_guard<std::mutex> lock(g_viewsLock);
        auto it = g_viewsByWindow.find(m_hostWindow);
        if (it != g_viewsByWindow.end() && it->second == this)
            g_viewsByWindow.erase(it);
        m_browser = nullptr;
    }
    // Once the handler has let go of the view under its lock, the runtime's threads cannot reach
    // it any more, nor the browser reference it holds as the listener.
    if (g_handler)
        g_handler->RemoveListener(this);
    browser = nullptr;
}

void QCefWebView::load(const QUrl& url)
{
    m_url = url;
    switch (m_state.load()) {
    case kNone:
        CreateBrowser(size());
        break;
    case kCreated:
        BrowserLoadUrl(url);
        break;
    default:
        break; // the browser being created keeps the address it was asked for
    }
}

bool QCefWebView::CreateBrowser(const QSize& size)
{
    if (m_state != kNone || size.width() <= 0 || size.height() <= 0)
        return false;
    const HWND host = static_cast<HWND>(winId());
    CefWindowInfo info;
    if (m_popup) {
        info.SetAsPopup(host, "PopView");
    } else {
        const RECT rect{0, 0, size.width(), size.height()};
        info.SetAsChild(host, rect);
    }
    CefBrowserSettings settings;
    settings.caret_browsing = STATE_ENABLED;
    settings.universal_access_from_file_urls = STATE_ENABLED;
    settings.file_access_from_file_urls = STATE_DISABLED;
    settings.web_security = STATE_ENABLED;
    settings.text_area_resize = STATE_DISABLED;
    settings.tab_to_links = STATE_DISABLED;
    if (g_handler)
        g_handler->SetListener(this);
    const std::string address = m_url.isEmpty() ? std::string("about:blank") : m_url.toString().toStdString();
    // Before the request: the runtime may report the browser created on its own thread at once.
    {
        std::lock_guard<std::mutex> lock(g_viewsLock);
        m_hostWindow = host;
        g_viewsByWindow[host] = this;
    }
    m_state = kCreating;
    CefBrowserHost::CreateBrowser(info, g_handler.get(), address, settings);
    return true;
}

CefRefPtr<CefBrowser> QCefWebView::GetBrowser() const
{
    std::lock_guard<std::mutex> lock(g_viewsLock);
    return m_browser;
}

bool QCefWebView::BrowserLoadUrl(const QUrl& url)
{
    CefRefPtr<CefBrowser> browser = GetBrowser();
    if (url.isEmpty() || !browser)
        return false;
    browser->GetMainFrame()->LoadURL(m_url.toString().toStdString());
    return true;
}

QUrl QCefWebView::url() const
{
    CefRefPtr<CefBrowser> browser = GetBrowser();
    if (!browser)
        return QUrl();
    return QUrl(QString::fromStdString(browser->GetMainFrame()->GetURL().ToString()), QUrl::TolerantMode);
}

void QCefWebView::ResizeBrowser(const QSize& size)
{
    CefRefPtr<CefBrowser> browser = GetBrowser();
    if (!browser)
        return;
    const HWND window = browser->GetHost()->GetWindowHandle();
    if (!window)
        return;
    if (HDWP positions = DeferWindowPos(BeginDeferWindowPos(1), window, 0, 0, 0, size.width(), size.height(),
                                        SWP_NOZORDER))
        EndDeferWindowPos(positions);
}

void QCefWebView::OnBrowserCreated(CefRefPtr<CefBrowser> browser)
{
    // Popups opened by page script and developer-tools windows belong to no view.
    if (!browser || browser->IsPopup())
        return;
    const HWND host = browser->GetHost()->GetOpenerWindowHandle();
    std::lock_guard<std::mutex> lock(g_viewsLock);
    auto it = g_viewsByWindow.find(host);
    if (it == g_viewsByWindow.end() || it->second->m_state != kCreating)
        return;
    QCefWebView* view = it->second;
    view->m_browser = browser;
    view->m_state = kCreated;
    // The view may have been resized while its browser was being created.
    QMetaObject::invokeMethod(view, [view] { view->ResizeBrowser(view->size()); }, Qt::QueuedConnection);
}

void QCefWebView::PostMessageEvent(MessageEvent* event)
{
    QCoreApplication::postEvent(this, event, Qt::HighEventPriority);
}

void QCefWebView::DeliverMessageEvent(const MessageEvent& event)
{
    emit jsMessage(event.message(), event.callback());
}

void QCefWebView::back()
{
    if (CefRefPtr<CefBrowser> browser = GetBrowser())
        browser->GoBack();
}

void QCefWebView::forward()
{
    if (CefRefPtr<CefBrowser> browser = GetBrowser())
        browser->GoForward();
}

void QCefWebView::reload()
{
    if (CefRefPtr<CefBrowser> browser = GetBrowser())
        browser->Reload();
}

void QCefWebView::stop()
{
    if (CefRefPtr<CefBrowser> browser = GetBrowser())
        browser->StopLoad();
}

QVariant QCefWebView::evaluateJavaScript(const QString& scriptSource)
{
    CefRefPtr<CefBrowser> browser = GetBrowser();
    if (!browser)
        return QVariant(false);
    browser->GetMainFrame()->ExecuteJavaScript(scriptSource.toStdString(), std::string(), 0);
    return QVariant(true);
}

void QCefWebView::customEvent(QEvent* event)
{
    if (event->type() != MessageEvent::eventType())
        return;
    DeliverMessageEvent(*static_cast<const MessageEvent*>(event));
}

void QCefWebView::resizeEvent(QResizeEvent* event)
{
    switch (m_state.load()) {
    case kNone:
        CreateBrowser(event->size());
        break;
    case kCreated:
        ResizeBrowser(event->size());
        break;
    default:
        break; // the browser window keeps the size it is being created with
    }
}

void QCefWebView::closeEvent(QCloseEvent* event)
{
    if (g_handler && !g_handler->IsClosing()) {
        if (CefRefPtr<CefBrowser> browser = GetBrowser())
            browser->GetHost()->CloseBrowser(false);
    }
    event->accept();
}

void QCefWebView::showEvent(QShowEvent* event)
{
    CreateBrowser(size());
    QWidget::showEvent(event);
}
