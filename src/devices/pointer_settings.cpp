// Windows pointer settings set from the pages' numbers.
#include "devices/devices_handler.h"
#include "devices/failure_reason.h"

#include <windows.h>

#include <cstdint>

namespace {

bool outOfRange(QString* why, int n, int last)
{
    return failBecause(why, QStringLiteral("the value %1 is out of range (0 to %2)").arg(n).arg(last));
}

// The system's answer to a setting: false, with the reason, when it refused.
bool taken(BOOL answer, QString* why)
{
    return answer != FALSE || failBecause(why, QStringLiteral("the system refused the setting"));
}

} // namespace

bool devices_handler::setMouseSpeed(int n, QString* why)
{
    // Held for each n from 0 to 9 and passed where SPI_SETMOUSESPEED does not read; n is the speed.
    static const UINT speeds[10] = {6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const UINT unread = (n >= 0 && n < 10) ? speeds[n] : 0;
    return taken(SystemParametersInfoW(SPI_SETMOUSESPEED, unread, reinterpret_cast<PVOID>(static_cast<intptr_t>(n)),
                                       SPIF_UPDATEINIFILE),
                 why);
}

bool devices_handler::setMouseAcceleration(int n, QString* why)
{
    static const int rows[4][3] = {{0, 0, 0}, {7, 0, 1}, {4, 6, 2}, {4, 0, 1}};
    if (n < 0 || n > 3)
        return outOfRange(why, n, 3);
    int row[3] = {rows[n][0], rows[n][1], rows[n][2]};
    return taken(SystemParametersInfoW(SPI_SETMOUSE, 0, row, SPIF_UPDATEINIFILE), why);
}

bool devices_handler::setWheelScrollLines(int n, QString* why)
{
    return taken(SystemParametersInfoW(SPI_SETWHEELSCROLLLINES, UINT(n), nullptr, SPIF_UPDATEINIFILE), why);
}

bool devices_handler::setWheelScrollChars(int n, QString* why)
{
    return taken(SystemParametersInfoW(SPI_SETWHEELSCROLLCHARS, UINT(n), nullptr, SPIF_UPDATEINIFILE), why);
}

bool devices_handler::setDoubleClickTime(int n, QString* why)
{
    if (n < 0 || n >= 12)
        return outOfRange(why, n, 11);
    return taken(SetDoubleClickTime(UINT(970 - 70 * n)), why);
}

bool devices_handler::swapMouseButtons(bool flag) { return SwapMouseButton(flag ? TRUE : FALSE) != FALSE; }

bool devices_handler::setMouseTrails(int n)
{
    return SystemParametersInfoW(SPI_SETMOUSETRAILS, UINT(n), nullptr, SPIF_UPDATEINIFILE) != FALSE;
}
