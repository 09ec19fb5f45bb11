#include "window_procedures.h"

#include "window_lookup.h"

#include <QMutex>
#include <QPointer>
#include <QWidget>

#include <map>

namespace {

struct Subclass {
    QPointer<QWidget> widget; // the window the handle named when the procedure was set
    WNDPROC proc;
};

QMutex g_lock;
std::map<HWND, Subclass> g_subclasses;

// A procedure belongs to the window, not to the number: a handle whose window is gone, or now names
// another window, has none.
WNDPROC liveProcedure(HWND hwnd)
{
    const auto it = g_subclasses.find(hwnd);
    if (it == g_subclasses.end())
        return nullptr;
    const QWidget* w = it->second.widget.data();
    if (!w || static_cast<HWND>(w->internalWinId()) != hwnd) {
        g_subclasses.erase(it);
        return nullptr;
    }
    return it->second.proc;
}

} // namespace

namespace win32_internal {

WNDPROC subclassProcedure(HWND hwnd)
{
    QMutexLocker lock(&g_lock);
    return liveProcedure(hwnd);
}

} // namespace win32_internal

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR newLong)
{
    if (index != GWLP_WNDPROC || !newLong) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    QWidget* w = win32_internal::widgetOrError(hwnd);
    if (!w)
        return 0;
    const WNDPROC proc = reinterpret_cast<WNDPROC>(newLong);
    QMutexLocker lock(&g_lock);
    WNDPROC previous = liveProcedure(hwnd);
    if (!previous)
        previous = &win32_internal::toolkitWindowProc;
    if (proc == &win32_internal::toolkitWindowProc)
        g_subclasses.erase(hwnd);
    else
        g_subclasses[hwnd] = Subclass{w, proc};
    return reinterpret_cast<LONG_PTR>(previous);
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index)
{
    if (index != GWLP_WNDPROC)
        return GetWindowLongW(hwnd, index);
    if (!win32_internal::widgetOrError(hwnd))
        return 0;
    WNDPROC proc = win32_internal::subclassProcedure(hwnd);
    return reinterpret_cast<LONG_PTR>(proc ? proc : &win32_internal::toolkitWindowProc);
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}
