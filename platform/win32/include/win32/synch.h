// Event objects and waiting for them.
#pragma once

#include "win32/base.h"

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

// A new event, unnamed (a name is refused with ERROR_INVALID_PARAMETER): a manual-reset event stays
// signalled until ResetEvent, an auto-reset one releases a single wait and is then reset. Closed
// with CloseHandle.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);

// Waits until one of the events is signalled (bWaitAll must be FALSE) and answers WAIT_OBJECT_0 plus
// the lowest index signalled, WAIT_TIMEOUT after dwMilliseconds (INFINITE: never), or WAIT_FAILED
// when a handle names no event or the count is 0 or above MAXIMUM_WAIT_OBJECTS.
DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
