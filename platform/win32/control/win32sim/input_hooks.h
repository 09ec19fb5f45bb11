// Test controls of the low-level input hooks: input events raised as the system's input stack
// raises them.
#pragma once

#include "windows.h"

namespace win32sim {

// A mouse event at pt: the cursor moves there (GetCursorPos reports it, and the windowing system's
// pointer follows on the GUI thread), then the WH_MOUSE_LL hooks see message with an
// MSLLHOOKSTRUCT of pt, mouseData (a wheel delta or XBUTTON1/XBUTTON2 in its high word), flags and
// the time. Hooks installed on the calling thread run before it returns, the others through their
// threads' event loops. True when a hook of the calling thread swallowed it.
bool injectMouseEvent(UINT message, POINT pt, DWORD mouseData = 0, DWORD flags = 0);
// A key event for the WH_KEYBOARD_LL hooks, delivered the same way.
bool injectKeyEvent(UINT message, DWORD vkCode, DWORD scanCode, DWORD flags = 0);

// Hooks of that kind installed now.
int installedHooks(int idHook);
// Whether the real pointer of an X11 desktop feeds the mouse hooks (it starts with the first mouse
// hook when the application runs on the xcb platform).
bool realPointerFeedRunning();

} // namespace win32sim
