// Delivery of low-level input events to the hooks (input_hooks.cpp).
#pragma once

#include "windows.h"

namespace win32_internal {

// Passes a mouse or keyboard event to the WH_MOUSE_LL or WH_KEYBOARD_LL hooks: those of the calling
// thread at once, the others on their own threads. The answer of the calling thread's chain
// (non-zero: swallowed), 0 when it has no hook.
LRESULT deliverMouseEvent(UINT message, const MSLLHOOKSTRUCT& event);
LRESULT deliverKeyEvent(UINT message, const KBDLLHOOKSTRUCT& event);

// Milliseconds since the system started, as input events are stamped.
DWORD inputTime();

// Starts reading the real pointer when the application runs on an X11 desktop (x_pointer.cpp);
// does nothing otherwise, or once it runs.
void startRealPointer();
bool realPointerRunning();

} // namespace win32_internal
