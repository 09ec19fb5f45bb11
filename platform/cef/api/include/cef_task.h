// Tasks and the runtime's task threads. Each thread (TID_UI, TID_FILE, TID_IO, TID_RENDERER)
// runs its tasks one at a time in posting order; posting never blocks. With a page engine that
// decides on its own thread, TID_UI and TID_RENDERER are that thread and share one order.
// Tasks posted before CefInitialize or after CefShutdown are dropped (the post answers false).
#pragma once

#include "include/cef_base.h"

class CefTask : public virtual CefBase {
public:
    virtual void Execute() = 0;
};

class CefTaskRunner : public virtual CefBase {
public:
    static CefRefPtr<CefTaskRunner> GetForCurrentThread();
    static CefRefPtr<CefTaskRunner> GetForThread(CefThreadId threadId);

    virtual bool IsSame(CefRefPtr<CefTaskRunner> that) = 0;
    virtual bool BelongsToCurrentThread() = 0;
    virtual bool BelongsToThread(CefThreadId threadId) = 0;
    virtual bool PostTask(CefRefPtr<CefTask> task) = 0;
    virtual bool PostDelayedTask(CefRefPtr<CefTask> task, int64 delay_ms) = 0;
};

bool CefCurrentlyOn(CefThreadId threadId);
bool CefPostTask(CefThreadId threadId, CefRefPtr<CefTask> task);
bool CefPostDelayedTask(CefThreadId threadId, CefRefPtr<CefTask> task, int64 delay_ms);
