#include "windows.h"
#include "win32sim/input_injection.h"

#include "cursor.h"
#include "gui_post.h"
#include "top_levels.h"

#include <deque>
#include <mutex>

namespace {

const size_t kLogSize = 10000;

std::mutex g_logLock;
std::deque<win32sim::SentMessage> g_posted;

} // namespace

BOOL SetCursorPos(int X, int Y)
{
    win32_internal::moveCursor(POINT{LONG(X), LONG(Y)});
    return TRUE;
}

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!win32_internal::isTopLevelWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // Posted and logged under one lock, so that the log keeps the order of delivery.
    std::lock_guard<std::mutex> lock(g_logLock);
    if (!win32_internal::postToGuiThread(
            [=] { win32sim::dispatchQueuedMessage(hwnd, msg, wParam, lParam); })) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    g_posted.push_back({hwnd, msg, wParam, lParam});
    if (g_posted.size() > kLogSize)
        g_posted.pop_front();
    return TRUE;
}

std::vector<win32sim::SentMessage> win32sim::postedMessages()
{
    std::lock_guard<std::mutex> lock(g_logLock);
    return std::vector<SentMessage>(g_posted.begin(), g_posted.end());
}

void win32sim::clearPostedMessages()
{
    std::lock_guard<std::mutex> lock(g_logLock);
    g_posted.clear();
}
