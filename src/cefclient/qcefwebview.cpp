#include "cefclient/qcefwebview.h"

#include <QCoreApplication>

QCefWebView::QCefWebView(QWidget* parent, bool popup)
    : QWidget(parent)
    , m_popup(popup)
{
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_DontCreateNativeAncestors);
}

QCefWebView::~QCefWebView()
{
    // The runtime's threads must not reach a view that is gone.
    if (g_handler)
        g_handler->RemoveListener(this);
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
    CefWindowInfo info;
    if (m_popup) {
        info.SetAsPopup(winId(), "PopView");
    } else {
        const RECT rect{0, 0, size.width(), size.height()};
        info.SetAsChild(winId(), rect);
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
    m_state = kCreating;
    CefBrowserHost::CreateBrowser(info, g_handler.get(), address, settings);
    return true;
}

CefRefPtr<CefBrowser> QCefWebView::GetBrowser() const { return g_handler ? g_handler->GetBrowser() : nullptr; }

bool QCefWebView::BrowserLoadUrl(const QUrl& url)
{
    CefRefPtr<CefBrowser> browser = GetBrowser();
    if (url.isEmpty() || !browser)
        return false;
    browser->GetMainFrame()->LoadURL(m_url.toString().toStdString());
    return true;
}

void QCefWebView::ResizeBrowser(const QSize& size)
{
    CefRefPtr<CefBrowser> browser;
    if (!g_handler || !g_handler->WithListener([&](ClientHandler::Listener* l) { browser = l->browser; }) || !browser)
        return;
    const HWND window = browser->GetHost()->GetWindowHandle();
    if (!window)
        return;
    if (HDWP positions = DeferWindowPos(BeginDeferWindowPos(1), window, 0, 0, 0, size.width(), size.height(),
                                        SWP_NOZORDER))
        EndDeferWindowPos(positions);
}

void QCefWebView::OnBrowserCreated(CefRefPtr<CefBrowser> /*browser*/) { m_state = kCreated; }

void QCefWebView::PostMessageEvent(MessageEvent* event)
{
    QCoreApplication::postEvent(this, event, Qt::HighEventPriority);
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

void QCefWebView::customEvent(QEvent* event)
{
    if (event->type() != MessageEvent::eventType())
        return;
    const MessageEvent* message = static_cast<const MessageEvent*>(event);
    emit jsMessage(message->message(), message->callback());
}
