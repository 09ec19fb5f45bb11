// The current process and its priority class.
#pragma once

#include "win32/base.h"

#define NORMAL_PRIORITY_CLASS 0x00000020u
#define IDLE_PRIORITY_CLASS 0x00000040u
#define HIGH_PRIORITY_CLASS 0x00000080u
#define REALTIME_PRIORITY_CLASS 0x00000100u
#define BELOW_NORMAL_PRIORITY_CLASS 0x00004000u
#define ABOVE_NORMAL_PRIORITY_CLASS 0x00008000u

// The pseudo handle of the current process; it needs no closing.
HANDLE GetCurrentProcess();
// The simulated process's class (it starts NORMAL_PRIORITY_CLASS); the real scheduling is untouched.
// Another handle fails with ERROR_INVALID_HANDLE, an unknown class with ERROR_INVALID_PARAMETER.
BOOL SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass);
// 0 for another handle.
DWORD GetPriorityClass(HANDLE hProcess);
