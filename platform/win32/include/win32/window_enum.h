// Top-level window enumeration, window titles, and the foreground and focus windows.
//
// The windows are this process's own top-level widgets that have a native window; the windows of
// other processes are not seen. GUI thread only.
#pragma once

#include "win32/base.h"

typedef BOOL(CALLBACK* WNDENUMPROC)(HWND hwnd, LPARAM lParam);

// Calls proc for every top-level window, in no particular order, until it answers FALSE. Answers
// FALSE when proc stopped the enumeration, TRUE when every window was seen.
BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam);

// The id of the thread that owns the window (this process's GUI thread), and the process id in
// *processId when it is given; 0 for a handle that names no window.
DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId);

// Copies the window's title, at most maxCount - 1 characters and a terminating NUL; answers the
// number of characters copied (0 for no title, no window or no room).
int GetWindowTextW(HWND hwnd, LPWSTR text, int maxCount);

// Brings the window's top-level window to the front and activates it.
BOOL SetForegroundWindow(HWND hwnd);

// Gives the window the keyboard focus; answers the window that had it (NULL when none had it or
// the handle names no window).
HWND SetFocus(HWND hwnd);
