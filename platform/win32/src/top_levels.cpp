#include "windows.h"
#include "top_levels.h"

#include "window_lookup.h"

#include <QCoreApplication>

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

struct TopLevel {
    HWND hwnd;
    QRect frame;
    bool shown;
};

// Topmost first.
std::mutex g_lock;
std::vector<TopLevel> g_windows;

std::vector<TopLevel>::iterator find(HWND hwnd)
{
    return std::find_if(g_windows.begin(), g_windows.end(), [hwnd](const TopLevel& t) { return t.hwnd == hwnd; });
}

void forget(HWND hwnd)
{
    std::lock_guard<std::mutex> lock(g_lock);
    const auto it = find(hwnd);
    if (it != g_windows.end())
        g_windows.erase(it);
}

// Records w as it is now; on top when raised.
void note(QWidget* w, HWND hwnd, bool raised)
{
    const TopLevel now{hwnd, w->frameGeometry(), w->isVisible() && !w->isMinimized()};
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = find(hwnd);
    if (it == g_windows.end()) {
        g_windows.insert(g_windows.begin(), now);
        return;
    }
    *it = now;
    if (raised)
        std::rotate(g_windows.begin(), it, it + 1);
}

class TopLevelTracker : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* obj, QEvent* ev) override
    {
        const win32_internal::TopLevelEvent topLevel = win32_internal::topLevelEventOf(obj, ev);
        if (!topLevel.hwnd)
            return false;
        if (!topLevel.widget) {
            forget(topLevel.hwnd);
            return false;
        }
        switch (ev->type()) {
        case QEvent::Show:
        case QEvent::WindowActivate:
            note(topLevel.widget, topLevel.hwnd, true);
            break;
        case QEvent::Hide:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowStateChange:
            note(topLevel.widget, topLevel.hwnd, false);
            break;
        default:
            break;
        }
        return false;
    }
};

void installTracker()
{
    QCoreApplication* app = QCoreApplication::instance();
    app->installEventFilter(new TopLevelTracker(app));
}
Q_COREAPP_STARTUP_FUNCTION(installTracker)

} // namespace

bool win32_internal::isTopLevelWindow(HWND hwnd)
{
    std::lock_guard<std::mutex> lock(g_lock);
    return hwnd && find(hwnd) != g_windows.end();
}

HWND WindowFromPoint(POINT point)
{
    const QPoint p(int(point.x), int(point.y));
    std::lock_guard<std::mutex> lock(g_lock);
    for (const TopLevel& t : g_windows)
        if (t.shown && t.frame.contains(p))
            return t.hwnd;
    return 0;
}
