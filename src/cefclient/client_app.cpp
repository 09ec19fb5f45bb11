#include "cefclient/client_app.h"

#include "cefclient/renderer/page_bridge.h"
#include "include/cef_cookie.h"

ClientApp::ClientApp() = default;

void ClientApp::OnRegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> registrar)
{
    cookieable_schemes_.push_back("http");
    cookieable_schemes_.push_back("https");
    RegisterCustomSchemes(registrar, cookieable_schemes_);
}

void ClientApp::OnContextInitialized()
{
    CreateBrowserDelegates(browser_delegates_);

    CefRefPtr<CefCookieManager> manager = CefCookieManager::GetGlobalManager();
    if (manager)
        manager->SetSupportedSchemes(cookieable_schemes_);

    print_handler_ = CreatePrintHandler();

    for (const auto& delegate : browser_delegates_)
        delegate->OnContextInitialized(this);
}

void ClientApp::OnBeforeChildProcessLaunch(CefRefPtr<CefCommandLine> command_line)
{
    for (const auto& delegate : browser_delegates_)
        delegate->OnBeforeChildProcessLaunch(this, command_line);
}

void ClientApp::OnRenderProcessThreadCreated(CefRefPtr<CefListValue> extra_info)
{
    for (const auto& delegate : browser_delegates_)
        delegate->OnRenderProcessThreadCreated(this, extra_info);
}

void ClientApp::OnRenderThreadCreated(CefRefPtr<CefListValue> extra_info)
{
    CreateRenderDelegates(render_delegates_);
    for (const auto& delegate : render_delegates_)
        delegate->OnRenderThreadCreated(this, extra_info);
}

void ClientApp::OnWebKitInitialized()
{
    for (const auto& delegate : render_delegates_)
        delegate->OnWebKitInitialized(this);
}

void ClientApp::OnBrowserCreated(CefRefPtr<CefBrowser> browser)
{
    for (const auto& delegate : render_delegates_)
        delegate->OnBrowserCreated(this, browser);
}

void ClientApp::OnBrowserDestroyed(CefRefPtr<CefBrowser> browser)
{
    for (const auto& delegate : render_delegates_)
        delegate->OnBrowserDestroyed(this, browser);
}

CefRefPtr<CefLoadHandler> ClientApp::GetLoadHandler()
{
    for (const auto& delegate : render_delegates_) {
        if (CefRefPtr<CefLoadHandler> handler = delegate->GetLoadHandler(this))
            return handler;
    }
    return nullptr;
}

bool ClientApp::OnBeforeNavigation(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                   CefRefPtr<CefRequest> request, NavigationType navigation_type, bool is_redirect)
{
    for (const auto& delegate : render_delegates_) {
        if (delegate->OnBeforeNavigation(this, browser, frame, request, navigation_type, is_redirect))
            return true;
    }
    return false;
}

void ClientApp::OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                 CefRefPtr<CefV8Context> context)
{
    for (const auto& delegate : render_delegates_)
        delegate->OnContextCreated(this, browser, frame, context);
}

void ClientApp::OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                  CefRefPtr<CefV8Context> context)
{
    for (const auto& delegate : render_delegates_)
        delegate->OnContextReleased(this, browser, frame, context);
}

void ClientApp::OnUncaughtException(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                    CefRefPtr<CefV8Context> context, CefRefPtr<CefV8Exception> exception,
                                    CefRefPtr<CefV8StackTrace> stackTrace)
{
    for (const auto& delegate : render_delegates_)
        delegate->OnUncaughtException(this, browser, frame, context, exception, stackTrace);
}

void ClientApp::OnFocusedNodeChanged(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                     CefRefPtr<CefDOMNode> node)
{
    for (const auto& delegate : render_delegates_)
        delegate->OnFocusedNodeChanged(this, browser, frame, node);
}

bool ClientApp::OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                         CefRefPtr<CefProcessMessage> message)
{
    for (const auto& delegate : render_delegates_) {
        if (delegate->OnProcessMessageReceived(this, browser, source_process, message))
            return true;
    }
    return false;
}

void ClientApp::CreateBrowserDelegates(BrowserDelegateSet& /*delegates*/) {}

void ClientApp::CreateRenderDelegates(RenderDelegateSet& delegates)
{
    performance_test::CreateRenderDelegates(delegates);
}

// No scheme of the program is a standard scheme: its pages are served by the scheme handler
// factory alone.
void ClientApp::RegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> /*registrar*/,
                                      std::vector<CefString>& /*cookieable_schemes*/)
{
}

CefRefPtr<CefPrintHandler> ClientApp::CreatePrintHandler()
{
    return nullptr;
}
