// Test controls of the simulated virtual HID device: the nodes marked Driver=VirtualHid in the
// device tree (device_tree.h), with HID attributes 001F:BA1C.
//
// Its control collection (usage page 0xFF00, usage 1) takes 65-byte control reports by WriteFile
// or HidD_SetOutputReport: byte 0 is 0x40, byte 1 the length of the embedded report counted from
// byte 2 (its id), byte 2 the id, then the report's fields, little-endian. The driver accepts
//   id 1 multi-touch, 22: two touch records (status, contact id, x u16, y u16, width u16,
//                         height u16), then the number of touches of the series (0 after its
//                         first report)
//   id 3 absolute mouse, 7: buttons, x u16, y u16, wheel
//   id 4 relative mouse, 5: buttons, dx s8, dy s8, wheel s8
//   id 5 digitizer, 6:      status, x u16, y u16
//   id 6 joystick, 9:       eight bytes
//   id 7 keyboard, 9:       modifier bits, a reserved byte, six key usages
//   id 0x10 message, 33:    32 bytes, which its message collection (usage 2) then answers on
//                           ReadFile as a 33-byte report (id 0x10, the bytes)
// and refuses any other report (the write fails with ERROR_INVALID_PARAMETER). Bytes after the
// embedded report are not read.
#pragma once

#include "windows.h"

#include <array>
#include <cstdint>
#include <vector>

namespace win32sim {

// Every report written to the control collection, in order, accepted or not (the latest 10000).
struct VirtualHidReport {
    std::vector<uint8_t> bytes;
    bool accepted;
    bool outputReport; // by HidD_SetOutputReport rather than WriteFile
};
std::vector<VirtualHidReport> virtualHidReports();

struct VirtualHidTouch {
    uint8_t status;
    uint8_t contactId;
    uint16_t x, y, width, height;
};

// What the accepted reports leave held, or add up to.
struct VirtualHidState {
    uint8_t modifiers = 0;                      // keyboard: modifier bits held
    std::array<uint8_t, 6> keys{};              // and key usages held
    uint8_t relativeButtons = 0;                // relative mouse: buttons held
    int relativeX = 0, relativeY = 0, wheel = 0; // its motion and wheel, added up
    uint8_t absoluteButtons = 0;                // absolute mouse
    uint16_t absoluteX = 0, absoluteY = 0;
    uint8_t absoluteWheel = 0;
    uint8_t digitizerStatus = 0;
    uint16_t digitizerX = 0, digitizerY = 0;
    int touchCount = 0;                         // touches announced by the latest series
    std::vector<VirtualHidTouch> touches;       // and its touch records, in order
    std::array<uint8_t, 8> joystick{};
};
VirtualHidState virtualHidState();

// Empties the log, the state and the message queue (resetDeviceTree() does too).
void clearVirtualHid();

} // namespace win32sim
