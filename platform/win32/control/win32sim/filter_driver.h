// Test controls of the simulated keyboard and mouse filter driver.
//
// The driver has twenty device objects, "\\.\interception00" to "\\.\interception19": devices 1 to
// 10 are the tree's keyboards (setup class Keyboard, in the tree's order), 11 to 20 its mice (class
// Mouse); a device without such a node has no hardware id and takes no strokes. Every request is a
// METHOD_BUFFERED control of device type 0x22 on a handle of the device object:
//   0x222004 set precedence  in: int32                 0x222008 get precedence  out: int32
//   0x222010 set filter      in: u16                   0x222020 get filter      out: u16
//   0x222040 set event       in: the event handle as u32, then a zero u32 (8 bytes); handle 0 clears it
//   0x222080 write strokes   in: whole records; each goes up the input stack as the device's own
//                            (the delivered list); returned: the bytes of the records taken
//   0x222100 read strokes    out: as many whole queued records as fit, which leave the queue
//   0x222200 get hardware id out: the node's hardware ids, UTF-16, each ended by a zero, then a
//                            zero; a short buffer gets what fits, unterminated
// Keyboards exchange 12-byte records {unit id, make code, flags (0x1 release, 0x2 E0), reserved,
// extra information}, mice 24-byte records {unit id, flags, button flags, button data, raw buttons,
// last x, last y, extra information}, little-endian.
//
// A stroke the device's filter accepts waits in its queue, and the device's event is signalled
// while any waits; the read that takes the last one clears it in the same step. Any other stroke
// goes straight up the stack (the delivered list). A mouse filter accepts a stroke sharing a button
// flag with it (0x001-0x200 the five buttons' presses and releases, 0x400 wheel, 0x800 horizontal
// wheel), and one without button flags when it has 0x1000 (movement); a keyboard filter takes
// presses with 0x1 and releases with 0x2. Closing the handle that set a device's event clears its
// filter and event and lets its waiting strokes go up the stack.
//
// The virtual HID device's relative-mouse reports come back as strokes of its mouse node (a change
// of buttons as their press and release flags, a wheel step as 0x400 with the step times 120).
#pragma once

#include "windows.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace win32sim {

struct FilterKeyRecord {
    uint16_t unitId = 0;
    uint16_t makeCode = 0;
    uint16_t flags = 0;
    uint16_t reserved = 0;
    uint32_t extraInformation = 0;
};

struct FilterMouseRecord {
    uint16_t unitId = 0;
    uint16_t flags = 0;
    uint16_t buttonFlags = 0;
    uint16_t buttonData = 0;
    uint32_t rawButtons = 0;
    int32_t lastX = 0;
    int32_t lastY = 0;
    uint32_t extraInformation = 0;
};

bool operator==(const FilterKeyRecord& a, const FilterKeyRecord& b);
bool operator==(const FilterMouseRecord& a, const FilterMouseRecord& b);

// Without the driver no device object opens (ERROR_FILE_NOT_FOUND).
void setFilterDriverInstalled(bool installed);

struct FilterDevice {
    int device;
    QString instanceId;
    QStringList hardwareIds;
};
// The devices that have a node, by number.
std::vector<FilterDevice> filterDevices();
// The number of the device with that instance id (letter case ignored), or 0.
int filterDeviceOf(const QString& instanceId);

enum class StrokeRoute {
    Queued,    // its filter took it: it waits for a read
    Delivered, // straight up the stack
    NoDevice,  // no such device: nothing happened
};
// A stroke the device produces.
StrokeRoute injectKeyStroke(int device, const FilterKeyRecord& record);
StrokeRoute injectMouseStroke(int device, const FilterMouseRecord& record);

// What went up the input stack, in order: strokes no filter took, and records written by clients.
struct DeliveredStroke {
    int device;
    bool written; // by a client's write request
    FilterKeyRecord key;     // keyboards
    FilterMouseRecord mouse; // mice
};
std::vector<DeliveredStroke> deliveredStrokes();

uint16_t filterOf(int device);
int precedenceOf(int device);
int queuedStrokes(int device);
// Whether the device has an event set by a request.
bool hasEvent(int device);

// Installed, every device without filter, precedence, event or queued strokes, the delivered list
// empty (resetDeviceTree() does this too).
void clearFilterDriver();

} // namespace win32sim
