// A task that runs a closure: CefPostTask(TID_UI, CefCreateClosureTask([=] { ... })).
#pragma once

#include "include/cef_task.h"

#include <functional>

CefRefPtr<CefTask> CefCreateClosureTask(std::function<void()> closure);

inline bool CefPostTask(CefThreadId threadId, std::function<void()> closure)
{
    return CefPostTask(threadId, CefCreateClosureTask(std::move(closure)));
}
