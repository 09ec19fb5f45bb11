// The runtime's application object, one per process: the browser-process handler and the
// render-process handler at once. Render-process callbacks are handed on to a set of render
// delegates; the browser-delegate set exists for the same purpose on the browser side.
#pragma once

#include "include/cef_app.h"

#include <set>
#include <vector>

class ClientApp : public CefApp, public CefBrowserProcessHandler, public CefRenderProcessHandler {
public:
    // Browser-process work of a feature. The program has none.
    class BrowserDelegate : public virtual CefBase {
    public:
        virtual void OnContextInitialized(CefRefPtr<ClientApp> /*app*/) {}
        virtual void OnBeforeChildProcessLaunch(CefRefPtr<ClientApp> /*app*/,
                                                CefRefPtr<CefCommandLine> /*command_line*/)
        {
        }
        virtual void OnRenderProcessThreadCreated(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefListValue> /*extra_info*/)
        {
        }
    };
    typedef std::set<CefRefPtr<BrowserDelegate>> BrowserDelegateSet;

    // Render-process work of a feature: the render-process callbacks, each with the
    // application first.
    class RenderDelegate : public virtual CefBase {
    public:
        virtual void OnRenderThreadCreated(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefListValue> /*extra_info*/) {}
        virtual void OnWebKitInitialized(CefRefPtr<ClientApp> /*app*/) {}
        virtual void OnBrowserCreated(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefBrowser> /*browser*/) {}
        virtual void OnBrowserDestroyed(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefBrowser> /*browser*/) {}
        virtual CefRefPtr<CefLoadHandler> GetLoadHandler(CefRefPtr<ClientApp> /*app*/) { return nullptr; }
        // true cancels the navigation.
        virtual bool OnBeforeNavigation(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefBrowser> /*browser*/,
                                        CefRefPtr<CefFrame> /*frame*/, CefRefPtr<CefRequest> /*request*/,
                                        cef_navigation_type_t /*navigation_type*/, bool /*is_redirect*/)
        {
            return false;
        }
        virtual void OnContextCreated(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefBrowser> /*browser*/,
                                      CefRefPtr<CefFrame> /*frame*/, CefRefPtr<CefV8Context> /*context*/)
        {
        }
        virtual void OnContextReleased(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefBrowser> /*browser*/,
                                       CefRefPtr<CefFrame> /*frame*/, CefRefPtr<CefV8Context> /*context*/)
        {
        }
        virtual void OnUncaughtException(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefBrowser> /*browser*/,
                                         CefRefPtr<CefFrame> /*frame*/, CefRefPtr<CefV8Context> /*context*/,
                                         CefRefPtr<CefV8Exception> /*exception*/,
                                         CefRefPtr<CefV8StackTrace> /*stackTrace*/)
        {
        }
        virtual void OnFocusedNodeChanged(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefBrowser> /*browser*/,
                                          CefRefPtr<CefFrame> /*frame*/, CefRefPtr<CefDOMNode> /*node*/)
        {
        }
        // true when the delegate took the message.
        virtual bool OnProcessMessageReceived(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefBrowser> /*browser*/,
                                              CefProcessId /*source_process*/,
                                              CefRefPtr<CefProcessMessage> /*message*/)
        {
            return false;
        }
    };
    typedef std::set<CefRefPtr<RenderDelegate>> RenderDelegateSet;

    ClientApp();

    // CefApp
    void OnRegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> registrar) override;
    CefRefPtr<CefBrowserProcessHandler> GetBrowserProcessHandler() override { return this; }
    CefRefPtr<CefRenderProcessHandler> GetRenderProcessHandler() override { return this; }

    // CefBrowserProcessHandler
    void OnContextInitialized() override;
    void OnBeforeChildProcessLaunch(CefRefPtr<CefCommandLine> command_line) override;
    void OnRenderProcessThreadCreated(CefRefPtr<CefListValue> extra_info) override;
    CefRefPtr<CefPrintHandler> GetPrintHandler() override { return print_handler_; }

    // CefRenderProcessHandler: each is handed on to the render delegates in the set's order.
    void OnRenderThreadCreated(CefRefPtr<CefListValue> extra_info) override;
    void OnWebKitInitialized() override;
    void OnBrowserCreated(CefRefPtr<CefBrowser> browser) override;
    void OnBrowserDestroyed(CefRefPtr<CefBrowser> browser) override;
    // The first delegate's load handler that is not null.
    CefRefPtr<CefLoadHandler> GetLoadHandler() override;
    // true as soon as one delegate cancels; later delegates are not asked.
    bool OnBeforeNavigation(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame, CefRefPtr<CefRequest> request,
                            NavigationType navigation_type, bool is_redirect) override;
    void OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                          CefRefPtr<CefV8Context> context) override;
    void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           CefRefPtr<CefV8Context> context) override;
    void OnUncaughtException(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                             CefRefPtr<CefV8Context> context, CefRefPtr<CefV8Exception> exception,
                             CefRefPtr<CefV8StackTrace> stackTrace) override;
    void OnFocusedNodeChanged(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                              CefRefPtr<CefDOMNode> node) override;
    // Offered to the delegates until one takes it; whichever process sent it.
    bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                  CefRefPtr<CefProcessMessage> message) override;

protected:
    // The render set is filled when the render thread is created and is read only on that
    // thread; the browser set stays empty.
    BrowserDelegateSet browser_delegates_;
    RenderDelegateSet render_delegates_;
    std::vector<CefString> cookieable_schemes_;
    CefRefPtr<CefPrintHandler> print_handler_;

private:
    static void CreateBrowserDelegates(BrowserDelegateSet& delegates);
    static void CreateRenderDelegates(RenderDelegateSet& delegates);
    static void RegisterCustomSchemes(CefRefPtr<CefSchemeRegistrar> registrar,
                                      std::vector<CefString>& cookieable_schemes);
    static CefRefPtr<CefPrintHandler> CreatePrintHandler();

    IMPLEMENT_REFCOUNTING(ClientApp);
};
