#include "windows.h"
#include "win32sim/messages.h"
#include "window_lookup.h"

#include <QGuiApplication>
#include <QMutex>
#include <QScreen>
#include <QWidget>

#include <climits>

namespace {

QMutex g_monitorLock;
std::vector<win32sim::Monitor> g_monitors;

RECT toRect(const QRect& r) { return RECT{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }

// The monitors in order, the primary first.
std::vector<win32sim::Monitor> monitors()
{
    {
        QMutexLocker lock(&g_monitorLock);
        if (!g_monitors.empty())
            return g_monitors;
    }
    std::vector<win32sim::Monitor> out;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return out;
    for (QScreen* s : QGuiApplication::screens())
        out.push_back({toRect(s->geometry()), toRect(s->availableGeometry())});
    return out;
}

HMONITOR handleOf(size_t index) { return reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(index + 1)); }

long long distanceSquared(const RECT& r, POINT p)
{
    long long dx = 0, dy = 0;
    if (p.x < r.left)
        dx = r.left - p.x;
    else if (p.x >= r.right)
        dx = p.x - r.right + 1;
    if (p.y < r.top)
        dy = r.top - p.y;
    else if (p.y >= r.bottom)
        dy = p.y - r.bottom + 1;
    return dx * dx + dy * dy;
}

HMONITOR fallback(const std::vector<win32sim::Monitor>& list, POINT p, DWORD flags)
{
    if (list.empty() || flags == MONITOR_DEFAULTTONULL)
        return nullptr;
    if (flags == MONITOR_DEFAULTTOPRIMARY)
        return handleOf(0);
    size_t best = 0;
    long long bestDistance = LLONG_MAX;
    for (size_t i = 0; i < list.size(); ++i) {
        const long long d = distanceSquared(list[i].monitor, p);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return handleOf(best);
}

} // namespace

using win32_internal::widgetOrError;

BOOL GetClientRect(HWND hwnd, LPRECT rect)
{
    QWidget* w = widgetOrError(hwnd);
    if (!w || !rect)
        return FALSE;
    *rect = RECT{0, 0, w->width(), w->height()};
    return TRUE;
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect)
{
    QWidget* w = widgetOrError(hwnd);
    if (!w || !rect)
        return FALSE;
    if (w->isWindow())
        *rect = toRect(w->frameGeometry());
    else
        *rect = toRect(QRect(w->mapToGlobal(QPoint(0, 0)), w->size()));
    return TRUE;
}

LONG GetWindowLongW(HWND hwnd, int index)
{
    QWidget* w = widgetOrError(hwnd);
    if (!w)
        return 0;
    const Qt::WindowFlags flags = w->windowFlags();
    if (index == GWL_STYLE) {
        DWORD style = 0;
        if (!w->isWindow())
            style |= WS_CHILD;
        else if (flags & Qt::FramelessWindowHint)
            style |= WS_POPUP | WS_SYSMENU;
        else
            style |= WS_OVERLAPPEDWINDOW;
        if (w->isWindow() && (flags & Qt::WindowMinimizeButtonHint))
            style |= WS_MINIMIZEBOX;
        if (w->isWindow() && (flags & Qt::WindowMaximizeButtonHint))
            style |= WS_MAXIMIZEBOX;
        if (w->isVisible())
            style |= WS_VISIBLE;
        if (w->windowState() & Qt::WindowMinimized)
            style |= WS_MINIMIZE;
        if (w->windowState() & Qt::WindowMaximized)
            style |= WS_MAXIMIZE;
        return static_cast<LONG>(style);
    }
    if (index == GWL_EXSTYLE) {
        DWORD ex = 0;
        if ((flags & Qt::WindowType_Mask) == Qt::Tool)
            ex |= WS_EX_TOOLWINDOW;
        if (flags & Qt::WindowStaysOnTopHint)
            ex |= WS_EX_TOPMOST;
        return static_cast<LONG>(ex);
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL /*menu*/, DWORD /*exStyle*/)
{
    if (!rect)
        return FALSE;
    int frame = 0;
    if (style & WS_THICKFRAME)
        frame = 8;
    else if (style & WS_BORDER)
        frame = 1;
    rect->left -= frame;
    rect->top -= frame;
    rect->right += frame;
    rect->bottom += frame;
    if ((style & WS_CAPTION) == WS_CAPTION)
        rect->top -= 23;
    return TRUE;
}

BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* placement)
{
    QWidget* w = widgetOrError(hwnd);
    if (!w || !placement)
        return FALSE;
    placement->flags = 0;
    if (w->windowState() & Qt::WindowMinimized)
        placement->showCmd = SW_SHOWMINIMIZED;
    else if (w->windowState() & Qt::WindowMaximized)
        placement->showCmd = SW_SHOWMAXIMIZED;
    else
        placement->showCmd = SW_SHOWNORMAL;
    placement->ptMinPosition = POINT{-1, -1};
    placement->ptMaxPosition = POINT{-1, -1};
    placement->rcNormalPosition = toRect(w->isWindow() ? w->normalGeometry() : w->geometry());
    return TRUE;
}

HMONITOR MonitorFromRect(const RECT* rect, DWORD flags)
{
    if (!rect)
        return nullptr;
    const auto list = monitors();
    long long bestArea = 0;
    size_t best = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const RECT& m = list[i].monitor;
        const long long w = std::min(rect->right, m.right) - std::max(rect->left, m.left);
        const long long h = std::min(rect->bottom, m.bottom) - std::max(rect->top, m.top);
        if (w > 0 && h > 0 && w * h > bestArea) {
            bestArea = w * h;
            best = i;
        }
    }
    if (bestArea > 0)
        return handleOf(best);
    const POINT centre{(rect->left + rect->right) / 2, (rect->top + rect->bottom) / 2};
    return fallback(list, centre, flags);
}

HMONITOR MonitorFromPoint(POINT pt, DWORD flags)
{
    const auto list = monitors();
    for (size_t i = 0; i < list.size(); ++i) {
        const RECT& m = list[i].monitor;
        if (pt.x >= m.left && pt.x < m.right && pt.y >= m.top && pt.y < m.bottom)
            return handleOf(i);
    }
    return fallback(list, pt, flags);
}

BOOL GetMonitorInfoW(HMONITOR monitor, LPMONITORINFO info)
{
    const auto list = monitors();
    const uintptr_t index = reinterpret_cast<uintptr_t>(monitor);
    if (!info || index == 0 || index > list.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->rcMonitor = list[index - 1].monitor;
    info->rcWork = list[index - 1].work;
    info->dwFlags = index == 1 ? MONITORINFOF_PRIMARY : 0;
    return TRUE;
}

int GetSystemMetrics(int index)
{
    const auto list = monitors();
    if (list.empty())
        return 0;
    const RECT& primary = list.front().monitor;
    switch (index) {
    case SM_CXSCREEN:
        return primary.right - primary.left;
    case SM_CYSCREEN:
        return primary.bottom - primary.top;
    default:
        return 0;
    }
}

namespace win32sim {

void setMonitors(const std::vector<Monitor>& list)
{
    QMutexLocker lock(&g_monitorLock);
    g_monitors = list;
}

} // namespace win32sim
