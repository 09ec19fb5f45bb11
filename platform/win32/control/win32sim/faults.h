// Test controls that make calls of the layer fail.
#pragma once

#include "windows.h"

namespace win32sim {

// A call of the named function fails with error, doing nothing: the next one, or the one after
// callsBefore calls that still succeed. Supported:
// "SetupDiGetClassDevsW", "SetupDiGetClassDevsA", "SetupDiGetDeviceInstanceIdW",
// "SetupDiGetDeviceRegistryPropertyW", "SetupDiGetDeviceInterfaceDetailW",
// "SetupDiGetDeviceInterfaceDetailA", "CreateFileA", "ReadFile", "WriteFile",
// "HidD_GetAttributes", "HidD_GetPreparsedData", "HidP_GetCaps" (which answers
// HIDP_STATUS_INVALID_PREPARSED_DATA), "HidD_SetNumInputBuffers", "HidD_SetOutputReport",
// "SetWindowsHookExW".
void failNextCall(const char* function, DWORD error, int callsBefore = 0);
// Forgets every failure asked for.
void clearFaults();

} // namespace win32sim
