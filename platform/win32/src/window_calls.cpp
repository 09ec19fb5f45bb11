#include "windows.h"
#include "cursor.h"
#include "window_lookup.h"
#include "qt_extras/gui_thread.h"

#include <QCoreApplication>
#include <QWidget>

#include <condition_variable>
#include <mutex>
#include <vector>

struct HDWP__ {
    struct Move {
        HWND hwnd;
        int x, y, cx, cy;
        UINT flags;
    };
    std::vector<Move> moves;
};

namespace {

using win32_internal::widgetOrError;

// Runs fn on the GUI thread (at once when called there) and answers its result, with the error code
// it left. Without an application there are no windows: the answer is the type's zero.
template <class Fn>
auto onGuiThread(Fn fn) -> decltype(fn())
{
    typedef decltype(fn()) Result;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        SetLastError(1400);
        return Result();
    }
    if (qt_extras::OnGuiThread())
        return fn();
    // The caller waits for the answer as a blocking queued call would, on a lock of its own that
    // hands the answer over.
    Result result = Result();
    DWORD error = ERROR_SUCCESS;
    std::mutex lock;
    std::condition_variable answered;
    bool done = false;
    qt_extras::PostToGuiThread([&] {
        Result r = fn();
        const DWORD e = GetLastError();
        std::lock_guard<std::mutex> hold(lock);
        result = r;
        error = e;
        done = true;
        answered.notify_one();
    });
    std::unique_lock<std::mutex> hold(lock);
    answered.wait(hold, [&] { return done; });
    SetLastError(error);
    return result;
}

// Shows, hides, minimises, maximises or restores w as a ShowWindow command says.
void applyShowCommand(QWidget* w, int cmdShow)
{
    switch (cmdShow) {
    case SW_HIDE:
        w->hide();
        break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
        w->showNormal();
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
        w->showMinimized();
        break;
    case SW_SHOWMAXIMIZED:
        w->showMaximized();
        break;
    default:
        w->show();
        break;
    }
}

// Moves and sizes w as GetWindowRect measures it.
void placeWindow(QWidget* w, int x, int y, int cx, int cy, UINT flags)
{
    if (!(flags & SWP_NOSIZE)) {
        int frameWidth = 0, frameHeight = 0;
        if (w->isWindow()) {
            frameWidth = w->frameGeometry().width() - w->width();
            frameHeight = w->frameGeometry().height() - w->height();
        }
        w->resize(qMax(0, cx - frameWidth), qMax(0, cy - frameHeight));
    }
    if (!(flags & SWP_NOMOVE))
        w->move(x, y); // a window's position is its frame's
    if (flags & SWP_SHOWWINDOW)
        w->show();
    else if (flags & SWP_HIDEWINDOW)
        w->hide();
}

} // namespace

HWND GetAncestor(HWND hwnd, UINT flags)
{
    return onGuiThread([=]() -> HWND {
        QWidget* w = widgetOrError(hwnd);
        if (!w)
            return 0;
        if (flags != GA_ROOT) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        return static_cast<HWND>(w->window()->effectiveWinId());
    });
}

BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* placement)
{
    if (!placement) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const WINDOWPLACEMENT p = *placement;
    return onGuiThread([=]() -> BOOL {
        QWidget* w = widgetOrError(hwnd);
        if (!w)
            return FALSE;
        const RECT& r = p.rcNormalPosition;
        const QRect normal(r.left, r.top, r.right - r.left, r.bottom - r.top);
        if (!w->isWindow()) {
            w->setGeometry(normal);
            return TRUE;
        }
        // The normal rectangle is set while the window is in its normal state, then the state is applied.
        if (w->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))
            w->setWindowState(w->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
        w->setGeometry(normal);
        applyShowCommand(w, int(p.showCmd));
        return TRUE;
    });
}

BOOL SetWindowPos(HWND hwnd, HWND /*hwndInsertAfter*/, int x, int y, int cx, int cy, UINT flags)
{
    return onGuiThread([=]() -> BOOL {
        QWidget* w = widgetOrError(hwnd);
        if (!w)
            return FALSE;
        placeWindow(w, x, y, cx, cy, flags);
        return TRUE;
    });
}

BOOL ShowWindow(HWND hwnd, int cmdShow)
{
    return onGuiThread([=]() -> BOOL {
        QWidget* w = widgetOrError(hwnd);
        if (!w)
            return FALSE;
        const BOOL wasVisible = w->isVisible() ? TRUE : FALSE;
        applyShowCommand(w, cmdShow);
        return wasVisible;
    });
}

HDWP BeginDeferWindowPos(int numWindows)
{
    if (numWindows < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HDWP list = new HDWP__;
    list->moves.reserve(size_t(numWindows));
    return list;
}

HDWP DeferWindowPos(HDWP hWinPosInfo, HWND hwnd, HWND /*hwndInsertAfter*/, int x, int y, int cx, int cy, UINT flags)
{
    if (!hWinPosInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!onGuiThread([=] { return widgetOrError(hwnd) != nullptr; })) {
        delete hWinPosInfo;
        return nullptr;
    }
    hWinPosInfo->moves.push_back({hwnd, x, y, cx, cy, flags});
    return hWinPosInfo;
}

BOOL EndDeferWindowPos(HDWP hWinPosInfo)
{
    if (!hWinPosInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::vector<HDWP__::Move> moves = std::move(hWinPosInfo->moves);
    delete hWinPosInfo;
    return onGuiThread([&]() -> BOOL {
        BOOL all = TRUE;
        for (const HDWP__::Move& m : moves) {
            if (QWidget* w = widgetOrError(m.hwnd))
                placeWindow(w, m.x, m.y, m.cx, m.cy, m.flags);
            else
                all = FALSE;
        }
        return all;
    });
}

BOOL GetCursorPos(LPPOINT point)
{
    if (!point) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const QPoint position = win32_internal::cursorPosition();
    *point = POINT{position.x(), position.y()};
    return TRUE;
}
