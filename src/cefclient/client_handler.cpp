// The handler's state, the life of browsers, the registry of browsers by view key, the main
// window handle and the page events.
#include "cefclient/client_handler.h"

#include "cefclient/message_event.h"
#include "cefclient/page_query_handler.h"

#include "include/base/cef_logging.h"
#include "include/cef_command_line.h"
#include "cef_extras/closure_task.h"
#include "cef_extras/qt_string.h"

#include <QUrl>

CefRefPtr<ClientHandler> g_handler;

namespace {

// The device code's events go to the handler g_handler holds at each event; nowhere while it is
// empty.
class CurrentHandlerSink : public DeviceEventSink {
public:
    constexpr CurrentHandlerSink() = default;
    void devicesChanged(int code) override
    {
        if (g_handler)
            g_handler->devicesChanged(code);
    }
    void deviceInput(const QString& hex) override
    {
        if (g_handler)
            g_handler->deviceInput(hex);
    }
    void macroItem(const QString& a, const QString& b, const QString& c, const QString& d) override
    {
        if (g_handler)
            g_handler->macroItem(a, b, c, d);
    }
};

// Constant-initialised and never destroyed: the vendor library may call in until the process ends.
CurrentHandlerSink g_currentHandlerSink;
const int kSinkRegistered = (setDeviceEventSink(&g_currentHandlerSink), 0);

// The page a renderer crash reloads until the main window names its start page.
const char kDefaultStartPage[] = "about:blank";

std::atomic<int> g_browserCount{0};

// Whether url is the address that key names: the same URL once both are parsed, dot segments
// resolved and fragments dropped.
bool isAddressOf(const QString& key, const QString& url)
{
    const QUrl k(key, QUrl::TolerantMode);
    const QUrl u(url, QUrl::TolerantMode);
    if (k.isEmpty() || !k.isValid() || !u.isValid())
        return false;
    const QUrl::FormattingOptions same = QUrl::NormalizePathSegments | QUrl::RemoveFragment | QUrl::StripTrailingSlash;
    return k.adjusted(same) == u.adjusted(same);
}

} // namespace

ClientHandler::ClientHandler()
{
    CefRefPtr<CefCommandLine> commandLine = CefCommandLine::GetGlobalCommandLine();
    if (commandLine->HasSwitch("url"))
        m_startupUrl = commandLine->GetSwitchValue("url").ToString();
    if (m_startupUrl.empty())
        m_startupUrl = kDefaultStartPage;
    m_cursorChangeDisabled = commandLine->HasSwitch("mouse-cursor-change-disabled");
}

ClientHandler::~ClientHandler() = default;

void ClientHandler::Listener::DeliverMessageEvent(const MessageEvent& event)
{
    PostMessageEvent(new MessageEvent(event.message(), event.callback()));
}

// ---- Configuration

void ClientHandler::SetListener(Listener* listener)
{
    std::lock_guard<std::mutex> lock(m_viewLock);
    m_listener = listener;
}

ClientHandler::Listener* ClientHandler::GetListener()
{
    std::lock_guard<std::mutex> lock(m_viewLock);
    return m_listener;
}

void ClientHandler::RemoveListener(Listener* listener)
{
    std::lock_guard<std::mutex> lock(m_viewLock);
    if (m_listener == listener)
        m_listener = nullptr;
}

bool ClientHandler::WithListener(const std::function<void(Listener*)>& fn)
{
    std::lock_guard<std::mutex> lock(m_viewLock);
    if (!m_listener)
        return false;
    fn(m_listener);
    return true;
}

void ClientHandler::SetViewKey(const QString& key)
{
    std::lock_guard<std::mutex> lock(m_viewLock);
    m_viewKey = key;
}

QString ClientHandler::GetViewKey()
{
    std::lock_guard<std::mutex> lock(m_viewLock);
    return m_viewKey;
}

void ClientHandler::SetStartupURL(const std::string& url)
{
    std::lock_guard<std::mutex> lock(m_viewLock);
    m_startupUrl = url;
}

std::string ClientHandler::GetStartupURL()
{
    std::lock_guard<std::mutex> lock(m_viewLock);
    return m_startupUrl;
}

// ---- Browsers

CefRefPtr<CefBrowser> ClientHandler::GetBrowser()
{
    AutoLock lock_scope(this);
    return m_browser;
}

int ClientHandler::GetBrowserId()
{
    AutoLock lock_scope(this);
    return m_browserId;
}

bool ClientHandler::IsClosing()
{
    AutoLock lock_scope(this);
    return m_isClosing;
}

CefRefPtr<CefBrowser> ClientHandler::GetRegisteredBrowser(const QString& key)
{
    std::lock_guard<std::mutex> lock(m_viewLock);
    auto it = m_viewKeyRegistry.find(key);
    return it == m_viewKeyRegistry.end() ? nullptr : it->second;
}

int ClientHandler::GetBrowserCount() { return g_browserCount; }

void ClientHandler::OnAfterCreated(CefRefPtr<CefBrowser> browser)
{
    if (!m_messageRouter) {
        m_messageRouter = CefMessageRouterBrowserSide::Create(CefMessageRouterConfig());
        CreateMessageHandlers(m_messageHandlers);
        for (CefMessageRouterBrowserSide::Handler* handler : m_messageHandlers)
            m_messageRouter->AddHandler(handler, false);
    }
    if (m_cursorChangeDisabled)
        browser->GetHost()->SetMouseCursorChangeDisabled(true);

    if (!GetBrowser()) {
        AutoLock lock_scope(this);
        m_browser = browser;
        m_browserId = browser->GetIdentifier();
        std::lock_guard<std::mutex> lock(m_viewLock);
        if (m_listener)
            m_listener->browser = browser;
    }
    if (browser->IsPopup()) {
        m_popupBrowsers.push_back(browser);
        // After the parent's own handling of the new window.
        cef_extras::PostTask(TID_UI, [browser] { browser->GetHost()->SetFocus(true); });
    }
    ++g_browserCount;

    std::lock_guard<std::mutex> lock(m_viewLock);
    if (m_listener)
        m_listener->OnBrowserCreated(browser);
}

bool ClientHandler::DoClose(CefRefPtr<CefBrowser> /*browser*/) { return false; }

void ClientHandler::OnBeforeClose(CefRefPtr<CefBrowser> browser)
{
    if (m_messageRouter)
        m_messageRouter->OnBeforeClose(browser);
    {
        // Every key the browser holds is freed, so that no key stays bound to a closed browser.
        std::lock_guard<std::mutex> lock(m_viewLock);
        for (auto it = m_viewKeyRegistry.begin(); it != m_viewKeyRegistry.end();)
            it = it->second->IsSame(browser) ? m_viewKeyRegistry.erase(it) : std::next(it);
    }
    if (browser->GetIdentifier() == GetBrowserId()) {
        AutoLock lock_scope(this);
        m_browser = nullptr;
        if (m_osrHandler) {
            m_osrHandler->OnBeforeClose(browser);
            m_osrHandler = nullptr;
        }
    } else if (browser->IsPopup()) {
        for (auto it = m_popupBrowsers.begin(); it != m_popupBrowsers.end(); ++it) {
            if ((*it)->IsSame(browser)) {
                m_popupBrowsers.erase(it);
                break;
            }
        }
    }
    if (--g_browserCount == 0) {
        for (CefMessageRouterBrowserSide::Handler* handler : m_messageHandlers) {
            if (m_messageRouter)
                m_messageRouter->RemoveHandler(handler);
            delete handler;
        }
        m_messageHandlers.clear();
        m_messageRouter = nullptr;
    }
}

void ClientHandler::OnLoadEnd(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, int /*httpStatusCode*/)
{
    // Only the main frame's document names the browser, and only under the key of the address it
    // shows: the key belongs to the view that loads that address, not to whichever browser
    // happens to finish a load first. The first browser registered under a key keeps it.
    if (!browser || !frame || !frame->IsMain())
        return;
    const QString url = cef_extras::ToQString(frame->GetURL());
    std::lock_guard<std::mutex> lock(m_viewLock);
    if (isAddressOf(m_viewKey, url))
        m_viewKeyRegistry.emplace(m_viewKey, browser);
}

void ClientHandler::CloseAllBrowsers(bool force_close)
{
    if (!CefCurrentlyOn(TID_UI)) {
        CefRefPtr<ClientHandler> self(this);
        cef_extras::PostTask(TID_UI, [self, force_close] { self->CloseAllBrowsers(force_close); });
        return;
    }
    for (const CefRefPtr<CefBrowser>& popup : m_popupBrowsers)
        popup->GetHost()->CloseBrowser(force_close);
    if (CefRefPtr<CefBrowser> main = GetBrowser())
        main->GetHost()->CloseBrowser(force_close);
}

void ClientHandler::SetOSRHandler(CefRefPtr<RenderHandler> handler)
{
    if (!CefCurrentlyOn(TID_UI)) {
        CefRefPtr<ClientHandler> self(this);
        cef_extras::PostTask(TID_UI, [self, handler] { self->SetOSRHandler(handler); });
        return;
    }
    m_osrHandler = handler;
}

CefRefPtr<ClientHandler::RenderHandler> ClientHandler::GetOSRHandler() { return m_osrHandler; }

// ---- Main window handle

void ClientHandler::SetMainWindowHandle(HWND handle)
{
    if (!CefCurrentlyOn(TID_UI)) {
        CefRefPtr<ClientHandler> self(this);
        cef_extras::PostTask(TID_UI, [self, handle] { self->SetMainWindowHandle(handle); });
        return;
    }
    m_mainHwnd = handle;
}

HWND ClientHandler::GetMainWindowHandle() { return m_mainHwnd; }

// ---- Router

void ClientHandler::CreateMessageHandlers(MessageHandlerSet& handlers) { window_test::CreateMessageHandlers(handlers); }

bool ClientHandler::OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                             CefRefPtr<CefProcessMessage> message)
{
    return m_messageRouter && m_messageRouter->OnProcessMessageReceived(browser, source_process, message);
}

// ---- Page events

CefRefPtr<CefProcessMessage> ClientHandler::CreatePageEvent(const char* name, const QVariantList& args)
{
    CefRefPtr<CefProcessMessage> message = CefProcessMessage::Create(name);
    CefRefPtr<CefListValue> list = message->GetArgumentList();
    for (int i = 0; i < args.size(); ++i) {
        const QVariant& arg = args.at(i);
        if (arg.type() == QVariant::Bool)
            list->SetBool(size_t(i), arg.toBool());
        else if (arg.type() == QVariant::Int)
            list->SetInt(size_t(i), arg.toInt());
        else
            list->SetString(size_t(i), cef_extras::ToCefString(arg.toString()));
    }
    return message;
}

void ClientHandler::SendToMainBrowser(CefRefPtr<CefProcessMessage> message)
{
    // Without a main browser the event has no page to go to and is dropped.
    if (CefRefPtr<CefBrowser> browser = GetBrowser())
        browser->SendProcessMessage(PID_RENDERER, message);
}

void ClientHandler::SendDevicesChanged(int code)
{
    SendToMainBrowser(CreatePageEvent("devicesChanged", {code}));
    // Written once the event is on its way: the line costs more than handing the event over.
    LOG(INFO) << "devicesChanged";
}

void ClientHandler::SendDeviceInput(const QString& hex)
{
    const QChar d = hex.size() > 3 ? hex.at(3) : QChar();
    if (d == QLatin1Char('5')) {
        SendToMainBrowser(CreatePageEvent("keyDown"));
    } else if (d == QLatin1Char('8')) {
        POINT pos{0, 0};
        GetCursorPos(&pos);
        SendToMainBrowser(
            CreatePageEvent("mouseMove", {QString::number(pos.x) + QLatin1Char(',') + QString::number(pos.y)}));
    }
}

void ClientHandler::SendNavStateChanged(bool canGoBack, bool canGoForward)
{
    SendToMainBrowser(CreatePageEvent("navStateChanged", {canGoBack, canGoForward}));
}

void ClientHandler::SendBrowserMessage(const QString& msg, const QString& key)
{
    if (CefRefPtr<CefBrowser> browser = GetRegisteredBrowser(key))
        browser->SendProcessMessage(PID_RENDERER, CreatePageEvent("onBrowserMsg", {msg}));
}

void ClientHandler::SendMacroItem(const QString& a, const QString& b, const QString& c, const QString& d)
{
    SendToMainBrowser(CreatePageEvent("macroItem", {a, b, c, d}));
}

void ClientHandler::SendCurrentPropChanged(int propIndex, int proMode)
{
    SendToMainBrowser(CreatePageEvent("currentPropChanged", {propIndex, proMode}));
}

void ClientHandler::SendSwitchVirtualDevice() { SendToMainBrowser(CreatePageEvent("onSwitchVirtualDevice")); }
