// Input made by the program itself: the cursor moved, the window under a point, characters posted
// to a window's message queue. Safe on any thread; none of them waits for the GUI thread.
#pragma once

#include "win32/base.h"

#define WM_CHAR 0x0102

#define ERROR_INVALID_WINDOW_HANDLE 1400L

// Moves the cursor: GetCursorPos reports the new position at once on every thread, and the
// windowing system's pointer follows on the GUI thread.
BOOL SetCursorPos(int X, int Y);
// The visible top-level window at the point on the screen, the most recently shown or activated
// one where several overlap; NULL over none.
HWND WindowFromPoint(POINT point);
// Queues the message for a top-level window: it reaches the application's native event filters and
// the window's native event handler in a later turn of the GUI thread's event loop, after the
// messages posted before it. FALSE with ERROR_INVALID_WINDOW_HANDLE for a handle that names no
// top-level window.
BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
