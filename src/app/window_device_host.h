// The main window and the application as the device code finds them: the look-up of the device
// list, the page files, the macro output and the input devices.
#pragma once

// Registers the look-up that resolves the main window and the application at each call. The
// program calls it once, during static initialisation, before any device binding exists.
void registerWindowDeviceHost();
