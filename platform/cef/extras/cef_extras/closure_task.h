// Tasks made of a closure: cef_extras::PostTask(TID_UI, [=] { ... }).
#pragma once

#include "include/cef_task.h"

#include <functional>

namespace cef_extras {

CefRefPtr<CefTask> ClosureTask(std::function<void()> closure);

inline bool PostTask(CefThreadId threadId, std::function<void()> closure)
{
    return CefPostTask(threadId, ClosureTask(std::move(closure)));
}

inline bool PostDelayedTask(CefThreadId threadId, std::function<void()> closure, int64 delay_ms)
{
    return CefPostDelayedTask(threadId, ClosureTask(std::move(closure)), delay_ms);
}

} // namespace cef_extras
