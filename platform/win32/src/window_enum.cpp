#include "windows.h"
#include "win32sim/foreground.h"
#include "window_lookup.h"

#include <QApplication>
#include <QMutex>
#include <QWidget>

#include <unistd.h>

namespace {

QMutex g_callsLock;
std::vector<win32sim::ActivationCall> g_calls;

void record(win32sim::ActivationCall::Kind kind, HWND hwnd)
{
    QMutexLocker lock(&g_callsLock);
    g_calls.push_back({kind, hwnd});
}

} // namespace

using win32_internal::widgetOrError;

BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam)
{
    if (!proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return TRUE;
    // Handles first: the procedure may create or destroy widgets.
    std::vector<HWND> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->internalWinId())
            windows.push_back(static_cast<HWND>(w->internalWinId()));
    for (HWND hwnd : windows)
        if (!proc(hwnd, lParam))
            return FALSE;
    return TRUE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId)
{
    if (!widgetOrError(hwnd))
        return 0;
    if (processId)
        *processId = static_cast<DWORD>(getpid());
    // Widgets belong to the GUI thread, which is the process's main thread: its id is the process id.
    return static_cast<DWORD>(getpid());
}

int GetWindowTextW(HWND hwnd, LPWSTR text, int maxCount)
{
    QWidget* w = widgetOrError(hwnd);
    if (!w || !text || maxCount <= 0)
        return 0;
    const QString title = w->windowTitle();
    const int n = qMin(title.size(), maxCount - 1);
    for (int i = 0; i < n; ++i)
        text[i] = static_cast<WCHAR>(title.at(i).unicode());
    text[n] = 0;
    return n;
}

BOOL SetForegroundWindow(HWND hwnd)
{
    record(win32sim::ActivationCall::Foreground, hwnd);
    QWidget* w = widgetOrError(hwnd);
    if (!w)
        return FALSE;
    QWidget* top = w->window();
    // A window that takes no activation (as one with WS_EX_NOACTIVATE) is not brought forward.
    if (top->windowFlags() & Qt::WindowDoesNotAcceptFocus)
        return FALSE;
    top->raise();
    top->activateWindow();
    return TRUE;
}

HWND SetFocus(HWND hwnd)
{
    record(win32sim::ActivationCall::Focus, hwnd);
    QWidget* w = widgetOrError(hwnd);
    if (!w)
        return 0;
    QWidget* previous = QApplication::focusWidget();
    const HWND before = previous ? static_cast<HWND>(previous->effectiveWinId()) : 0;
    w->setFocus(Qt::OtherFocusReason);
    return before;
}

namespace win32sim {

std::vector<ActivationCall> activationCalls()
{
    QMutexLocker lock(&g_callsLock);
    return g_calls;
}

void clearActivationCalls()
{
    QMutexLocker lock(&g_callsLock);
    g_calls.clear();
}

} // namespace win32sim
