// Test controls of the device-interface notifications.
#pragma once

#include "windows.h"

#include <map>
#include <string>

namespace win32sim {

// A device event as the system's device manager reports it, by its properties: "ACTION" ("add",
// "remove", ...), "SUBSYSTEM", "DEVTYPE", "ID_VENDOR_ID" and "ID_MODEL_ID" (or "PRODUCT" as
// "vid/pid/rev", hexadecimal), "ID_SERIAL_SHORT", "DEVPATH". It takes the road of a real event:
// the windows registered for its interface class get their WM_DEVICECHANGE at once. Call it on
// the application's thread.
void injectDeviceEvent(const std::map<std::string, std::string>& properties);

// Registrations made and not yet unregistered.
int deviceNotificationCount();

// Whether the system's device manager is being watched (false where it cannot be reached).
bool deviceMonitorRunning();

} // namespace win32sim
