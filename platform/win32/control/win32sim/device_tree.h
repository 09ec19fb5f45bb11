// Test controls of the simulated device tree, which the SetupAPI, the HID calls and the device
// objects opened with CreateFileA all read.
//
// The tree comes from the device-tree file that WIN32SIM_DEVICES names, or is the built-in tree
// (defaultDeviceTree()) when it is unset. A device-tree file is UTF-8 text: "#" starts a comment
// line, "[device]" starts a device node, and "Key=Value" lines describe it:
//   Class=<setup class>        Mouse, Keyboard, HIDClass, USB, System, or a GUID "{...}"
//   InstanceId=<id>            e.g. HID\VID_1A2C&PID_0E24&MI_00\7&3B2A1C4D&0&0000
//   HardwareId=<id>            one line per hardware id, in order
//   Interface=<class>,<path>   a device interface: USB (USB device), HID, Mouse, Keyboard or a GUID
//   HidAttributes=<vendor>,<product>,<version>
//   HidCaps=<usage page>,<usage>,<input length>,<output length>,<feature length>
//                              numbers decimal or 0x-hexadecimal; HidAttributes makes the node a
//                              HID collection, whose first HID interface opens it
//   Driver=VirtualHid          part of the virtual HID device (see virtual_hid.h)
//   Quirk=UnreadableInstanceId | UnterminatedHardwareId | GrowingHardwareId
//                              the instance id cannot be read; the hardware-id multi-string comes
//                              without its terminators; every hardware-id read asks for a larger
//                              buffer than it was given
// Lines that cannot be read are reported on standard error and skipped. Nodes are listed in the
// order of the file; every node is present.
#pragma once

#include "windows.h"

#include <QString>

namespace win32sim {

// The built-in tree: the mouse 1A2C:0E24 and the keyboard 1A2C:0E30 on USB (each a USB device with
// its interfaces MI_00, the input collection, and MI_01, the vendor collection the simulated
// vendor library names), a game controller of another maker, and the virtual HID device.
QString defaultDeviceTree();

// A large tree for measures: hidCollections HID collections of one device ("HID\VID_1111&PID_2222&MI_01\<n>"),
// then usbMice mice on USB, each of its own product id ("USB\VID_3333&PID_<n in 4 hex digits>\M").
QString generatedDeviceTree(int hidCollections, int usbMice);

// Replaces the tree with the nodes of a device-tree text; returns the number of nodes.
int loadDeviceTree(const QString& text);
// Appends the nodes of a device-tree text; returns the number of nodes in the tree.
int addDevices(const QString& text);
// Removes the nodes with that instance id (letter case ignored); returns how many.
int removeDevice(const QString& instanceId);
// Back to the tree of WIN32SIM_DEVICES or the built-in one, with every failure asked for
// (faults.h) and every mode of the controls below cleared, the virtual HID device's log and
// state emptied and the filter driver cleared (filter_driver.h).
void resetDeviceTree();

// Without the virtual HID device's driver its nodes are not in the tree; handles open on them
// fail with ERROR_DEVICE_NOT_CONNECTED.
void setVirtualHidInstalled(bool installed);

// The next SetupDiGetDeviceInterfaceDetail size query (W or A) reports size as the size needed.
void misreportNextDetailSize(DWORD size);

// Preparsed data given out and not yet freed, and frees of pointers that were not given out.
int livePreparsedData();
int invalidPreparsedDataFrees();

} // namespace win32sim
