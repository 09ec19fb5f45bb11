#include "windows.h"
#include "win32sim/pointer.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

Win32PointerSettings defaults()
{
    Win32PointerSettings s;
    s.mouse[0] = 6;
    s.mouse[1] = 10;
    s.mouse[2] = 1;
    s.speed = 10;
    s.wheelLines = 3;
    s.wheelChars = 3;
    s.trails = 0;
    s.doubleClickTime = 500;
    s.buttonsSwapped = FALSE;
    s.setCalls = 0;
    s.lastWinIni = 0;
    return s;
}

struct Session {
    std::mutex lock;
    Win32PointerSettings settings = defaults();
    std::vector<UINT> failing;
};

Session& session()
{
    static Session s;
    return s;
}

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

} // namespace

BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni)
{
    Session& s = session();
    std::lock_guard<std::mutex> g(s.lock);
    s.settings.lastWinIni = fWinIni;
    for (auto it = s.failing.begin(); it != s.failing.end(); ++it) {
        if (*it == uiAction) {
            s.failing.erase(it);
            return fail(ERROR_INVALID_PARAMETER);
        }
    }
    Win32PointerSettings& p = s.settings;
    switch (uiAction) {
    case SPI_GETMOUSE:
        if (!pvParam)
            return fail(ERROR_INVALID_PARAMETER);
        std::memcpy(pvParam, p.mouse, sizeof p.mouse);
        return TRUE;
    case SPI_SETMOUSE: {
        if (!pvParam)
            return fail(ERROR_INVALID_PARAMETER);
        int values[3];
        std::memcpy(values, pvParam, sizeof values);
        if (values[2] < 0 || values[2] > 2 || values[0] < 0 || values[1] < 0)
            return fail(ERROR_INVALID_PARAMETER);
        std::memcpy(p.mouse, values, sizeof values);
        break;
    }
    case SPI_SETMOUSETRAILS:
        p.trails = int(uiParam);
        break;
    case SPI_GETMOUSETRAILS:
        if (!pvParam)
            return fail(ERROR_INVALID_PARAMETER);
        *static_cast<int*>(pvParam) = p.trails;
        return TRUE;
    case SPI_GETWHEELSCROLLLINES:
        if (!pvParam)
            return fail(ERROR_INVALID_PARAMETER);
        *static_cast<UINT*>(pvParam) = p.wheelLines;
        return TRUE;
    case SPI_SETWHEELSCROLLLINES:
        p.wheelLines = uiParam;
        break;
    case SPI_GETWHEELSCROLLCHARS:
        if (!pvParam)
            return fail(ERROR_INVALID_PARAMETER);
        *static_cast<UINT*>(pvParam) = p.wheelChars;
        return TRUE;
    case SPI_SETWHEELSCROLLCHARS:
        p.wheelChars = uiParam;
        break;
    case SPI_GETMOUSESPEED:
        if (!pvParam)
            return fail(ERROR_INVALID_PARAMETER);
        *static_cast<int*>(pvParam) = p.speed;
        return TRUE;
    case SPI_SETMOUSESPEED: {
        // The new speed is the pointer value itself; uiParam is not read.
        intptr_t speed = reinterpret_cast<intptr_t>(pvParam);
        if (speed < 1 || speed > 20)
            return fail(ERROR_INVALID_PARAMETER);
        p.speed = int(speed);
        break;
    }
    default:
        return fail(ERROR_INVALID_PARAMETER);
    }
    ++p.setCalls;
    return TRUE;
}

BOOL SetDoubleClickTime(UINT uInterval)
{
    Session& s = session();
    std::lock_guard<std::mutex> g(s.lock);
    // 0 restores the default; the system caps the time at 5000 ms.
    s.settings.doubleClickTime = uInterval == 0 ? 500 : (uInterval > 5000 ? 5000 : uInterval);
    ++s.settings.setCalls;
    return TRUE;
}

UINT GetDoubleClickTime()
{
    Session& s = session();
    std::lock_guard<std::mutex> g(s.lock);
    return s.settings.doubleClickTime;
}

BOOL SwapMouseButton(BOOL fSwap)
{
    Session& s = session();
    std::lock_guard<std::mutex> g(s.lock);
    // Non-zero when the buttons were swapped before the call.
    BOOL before = s.settings.buttonsSwapped;
    s.settings.buttonsSwapped = fSwap ? TRUE : FALSE;
    ++s.settings.setCalls;
    return before;
}

void win32sim_resetPointerSettings()
{
    Session& s = session();
    std::lock_guard<std::mutex> g(s.lock);
    s.settings = defaults();
    s.failing.clear();
}

Win32PointerSettings win32sim_pointerSettings()
{
    Session& s = session();
    std::lock_guard<std::mutex> g(s.lock);
    return s.settings;
}

void win32sim_failNextPointerCall(UINT uiAction)
{
    Session& s = session();
    std::lock_guard<std::mutex> g(s.lock);
    s.failing.push_back(uiAction);
}
