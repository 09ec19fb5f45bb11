// Query routing between page script and the browser side.
//
// Page side (installed in every script context by the renderer side):
//   var id = window.cefQuery({request: 'text', persistent: false,
//                             onSuccess: function(response) {},
//                             onFailure: function(error_code, error_message) {}});
//   window.cefQueryCancel(id);
// Query ids are numbered 1, 2, 3, ... per script context in call order.
//
// Browser side (UI thread): each query is offered to the handlers in order until one answers
// true. The Callback may be answered from any thread: a non-persistent query completes with
// its first Success or Failure and later answers are ignored; a persistent one takes any
// number of Success answers until a Failure. Answers after the query was cancelled (page
// cancel, navigation, context release, browser close, renderer termination) or after the
// router is gone are ignored.
#pragma once

#include "include/cef_base.h"
#include "include/cef_browser.h"
#include "include/cef_process_message.h"
#include "include/cef_v8.h"

struct CefMessageRouterConfig {
    CefMessageRouterConfig() : js_query_function("cefQuery"), js_cancel_function("cefQueryCancel") {}

    CefString js_query_function;
    CefString js_cancel_function;
};

class CefMessageRouterBrowserSide : public virtual CefBase {
public:
    class Callback : public virtual CefBase {
    public:
        virtual void Success(const CefString& response) = 0;
        virtual void Failure(int error_code, const CefString& error_message) = 0;
    };

    class Handler {
    public:
        typedef CefMessageRouterBrowserSide::Callback Callback;

        // true when this handler takes the query (it answers through callback, now or later).
        virtual bool OnQuery(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/, int64 /*query_id*/,
                             const CefString& /*request*/, bool /*persistent*/, CefRefPtr<Callback> /*callback*/)
        {
            return false;
        }
        // The query ended without an answer; its callback is detached.
        virtual void OnQueryCanceled(CefRefPtr<CefBrowser> /*browser*/, CefRefPtr<CefFrame> /*frame*/, int64 /*query_id*/) {}
        virtual ~Handler() {}
    };

    static CefRefPtr<CefMessageRouterBrowserSide> Create(const CefMessageRouterConfig& config);

    // Handlers are not owned; remove them before deleting them.
    virtual bool AddHandler(Handler* handler, bool first) = 0;
    virtual bool RemoveHandler(Handler* handler) = 0;
    virtual void CancelPending(CefRefPtr<CefBrowser> browser, Handler* handler) = 0;
    virtual int GetPendingCount(CefRefPtr<CefBrowser> browser, Handler* handler) = 0;

    // To be called from the client's callbacks of the same names.
    virtual void OnBeforeClose(CefRefPtr<CefBrowser> browser) = 0;
    virtual void OnRenderProcessTerminated(CefRefPtr<CefBrowser> browser) = 0;
    virtual void OnBeforeBrowse(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame) = 0;
    virtual bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                          CefRefPtr<CefProcessMessage> message) = 0;
};

class CefMessageRouterRendererSide : public virtual CefBase {
public:
    static CefRefPtr<CefMessageRouterRendererSide> Create(const CefMessageRouterConfig& config);

    virtual int GetPendingCount(CefRefPtr<CefBrowser> browser, CefRefPtr<CefV8Context> context) = 0;

    // To be called from the render process handler's callbacks of the same names.
    virtual void OnContextCreated(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                  CefRefPtr<CefV8Context> context) = 0;
    virtual void OnContextReleased(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame> frame,
                                   CefRefPtr<CefV8Context> context) = 0;
    virtual bool OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId source_process,
                                          CefRefPtr<CefProcessMessage> message) = 0;
};
