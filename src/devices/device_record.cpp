#include "devices/device_record.h"

#include "devices/device_host.h"

#include <QDebug>
#include <QMap>
#include <QSet>
#include <QString>

namespace {

// Used on the thread that installs the hooks.
bool g_active = false;
HHOOK g_keyboardHook = nullptr;
HHOOK g_mouseHook = nullptr;
pvmulti_client g_vmulti = nullptr;
// Virtual-key code as a decimal text -> mode; the keys recorded as pressed; presses counted per key.
QMap<QString, int> g_watchedKeys;
QSet<QString> g_pressedKeys;
QMap<QString, int> g_pressCounts;
bool g_recording = false;

void stopOutput()
{
    if (DeviceLookup* lookup = deviceLookup())
        lookup->stopMacroOutput();
}

} // namespace

bool Device_Record::installHooks()
{
    if (g_active)
        removeHooks();
    HMODULE module = GetModuleHandleW(nullptr);
    g_keyboardHook = SetWindowsHookExW(WH_KEYBOARD_LL, &Device_Record::keyboardHookProc, module, 0);
    if (!g_keyboardHook)
        return false;
    g_mouseHook = SetWindowsHookExW(WH_MOUSE_LL, &Device_Record::mouseHookProc, module, 0);
    if (!g_mouseHook) {
        UnhookWindowsHookEx(g_keyboardHook);
        g_keyboardHook = nullptr;
        return false;
    }
    g_active = true;
    return true;
}

void Device_Record::removeHooks()
{
    if (g_keyboardHook)
        UnhookWindowsHookEx(g_keyboardHook);
    if (g_mouseHook)
        UnhookWindowsHookEx(g_mouseHook);
    g_keyboardHook = nullptr;
    g_mouseHook = nullptr;
    g_active = false;
}

LRESULT CALLBACK Device_Record::keyboardHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code >= 0 && g_vmulti && lParam) {
        const QString key = QString::number(reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam)->vkCode);
        const auto watched = g_watchedKeys.constFind(key);
        if (watched != g_watchedKeys.constEnd()) {
            if (wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN) {
                if (watched.value() == 1 && ++g_pressCounts[key] % 2 == 0)
                    stopOutput();
                g_pressedKeys.insert(key);
                return 1;
            }
            if ((wParam == WM_KEYUP || wParam == WM_SYSKEYUP) && watched.value() == 2 && g_pressedKeys.remove(key))
                stopOutput();
        }
    }
    return CallNextHookEx(g_keyboardHook, code, wParam, lParam);
}

LRESULT CALLBACK Device_Record::mouseHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(g_mouseHook, code, wParam, lParam);
}

void Device_Record::clearWatchedKeys()
{
    g_watchedKeys.clear();
    g_pressCounts.clear();
    g_pressedKeys.clear();
}

void Device_Record::createVMulti()
{
    if (g_vmulti)
        return;
    g_vmulti = vmulti_alloc();
    if (g_vmulti && !vmulti_connect(g_vmulti)) {
        vmulti_free(g_vmulti);
        g_vmulti = nullptr;
    }
}

void Device_Record::freeVMulti()
{
    if (!g_vmulti)
        return;
    vmulti_disconnect(g_vmulti);
    vmulti_free(g_vmulti);
    g_vmulti = nullptr;
}

void Device_Record::setRecording(bool recording) { g_recording = recording; }

void device_thread::slot_device() { qDebug() << "d_devicethread"; }
