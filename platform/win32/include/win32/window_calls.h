// Window position, placement and visibility, deferred window positions and the cursor position.
//
// Each call acts on the Qt window that the handle names. On the GUI thread it acts at once; from
// another thread the call is carried out on the GUI thread and waits for it there, as a Win32 call
// on another thread's window does. GetCursorPos never waits (see there).
#pragma once

#include "win32/base.h"
#include "win32/window_info.h"

// GetAncestor
#define GA_ROOT 2

// ShowWindow commands beyond those of window_info.h
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9

// SetWindowPos flags
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080

struct HDWP__;
typedef HDWP__* HDWP;

// GA_ROOT: the top-level window that contains hwnd (hwnd itself for a top-level window). NULL for a
// handle that names no window or another flag.
HWND GetAncestor(HWND hwnd, UINT flags);

// The normal (restored) rectangle in the form GetWindowPlacement gives it, and the show state
// (SW_SHOWMINIMIZED, SW_MINIMIZE, SW_SHOWMAXIMIZED or a normal state).
BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* placement);
// Position (x, y) and size (cx, cy) as GetWindowRect measures them: the frame's for a top-level
// window, relative to the parent's client area for a child. The z-order is left as it is.
BOOL SetWindowPos(HWND hwnd, HWND hwndInsertAfter, int x, int y, int cx, int cy, UINT flags);
// Answers whether the window was visible before the call.
BOOL ShowWindow(HWND hwnd, int cmdShow);

// Collects moves for up to numWindows windows (it grows when more are added); EndDeferWindowPos
// carries them out in order and frees the list. A DeferWindowPos that fails frees the list and
// answers NULL.
HDWP BeginDeferWindowPos(int numWindows);
HDWP DeferWindowPos(HDWP hWinPosInfo, HWND hwnd, HWND hwndInsertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL EndDeferWindowPos(HDWP hWinPosInfo);

// The cursor's position on the screen, where it is at the moment of the call. Safe on any thread and
// never waits for the GUI thread.
BOOL GetCursorPos(LPPOINT point);
