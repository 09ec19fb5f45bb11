// Window procedures of windows the program subclasses, the non-client messages such windows pass
// on, and bringing a window to the front.
#pragma once

#include "win32/base.h"

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#define GWLP_WNDPROC (-4)

// Pointer messages of the non-client area.
#define WM_NCPOINTERUPDATE 0x0241
#define WM_NCPOINTERDOWN 0x0242
#define WM_NCPOINTERUP 0x0243

// The high word of wParam of the X-button messages.
#define XBUTTON1 0x0001
#define XBUTTON2 0x0002

// SetWindowPos: the owner's place in the z-order is kept.
#define SWP_NOOWNERZORDER 0x0200

// GWLP_WNDPROC: replaces the window's procedure and answers the one it had (the toolkit's own
// procedure, which hands messages to the native event filters and the window's native event
// handler, until the window is subclassed). From then on SendMessageW and the messages made from
// the toolkit's events reach the new procedure directly. Other indices: 0 and
// ERROR_INVALID_PARAMETER. A procedure stays with its window until the window is destroyed.
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR newLong);
// GWLP_WNDPROC: the window's procedure; other indices as GetWindowLongW.
LONG_PTR GetWindowLongPtrW(HWND hwnd, int index);
LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

