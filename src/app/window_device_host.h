// The main window and the application as the device code finds them: its look-up (device list,
// page files, macro output, input devices) and the capture loop's host.
#pragma once

#include "devices/device_filter.h"

#include <memory>

class Window;

// The capture loop's host of window (the main window when null) and the application, as they
// are when it is made.
std::shared_ptr<DEVICE_FILTER::Host> windowHost(Window* window = nullptr);

// Registers the look-up that resolves the main window and the application at each call, and
// windowHost() as the host of a filter made without one. The program calls it once, during
// static initialisation, before any device binding exists.
void registerWindowDeviceHost();
