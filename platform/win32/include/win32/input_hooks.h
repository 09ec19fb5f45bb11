// Low-level keyboard and mouse hooks, the input messages they see, and the program's module handle.
//
// A hook procedure is called on the thread that installed it, through that thread's event loop,
// for every mouse or keyboard event of the session, newest hook first; each procedure passes the
// event on with CallNextHookEx. An event raised on the installing thread reaches its hooks at once.
// Mouse events come from the test controls (win32sim/input_hooks.h) and, on an X11 desktop, from
// the real pointer's buttons and wheel anywhere on the screen (read without grabbing them, so the
// hooks cannot swallow them there). A mouse event's position is where the cursor then is
// (GetCursorPos).
#pragma once

#include "win32/base.h"

#define WH_KEYBOARD_LL 13
#define WH_MOUSE_LL 14

#define HC_ACTION 0

#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_MBUTTONDOWN 0x0207
#define WM_MBUTTONUP 0x0208
#define WM_MOUSEWHEEL 0x020A
#define WM_XBUTTONDOWN 0x020B
#define WM_XBUTTONUP 0x020C
#define WM_MOUSEHWHEEL 0x020E

#define WHEEL_DELTA 120
#define XBUTTON1 0x0001
#define XBUTTON2 0x0002

// KBDLLHOOKSTRUCT::flags
#define LLKHF_EXTENDED 0x00000001
#define LLKHF_INJECTED 0x00000010
#define LLKHF_ALTDOWN 0x00000020
#define LLKHF_UP 0x00000080
// MSLLHOOKSTRUCT::flags
#define LLMHF_INJECTED 0x00000001

#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_INVALID_HOOK_HANDLE 1404L
#define ERROR_INVALID_HOOK_FILTER 1426L
#define ERROR_INVALID_FILTER_PROC 1427L
#define ERROR_HOOK_NEEDS_HMOD 1428L
#define ERROR_GLOBAL_ONLY_HOOK 1429L

struct HHOOK__;
typedef HHOOK__* HHOOK;
typedef LRESULT(CALLBACK* HOOKPROC)(int code, WPARAM wParam, LPARAM lParam);

// lParam of a WH_MOUSE_LL procedure; mouseData holds the wheel delta or the X button in its high
// word.
typedef struct tagMSLLHOOKSTRUCT {
    POINT pt;
    DWORD mouseData;
    DWORD flags;
    DWORD time;
    ULONG_PTR dwExtraInfo;
} MSLLHOOKSTRUCT, *LPMSLLHOOKSTRUCT, *PMSLLHOOKSTRUCT;

// lParam of a WH_KEYBOARD_LL procedure.
typedef struct tagKBDLLHOOKSTRUCT {
    DWORD vkCode;
    DWORD scanCode;
    DWORD flags;
    DWORD time;
    ULONG_PTR dwExtraInfo;
} KBDLLHOOKSTRUCT, *LPKBDLLHOOKSTRUCT, *PKBDLLHOOKSTRUCT;

// The program's own module for null; other names are not known (ERROR_MOD_NOT_FOUND).
HMODULE GetModuleHandleW(LPCWSTR moduleName);

// WH_KEYBOARD_LL or WH_MOUSE_LL for every thread (threadId 0) with the program's module; the
// procedure is called on the calling thread. Null with the error code otherwise.
HHOOK SetWindowsHookExW(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId);
// Calls the next procedure of the chain the current event is passing through; 0 past the last
// one, or outside a hook procedure.
LRESULT CallNextHookEx(HHOOK hhk, int nCode, WPARAM wParam, LPARAM lParam);
// FALSE with ERROR_INVALID_HOOK_HANDLE for a hook already removed, or any other handle.
BOOL UnhookWindowsHookEx(HHOOK hhk);
