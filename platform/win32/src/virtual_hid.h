// The virtual HID device's driver: what it does with the reports written to its control
// collection and what its message collection answers (controls in win32sim/virtual_hid.h).
#pragma once

#include "windows.h"

namespace win32_internal {

// A report written to the control collection (WriteFile, or HidD_SetOutputReport when
// outputReport): logged, and decoded when the driver accepts it. FALSE with
// ERROR_INVALID_PARAMETER for a report it refuses.
BOOL virtualHidWrite(const BYTE* report, DWORD size, bool outputReport);
// A read of the message collection: the next message report, or FALSE with ERROR_NO_DATA.
BOOL virtualHidRead(BYTE* buffer, DWORD size, DWORD* done);

} // namespace win32_internal
