// The simulated keyboard and mouse filter driver (controls and behaviour in
// win32sim/filter_driver.h).
#pragma once

#include "handle_table.h"

#include <QString>

namespace win32_internal {

// Whether CreateFileA's path names one of the driver's device objects.
bool isFilterDeviceName(const QString& path);
// A handle's object for that device object; null with the error code set.
std::shared_ptr<KernelObject> openFilterDevice(const QString& path);
// A report of the virtual HID device's relative mouse: the buttons it held before and holds now,
// and its wheel step.
void virtualMouseReport(uint8_t buttonsBefore, uint8_t buttons, int8_t wheel);

} // namespace win32_internal
