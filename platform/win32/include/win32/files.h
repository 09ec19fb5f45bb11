// Files and device handles: opening the simulated devices by path, reading, writing and closing.
//
// Every handle the layer gives out (files and devices, device information sets, hooks, ...) comes
// from one table of small integers: multiples of 4 below 2^32, never given out twice in a process,
// so that a handle still fits the 4 bytes some driver records keep of it and a stale handle names
// nothing. A call with a handle that is not open, or of another kind, fails with
// ERROR_INVALID_HANDLE.
#pragma once

#include "win32/base.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_FLAG_OVERLAPPED 0x40000000

#define ERROR_INVALID_FUNCTION 1L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_NO_DATA 232L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_NO_SYSTEM_RESOURCES 1450L

// Opens a device by its path (a device interface path as the SetupAPI lists it, letter case
// ignored) with OPEN_EXISTING; the share mode is not checked. Keyboards and mice open only without
// read and write access (ERROR_ACCESS_DENIED), as the system holds them. The filter driver's
// device objects "\\.\interception00" to "19" open while the driver is installed (see
// win32sim/filter_driver.h). Other paths, and other creation dispositions, fail with
// ERROR_FILE_NOT_FOUND.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);

// Synchronous reads and writes (lpOverlapped must be null); what a device does with them is the
// device's own (see the control headers).
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);

// Closes a file or device handle; other kinds of handle have their own release calls.
BOOL CloseHandle(HANDLE hObject);
