// Test controls of the simulated pointer settings of the session.
#pragma once

#include "win32/base.h"

struct Win32PointerSettings {
    int mouse[3];      // first threshold, second threshold, acceleration
    int speed;         // 1 to 20
    UINT wheelLines;   // WHEEL_PAGESCROLL for page scrolling
    UINT wheelChars;
    int trails;
    UINT doubleClickTime;
    BOOL buttonsSwapped;
    int setCalls;      // successful changes since the last reset
    UINT lastWinIni;   // update flags of the last SystemParametersInfoW call
};

// Back to Windows' defaults: mouse {6, 10, 1}, speed 10, 3 wheel lines, 3 wheel characters,
// no trails, 500 ms double click, buttons not swapped.
void win32sim_resetPointerSettings();
Win32PointerSettings win32sim_pointerSettings();
// The next SystemParametersInfoW call with this action fails (FALSE, nothing read or written).
void win32sim_failNextPointerCall(UINT uiAction);
