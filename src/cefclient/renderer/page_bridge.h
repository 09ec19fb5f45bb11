// The pages' side of the bridge in the renderer: the query functions of the message router
// ("cefQuery", "cefQueryCancel") and setMessageCallback(name, function) in every script
// context, and delivery of the named page events to the functions the pages registered.
// Everything here runs on the renderer thread.
#pragma once

#include "cefclient/client_app.h"
#include "include/cef_v8.h"
#include "include/wrapper/cef_message_router.h"

#include <map>
#include <string>
#include <utility>

namespace performance_test {

// The one render delegate of the application.
class RenderDelegate : public ClientApp::RenderDelegate {
public:
    void OnWebKitInitialized(CefRefPtr<ClientApp> app) override;
    void OnContextCreated(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                          CefRefPtr<CefV8Context> context) override;
    void OnContextReleased(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                           CefRefPtr<CefV8Context> context) override;
    // Calls the function the page registered under the event's name for this browser with
    // one argument, the array of the message's arguments; true when that function returned
    // true.
    bool OnProcessMessageReceived(CefRefPtr<ClientApp> app, CefRefPtr<CefBrowser> browser,
                                  CefProcessId source_process, CefRefPtr<CefProcessMessage> message) override;

private:
    CefRefPtr<CefMessageRouterRendererSide> message_router_;
    IMPLEMENT_REFCOUNTING(RenderDelegate);
};

// setMessageCallback(name, function): the first function registered under a name in a
// browser stays until its script context is released. Other arguments are ignored; the call
// gives undefined.
class V8Handler : public CefV8Handler {
public:
    bool Execute(const CefString& name, CefRefPtr<CefV8Value> object, const CefV8ValueList& arguments,
                 CefRefPtr<CefV8Value>& retval, CefString& exception) override;

private:
    IMPLEMENT_REFCOUNTING(V8Handler);
};

// Adds the page bridge to the application's render delegates.
void CreateRenderDelegates(ClientApp::RenderDelegateSet& delegates);

} // namespace performance_test

// The registered page functions of this renderer: (event name, browser id) -> (the script
// context it was registered in, the function). Renderer thread only.
typedef std::map<std::pair<std::string, int>, std::pair<CefRefPtr<CefV8Context>, CefRefPtr<CefV8Value>>>
    MessageCallbackMap;
extern MessageCallbackMap g_messageCallbacks;
