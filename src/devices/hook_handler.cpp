#include "devices/hook_handler.h"

#include "devices/device_host.h"

#include <QMap>
#include <QMutex>
#include <QTime>

namespace {

// The recorder's state, used on the GUI thread (where the hook runs); the lock keeps a stop from
// another thread whole.
QMutex g_lock;
bool g_active = false;
HHOOK g_mouseHook = nullptr;
QString g_recorded;
int g_lastTime = 0;
bool g_first = false;
QMap<DWORD, bool> g_pressedKeys;

int msecsSinceMidnight() { return QTime::currentTime().msecsSinceStartOfDay(); }

void sendMacroItem(const QString& a, const QString& b, const QString& c, const QString& d)
{
    if (DeviceEventSink* sink = deviceEventSink())
        sink->macroItem(a, b, c, d);
}

} // namespace

bool hook_handler::startMouseTracks()
{
    if (g_active)
        stopMouseTracks();
    HHOOK hook = SetWindowsHookExW(WH_MOUSE_LL, &hook_handler::mouseTracksProc, GetModuleHandleW(nullptr), 0);
    if (!hook)
        return false;
    QMutexLocker lock(&g_lock);
    g_mouseHook = hook;
    g_recorded.clear();
    g_lastTime = msecsSinceMidnight();
    g_first = true;
    g_active = true;
    return true;
}

QString hook_handler::stopMouseTracks()
{
    QMutexLocker lock(&g_lock);
    if (g_mouseHook)
        UnhookWindowsHookEx(g_mouseHook);
    g_mouseHook = nullptr;
    g_active = false;
    return g_recorded;
}

LRESULT CALLBACK hook_handler::mouseTracksProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code >= 0 && wParam == WM_LBUTTONUP) {
        POINT pt{0, 0};
        GetCursorPos(&pt);
        QMutexLocker lock(&g_lock);
        g_lastTime = msecsSinceMidnight();
        g_recorded += QStringLiteral("x:%1,y:%2Time:%3;").arg(pt.x).arg(pt.y).arg(g_lastTime);
    }
    return CallNextHookEx(g_mouseHook, code, wParam, lParam);
}

LRESULT CALLBACK hook_handler::keyTracksProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code >= 0 && lParam) {
        const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        const QString scan = QString::number(key->scanCode);
        const QString ext = QString::number(key->flags & LLKHF_EXTENDED);
        QMutexLocker lock(&g_lock);
        const int now = msecsSinceMidnight();
        if ((wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN) && !g_pressedKeys.contains(key->scanCode)) {
            if (!g_first)
                sendMacroItem(QStringLiteral("2"), QString::number(now - g_lastTime), QStringLiteral("0"),
                              QStringLiteral("0"));
            g_first = false;
            g_lastTime = now;
            sendMacroItem(QStringLiteral("0"), QStringLiteral("1"), scan, ext);
            g_pressedKeys.insert(key->scanCode, true);
        } else if (wParam == WM_KEYUP || wParam == WM_SYSKEYUP) {
            sendMacroItem(QStringLiteral("2"), QString::number(now - g_lastTime), QStringLiteral("0"),
                          QStringLiteral("0"));
            g_lastTime = now;
            sendMacroItem(QStringLiteral("0"), QStringLiteral("0"), scan, ext);
            g_pressedKeys.remove(key->scanCode);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
