#include "cefclient/renderer/page_bridge.h"

#include "cefclient/renderer/v8_list_conversion.h"

MessageCallbackMap g_messageCallbacks;

namespace performance_test {

namespace {

// The event names that reach page functions; other names are stored but never called.
bool IsDeliveredEvent(const std::string& name)
{
    static const char* const kNames[] = {"keyDown",         "mouseMove",          "devicesChanged",
                                         "macroItem",       "currentPropChanged", "navStateChanged",
                                         "onDeviceData",    "onBrowserMsg",       "onSwitchVirtualDevice"};
    for (const char* n : kNames) {
        if (name == n)
            return true;
    }
    return false;
}

} // namespace

void RenderDelegate::OnWebKitInitialized(CefRefPtr<ClientApp> /*app*/)
{
    message_router_ = CefMessageRouterRendererSide::Create(CefMessageRouterConfig());
}

void RenderDelegate::OnContextCreated(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefBrowser> browser,
                                      CefRefPtr<CefFrame> frame, CefRefPtr<CefV8Context> context)
{
    if (message_router_)
        message_router_->OnContextCreated(browser, frame, context);
    context->GetGlobal()->SetValue("setMessageCallback", CefV8Value::CreateFunction("setMessageCallback", new V8Handler),
                                   V8_PROPERTY_ATTRIBUTE_NONE);
}

void RenderDelegate::OnContextReleased(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefBrowser> browser,
                                       CefRefPtr<CefFrame> frame, CefRefPtr<CefV8Context> context)
{
    if (message_router_)
        message_router_->OnContextReleased(browser, frame, context);
    for (auto it = g_messageCallbacks.begin(); it != g_messageCallbacks.end();) {
        if (it->second.first->IsSame(context))
            it = g_messageCallbacks.erase(it);
        else
            ++it;
    }
}

bool RenderDelegate::OnProcessMessageReceived(CefRefPtr<ClientApp> /*app*/, CefRefPtr<CefBrowser> browser,
                                              CefProcessId source_process, CefRefPtr<CefProcessMessage> message)
{
    // Answers to the page's queries; the page's own functions are looked up regardless.
    if (message_router_)
        message_router_->OnProcessMessageReceived(browser, source_process, message);

    if (g_messageCallbacks.empty())
        return false;
    const std::string name = message->GetName().ToString();
    if (!IsDeliveredEvent(name))
        return false;
    const auto it = g_messageCallbacks.find(std::make_pair(name, browser->GetIdentifier()));
    if (it == g_messageCallbacks.end())
        return false;

    // Held here: the page function may register or release while it runs.
    CefRefPtr<CefV8Context> context = it->second.first;
    CefRefPtr<CefV8Value> function = it->second.second;
    // A context that cannot be entered (gone, or not this thread's) runs no script.
    if (!context->Enter())
        return false;
    bool handled = false;
    CefRefPtr<CefListValue> args = message->GetArgumentList();
    CefRefPtr<CefV8Value> array = CefV8Value::CreateArray(int(args->GetSize()));
    CopyListToV8Array(args, array);
    CefRefPtr<CefV8Value> result = function->ExecuteFunction(nullptr, CefV8ValueList{array});
    if (result && result->IsBool())
        handled = result->GetBoolValue();
    context->Exit();
    return handled;
}

bool V8Handler::Execute(const CefString& /*name*/, CefRefPtr<CefV8Value> /*object*/,
                        const CefV8ValueList& arguments, CefRefPtr<CefV8Value>& /*retval*/,
                        CefString& /*exception*/)
{
    if (arguments.size() != 2 || !arguments[0]->IsString() || !arguments[1]->IsFunction())
        return false;
    CefRefPtr<CefV8Context> context = CefV8Context::GetCurrentContext();
    CefRefPtr<CefBrowser> browser = context ? context->GetBrowser() : nullptr;
    if (!browser)
        return false;
    // insert keeps an entry that is already there: the first registration wins.
    g_messageCallbacks.insert(std::make_pair(std::make_pair(arguments[0]->GetStringValue().ToString(),
                                                            browser->GetIdentifier()),
                                             std::make_pair(context, arguments[1])));
    return false;
}

void CreateRenderDelegates(ClientApp::RenderDelegateSet& delegates)
{
    delegates.insert(new RenderDelegate);
}

} // namespace performance_test
