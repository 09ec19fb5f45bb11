// Pointer settings: mouse speed, acceleration, wheel scrolling, trails, double-click time and
// the primary button.
#pragma once

#include "win32/base.h"

#define SPI_GETMOUSE 0x0003
#define SPI_SETMOUSE 0x0004
#define SPI_SETMOUSETRAILS 0x005D
#define SPI_GETMOUSETRAILS 0x005E
#define SPI_GETWHEELSCROLLLINES 0x0068
#define SPI_SETWHEELSCROLLLINES 0x0069
#define SPI_GETWHEELSCROLLCHARS 0x006C
#define SPI_SETWHEELSCROLLCHARS 0x006D
#define SPI_GETMOUSESPEED 0x0070
#define SPI_SETMOUSESPEED 0x0071

#define SPIF_UPDATEINIFILE 0x0001
#define SPIF_SENDCHANGE 0x0002
#define SPIF_SENDWININICHANGE SPIF_SENDCHANGE

#define WHEEL_PAGESCROLL 0xFFFFFFFFu

BOOL SystemParametersInfoW(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni);
BOOL SetDoubleClickTime(UINT uInterval);
UINT GetDoubleClickTime();
BOOL SwapMouseButton(BOOL fSwap);
