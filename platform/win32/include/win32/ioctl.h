// Device I/O control requests on device handles.
#pragma once

#include "win32/base.h"

#define METHOD_BUFFERED 0
#define FILE_ANY_ACCESS 0
#define CTL_CODE(DeviceType, Function, Method, Access) \
    ((static_cast<DWORD>(DeviceType) << 16) | (static_cast<DWORD>(Access) << 14) | (static_cast<DWORD>(Function) << 2) \
     | static_cast<DWORD>(Method))

// Sends a control request to the device the handle names (lpOverlapped must be null); what a
// device answers is its own (see the control headers). *lpBytesReturned is set to the bytes
// written to the output buffer, 0 on failure.
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped);
