// Internals shared by the core's sources.
#pragma once

#include "include/cef_app.h"
#include "include/cef_task.h"
#include "cef_control/backend.h"
#include "cef_extras/closure_task.h"
#include "cef_extras/qt_string.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace cef_internal {

// Live-object accounting for reference-balance tests.
std::atomic<int>& LiveObjects();
struct ObjectCounter {
    ObjectCounter() { LiveObjects().fetch_add(1); }
    ObjectCounter(const ObjectCounter&) { LiveObjects().fetch_add(1); }
    ~ObjectCounter() { LiveObjects().fetch_sub(1); }
};

// Task threads. With a scheduler, UI and RENDERER run on the calling thread (the engine's),
// which schedule asks to call RunEngineThreadTasks().
void StartThreads(std::function<void()> scheduleEngineThread);
void StopThreads();
bool ThreadsRunning();
// True on the engine's thread while it runs UI and RENDERER.
bool OnEngineThread();
void RunEngineThreadTasks();
// On the engine's thread, outside any task: runs what UI and RENDERER have queued, and what
// that posts there, for at most `rounds` rounds; with fn, runs fn in between and the same
// rounds again after it. Elsewhere only fn runs.
void SettleEngineThread(int rounds, const std::function<void()>& fn = nullptr);
// Waits until no task is queued or running on any task thread (besides the caller's own),
// including tasks those post while it waits. false on timeout.
bool WaitForTasksToSettle(int timeoutMs);

// Runs fn on thread and waits for it (inline when already there: on the engine's thread after
// the work queued there before). Answers fallback when the thread is not running or drops
// the task.
template <class R>
R RunAndWait(CefThreadId thread, std::function<R()> fn, R fallback)
{
    if (CefCurrentlyOn(thread)) {
        SettleEngineThread(1);
        return fn();
    }
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        bool ran = false;
        R result;
        explicit State(R r) : result(std::move(r)) {}
    };
    auto state = std::make_shared<State>(fallback);
    struct Guard {
        std::shared_ptr<State> s;
        ~Guard()
        {
            std::lock_guard<std::mutex> l(s->m);
            s->done = true;
            s->cv.notify_all();
        }
    };
    auto guard = std::make_shared<Guard>();
    guard->s = state;
    const bool posted = CefPostTask(thread, cef_extras::ClosureTask([guard, fn]() {
        R r = fn();
        std::lock_guard<std::mutex> l(guard->s->m);
        guard->s->result = std::move(r);
        guard->s->ran = true;
    }));
    guard.reset();
    if (!posted)
        return fallback;
    std::unique_lock<std::mutex> l(state->m);
    state->cv.wait_for(l, std::chrono::seconds(30), [&] { return state->done; });
    return state->ran ? state->result : fallback;
}

inline void RunAndWaitVoid(CefThreadId thread, std::function<void()> fn)
{
    RunAndWait<bool>(thread, [fn]() { fn(); return true; }, false);
}

// Runtime state.
CefRefPtr<CefApp> App();
CefRefPtr<CefRenderProcessHandler> RenderHandler();
CefRefPtr<CefBrowserProcessHandler> BrowserProcessHandler();
cef_backend::Backend* Backend();

// Scheme handler factories.
CefRefPtr<CefSchemeHandlerFactory> FindSchemeFactory(const std::string& scheme, const std::string& host);

// Browsers.
CefRefPtr<CefBrowser> FindBrowser(int id);
CefRefPtr<CefBrowser> OldestOpenBrowser();
CefRefPtr<CefClient> ClientOf(CefRefPtr<CefBrowser> browser);
void CloseAllViews(); // at shutdown

// Renderer side: V8 contexts of a browser (REN thread only).
CefRefPtr<CefV8Context> CreateV8Context(CefRefPtr<CefBrowser> browser, int64 contextId);
void InvalidateV8Context(CefRefPtr<CefV8Context> context);
int64 V8ContextId(CefRefPtr<CefV8Context> context);
std::vector<std::string> GlobalFunctionNames(CefRefPtr<CefV8Context> context);
// Runs the global native function name of context with converted args.
cef_backend::ScriptValue CallGlobal(CefRefPtr<CefV8Context> context, const CefString& name,
                                    const std::vector<cef_backend::ScriptValue>& args, std::string* exception);
cef_backend::ScriptValue ToScriptValue(CefRefPtr<CefV8Value> value);
CefRefPtr<CefV8Value> FromScriptValue(const cef_backend::ScriptValue& value, CefRefPtr<CefV8Context> context);

// The schemes last given to the cookie manager.
std::vector<CefString> SupportedCookieSchemes();

CefRefPtr<CefProcessMessage> CopyMessageForDelivery(CefRefPtr<CefProcessMessage> message);
// Makes message read-only in place (its sender gives it up) and answers it.
CefRefPtr<CefProcessMessage> SealMessage(CefRefPtr<CefProcessMessage> message);
// Sends a message its sender gives up (no copy); as CefBrowser::SendProcessMessage otherwise.
bool HandOverProcessMessage(CefRefPtr<CefBrowser> browser, CefProcessId target, CefRefPtr<CefProcessMessage> message);

// The engine view of a browser (for script invocation from V8 values).
bool InvokePageFunction(CefRefPtr<CefBrowser> browser, int64 contextId, int64 functionId,
                        const std::vector<cef_backend::ScriptValue>& args, cef_backend::ScriptValue* result);

} // namespace cef_internal
