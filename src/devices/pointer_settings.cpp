// Windows pointer settings set from the pages' numbers.
#include "devices/devices_handler.h"

#include <windows.h>

#include <cstdint>

bool devices_handler::setMouseSpeed(int n)
{
    // Held for each n from 0 to 9 and passed where SPI_SETMOUSESPEED does not read; n is the speed.
    static const UINT speeds[10] = {6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const UINT unread = (n >= 0 && n < 10) ? speeds[n] : 0;
    return SystemParametersInfoW(SPI_SETMOUSESPEED, unread, reinterpret_cast<PVOID>(static_cast<intptr_t>(n)),
                                 SPIF_UPDATEINIFILE) != FALSE;
}

bool devices_handler::setMouseAcceleration(int n)
{
    static const int rows[4][3] = {{0, 0, 0}, {7, 0, 1}, {4, 6, 2}, {4, 0, 1}};
    if (n < 0 || n > 3)
        return false;
    int row[3] = {rows[n][0], rows[n][1], rows[n][2]};
    return SystemParametersInfoW(SPI_SETMOUSE, 0, row, SPIF_UPDATEINIFILE) != FALSE;
}

bool devices_handler::setWheelScrollLines(int n)
{
    return SystemParametersInfoW(SPI_SETWHEELSCROLLLINES, UINT(n), nullptr, SPIF_UPDATEINIFILE) != FALSE;
}

bool devices_handler::setWheelScrollChars(int n)
{
    return SystemParametersInfoW(SPI_SETWHEELSCROLLCHARS, UINT(n), nullptr, SPIF_UPDATEINIFILE) != FALSE;
}

bool devices_handler::setDoubleClickTime(int n)
{
    if (n < 0 || n >= 12)
        return false;
    return SetDoubleClickTime(UINT(970 - 70 * n)) != FALSE;
}

bool devices_handler::swapMouseButtons(bool flag) { return SwapMouseButton(flag ? TRUE : FALSE) != FALSE; }

bool devices_handler::setMouseTrails(int n)
{
    return SystemParametersInfoW(SPI_SETMOUSETRAILS, UINT(n), nullptr, SPIF_UPDATEINIFILE) != FALSE;
}
